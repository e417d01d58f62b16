#include "ExportFile.h"

#include <QCoreApplication>

#include <stdexcept>

namespace
{

[[noreturn]] void fail(const QFile &file)
{
    QString text = file.errorString();
    if (file.error() == QFileDevice::NoError || text.isEmpty())
        text = QCoreApplication::translate("QObject", "Could not write %1.").arg(file.fileName());
    throw std::runtime_error(text.toUtf8().toStdString());
}

} // namespace

void openExportFile(QFile &file, QTextStream &stream)
{
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text))
        fail(file);
    stream.setDevice(&file);
    stream.setEncoding(QStringConverter::Utf8);
    stream.setGenerateByteOrderMark(false);
}

void checkExportWrite(const QFile &file, const QTextStream &stream)
{
    if (stream.status() != QTextStream::Ok || file.error() != QFileDevice::NoError)
        fail(file);
}

void closeExportFile(QFile &file, QTextStream &stream)
{
    if (!file.isOpen())
        return;
    stream.flush();
    const bool streamOk = stream.status() == QTextStream::Ok;
    const bool flushed = file.flush();
    file.close();
    if (!streamOk || !flushed || file.error() != QFileDevice::NoError)
        fail(file);
}
