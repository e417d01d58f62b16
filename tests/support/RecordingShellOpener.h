#pragma once

#include <QList>
#include <QMutex>
#include <QUrl>

#include "ShellOpener.h"

// Stands in for the desktop while it lives: records every URL handed to it
// and answers with the result it was given.
class RecordingShellOpener : public ShellOpener
{
public:
    explicit RecordingShellOpener(bool result = true);
    ~RecordingShellOpener() override;

    QList<QUrl> urls() const;
    void setResult(bool result);

protected:
    bool openUrl(const QUrl &url) const override;

private:
    mutable QMutex m_mutex;
    mutable QList<QUrl> m_urls;
    bool m_result;
};
