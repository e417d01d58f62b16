#include "ExportSMSPdf.h"

#include <QCoreApplication>
#include <QImage>
#include <QPageSize>

#include <stdexcept>

int ExportSMSPdf::pageResolution()
{
    // A new image takes Qt's default resolution, the screen's; unlike the
    // screen itself it may be created on a worker thread.
    return QImage(1, 1, QImage::Format_Mono).logicalDpiX();
}

ExportSMSPdf::ExportSMSPdf(const QString &path)
    : m_file(path)
    , m_writer(&m_file)
{
    m_writer.setResolution(pageResolution());
    m_writer.setPageSize(QPageSize(QPageSize::A4));
    m_writer.setPageOrientation(QPageLayout::Portrait);
    m_writer.setPageMargins(QMarginsF(20, 20, 20, 20), QPageLayout::Point);
    if (m_file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        m_painter.begin(&m_writer);
}

ExportSMSPdf::~ExportSMSPdf()
{
    // The painter finishes the document into the file before either goes.
    if (m_painter.isActive())
        m_painter.end();
}

void ExportSMSPdf::fail() const
{
    QString text = m_file.errorString();
    if (m_file.error() == QFileDevice::NoError || text.isEmpty())
        text = QCoreApplication::translate("QObject", "Could not write %1.").arg(m_file.fileName());
    throw std::runtime_error(text.toUtf8().toStdString());
}

void ExportSMSPdf::begin()
{
    if (!m_painter.isActive() || m_file.error() != QFileDevice::NoError)
        fail();
}

void ExportSMSPdf::write(const _MsgMessage *message)
{
    m_painter.drawMessage(message);
    if (m_file.error() != QFileDevice::NoError)
        fail();
}

void ExportSMSPdf::end()
{
    if (!m_file.isOpen())
        fail();
    const bool painted = m_painter.end();
    // The writer may have closed the file itself, flushing it then.
    const bool flushed = !m_file.isOpen() || m_file.flush();
    m_file.close();
    if (!painted || !flushed || m_file.error() != QFileDevice::NoError)
        fail();
}
