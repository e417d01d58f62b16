#include "IOSLoadFileRelayThread.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QtDebug>

#include <archive.h>
#include <archive_entry.h>

#include <utime.h>

#include <memory>

#include "Errors.h"
#include "FileRelay.h"
#include "HtmlEscape.h"
#include "IOSDevice.h"
#include "ProgressForm.h"
#include "SafePath.h"
#include "ServiceSocket.h"

namespace
{

constexpr int kBufferSize = 0x80000;
constexpr int kReceiveTimeoutMs = 60000;

const QString kArchiveName = QStringLiteral("file-relay.cpio");
const QString kOutputName = QStringLiteral("file-relay");

QString shown(const QString &path)
{
    return htmlEscape(QDir::toNativeSeparators(path));
}

// The service socket is closed on every way out of the run.
class SocketGuard
{
public:
    ~SocketGuard() { close(); }
    void close()
    {
        if (socket >= 0)
            mobiledevice_closesocket(socket);
        socket = -1;
    }
    int socket = -1;
};

struct ReaderDeleter
{
    void operator()(struct archive *reader) const { archive_read_free(reader); }
};
using Reader = std::unique_ptr<struct archive, ReaderDeleter>;

QString archiveError(struct archive *reader)
{
    const char *text = archive_error_string(reader);
    return text ? QString::fromUtf8(text) : QString();
}

// The access and modification times the archive gives the entry; an archive
// that stores no access time (cpio keeps only one time) gets the
// modification time for both. Failures are of no consequence.
void setEntryTimes(const QString &path, struct archive_entry *entry)
{
    if (!archive_entry_mtime_is_set(entry))
        return;
    struct utimbuf times;
    times.modtime = archive_entry_mtime(entry);
    times.actime = archive_entry_atime_is_set(entry) ? archive_entry_atime(entry) : times.modtime;
    ::utime(QFile::encodeName(path).constData(), &times);
}

} // namespace

IOSLoadFileRelayThread::IOSLoadFileRelayThread(IOSDevice *device, QObject *form, QObject *parent)
    : QThread(parent)
    , device(device)
    , form(form)
{
}

IOSLoadFileRelayThread::~IOSLoadFileRelayThread() = default;

QString IOSLoadFileRelayThread::entryTargetName(const QString &entryName)
{
    static const QRegularExpression leadingDotSlash(QStringLiteral("^\\./"));
    static const QRegularExpression reserved(QStringLiteral("[\\:*?\"<>|]"));
    QString name = entryName;
    name.remove(leadingDotSlash);
    name.remove(reserved);

    // The name comes from the device: it may only ever name something inside
    // the output folder. Empty and "." components are dropped; a device's
    // file names may hold a backslash.
    bool inside = !name.startsWith(QLatin1Char('/'));
    QStringList kept;
    for (const QString &part : name.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        if (part == QLatin1String("."))
            continue;
        inside = inside && isSafePathComponent(part, Backslash::Character);
        kept.append(part);
    }
    if (!inside)
        throwError(tr("The archive entry \"%1\" would be unpacked outside its folder.").arg(htmlEscape(entryName)));
    return kept.join(QLatin1Char('/'));
}

void IOSLoadFileRelayThread::run()
{
    ProgressForm::postUpdateProgress(form, tr("IDS_LOADING_IOS_DATABASES"), 0, QString());

    SocketGuard socket;
    try {
        const QDir cacheDir = device->cacheDir();
        file_relay_start(device->handle, &socket.socket);
        file_relay_request(socket.socket, {QStringLiteral("UserDatabases")});
        if (!cacheDir.exists())
            QDir().mkpath(cacheDir.absolutePath());

        QByteArray buffer(kBufferSize, Qt::Uninitialized);
        const QString archivePath = cacheDir.absoluteFilePath(kArchiveName);
        receiveArchive(socket.socket, archivePath, buffer.data(), kBufferSize);
        socket.close();

        const QDir outputDir(cacheDir.absoluteFilePath(kOutputName));
        if (!outputDir.exists())
            QDir().mkpath(outputDir.absolutePath());
        unpackArchive(archivePath, outputDir, buffer.data(), kBufferSize);

        QFile::remove(archivePath);
        ProgressForm::postSucceed(form, QString());
    } catch (int) {
        // The user cancelled; the dialog has closed already.
    } catch (const std::exception &e) {
        qWarning("%s", e.what());
        ProgressForm::postErrorOccurred(form, QString::fromUtf8(e.what()));
    }
}

void IOSLoadFileRelayThread::receiveArchive(int socket, const QString &archivePath, char *buffer, int bufferSize)
{
    QFile archive(archivePath);
    if (!archive.open(QIODevice::WriteOnly | QIODevice::Truncate))
        throwError(tr("create %1 failed. %2").arg(shown(archivePath), htmlEscape(archive.errorString())));

    qint64 total = 0;
    for (;;) {
        // The device closes the stream at the archive's end; a device that
        // stops sending for a minute has ended it too.
        const int n = receive_data(socket, buffer, bufferSize, kReceiveTimeoutMs);
        if (n < 1)
            break;
        if (ProgressForm::isCancelled(form))
            throw kWorkerCancelled;
        total += n;
        ProgressForm::postUpdateProgress(form, QString(), 99, tr("Received:%L1KB").arg(total / 1024));
        if (archive.write(buffer, n) != n)
            throwError(tr("write %1 failed. %2").arg(shown(archivePath), htmlEscape(archive.errorString())));
    }
    if (!archive.flush())
        throwError(tr("write %1 failed. %2").arg(shown(archivePath), htmlEscape(archive.errorString())));
    archive.close();
}

void IOSLoadFileRelayThread::unpackArchive(const QString &archivePath, const QDir &outputDir, char *buffer,
                                           int bufferSize)
{
    Reader reader(archive_read_new());
    if (!reader)
        throwError(tr("open %1(%2) error.").arg(shown(archivePath)).arg(ARCHIVE_FATAL));
    archive_read_support_filter_all(reader.get());
    archive_read_support_format_all(reader.get());
    const int opened = archive_read_open_filename(reader.get(), QFile::encodeName(archivePath).constData(), kBufferSize);
    if (opened != ARCHIVE_OK)
        throwError(tr("open %1(%2) error.").arg(shown(archivePath)).arg(opened));

    const QString outputPath = outputDir.absolutePath();
    for (;;) {
        struct archive_entry *entry = nullptr;
        const int header = archive_read_next_header(reader.get(), &entry);
        if (header == ARCHIVE_EOF)
            break;
        // A damaged or cut archive is not a complete load.
        if (header < ARCHIVE_WARN)
            throwError(tr("read %1 error. %2").arg(shown(archivePath), htmlEscape(archiveError(reader.get()))));
        if (ProgressForm::isCancelled(form))
            throw kWorkerCancelled;

        const char *rawName = archive_entry_pathname(entry);
        const QString entryName = rawName ? QString::fromUtf8(rawName) : QString();
        const QString name = entryTargetName(entryName);
        ProgressForm::postUpdateProgress(form, tr("Extracting %1").arg(name.section(QLatin1Char('/'), -1)), -1,
                                         QString());
        const QString target = name.isEmpty() ? outputPath : outputPath + QLatin1Char('/') + name;

        // Links are never made or followed, and special files are not the
        // device's data: only folders and regular files are unpacked. A hard
        // link that carries the data of its file (as cpio stores the last
        // name of a file) is unpacked as a file of its own; one without data
        // only names another entry.
        const mode_t type = archive_entry_filetype(entry);
        if (type != AE_IFDIR && type != AE_IFREG)
            continue;
        if (archive_entry_hardlink(entry) && (!archive_entry_size_is_set(entry) || archive_entry_size(entry) <= 0))
            continue;

        // Nothing of ours is a link, so a link on the way was put there by
        // someone else and is not written through.
        QString path = outputPath;
        const QStringList parts = name.split(QLatin1Char('/'), Qt::SkipEmptyParts);
        for (const QString &part : parts) {
            path += QLatin1Char('/') + part;
            if (QFileInfo(path).isSymLink())
                throwError(tr("The archive entry \"%1\" would be unpacked through the link %2.")
                               .arg(htmlEscape(entryName), shown(path)));
        }

        if (type == AE_IFDIR) {
            if (!QFileInfo::exists(target))
                QDir().mkpath(target);
            continue;
        }

        // An archive that lists a file before its folder still unpacks.
        QDir().mkpath(QFileInfo(target).absolutePath());
        QFile file(target);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            throwError(tr("create %1 error. %2").arg(shown(target), htmlEscape(file.errorString())));
        const qint64 size = archive_entry_size(entry);
        qint64 written = 0;
        for (;;) {
            if (ProgressForm::isCancelled(form))
                throw kWorkerCancelled;
            ProgressForm::postUpdateProgress(form, QString(), -1,
                                             tr("Extracted: %L1KB / %L2KB").arg(written / 1024).arg(size / 1024));
            const la_ssize_t n = archive_read_data(reader.get(), buffer, size_t(bufferSize));
            if (n == 0)
                break;
            if (n < 0)
                throwError(tr("read %1 error. %2").arg(shown(archivePath), htmlEscape(archiveError(reader.get()))));
            written += n;
            if (file.write(buffer, n) != n)
                throwError(tr("write %1 error. %2").arg(shown(target), htmlEscape(file.errorString())));
        }
        if (!file.flush())
            throwError(tr("write %1 error. %2").arg(shown(target), htmlEscape(file.errorString())));
        file.close();
        if (archive_entry_size_is_set(entry) && written != size)
            throwError(tr("The archive %1 ends before %2 is complete.").arg(shown(archivePath), shown(target)));
        setEntryTimes(target, entry);
    }
}
