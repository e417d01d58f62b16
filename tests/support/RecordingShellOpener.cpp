#include "RecordingShellOpener.h"

#include <QMutexLocker>

RecordingShellOpener::RecordingShellOpener(bool result)
    : m_result(result)
{
    setInstance(this);
}

RecordingShellOpener::~RecordingShellOpener()
{
    setInstance(nullptr);
}

QList<QUrl> RecordingShellOpener::urls() const
{
    QMutexLocker lock(&m_mutex);
    return m_urls;
}

void RecordingShellOpener::setResult(bool result)
{
    QMutexLocker lock(&m_mutex);
    m_result = result;
}

bool RecordingShellOpener::openUrl(const QUrl &url) const
{
    QMutexLocker lock(&m_mutex);
    m_urls.append(url);
    return m_result;
}
