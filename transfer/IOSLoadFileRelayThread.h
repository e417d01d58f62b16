#pragma once

#include <QDir>
#include <QString>
#include <QThread>

class IOSDevice;

// Copies a connected device's user databases to the computer through its
// file_relay service: the archive the device streams is kept as
// "file-relay.cpio" in the device's cache folder while it arrives, then
// unpacked into "file-relay/" beside it, so that the folder reads like any
// other message source. The archive file is removed once everything in it
// has been unpacked.
//
// Runs under a progress dialog (any object with its slots, reached through
// ProgressForm's posting functions): it ends it with success, with an error,
// or not at all when the user cancelled. After an error or a cancel, what was
// received and unpacked so far stays on disk; the next load overwrites it.
//
// Only folders and regular files are unpacked; links and special files are
// skipped. An entry whose name would lead outside "file-relay/", or an archive
// that ends in the middle of an entry, is an error.
//
// The device record is only read and must outlive the thread.
class IOSLoadFileRelayThread : public QThread
{
    Q_OBJECT

public:
    IOSLoadFileRelayThread(IOSDevice *device, QObject *form, QObject *parent = nullptr);
    ~IOSLoadFileRelayThread() override;

    // The name of an archive entry as it is unpacked: without a leading "./"
    // and without the characters : * ? " < > |, cleaned of "." steps and
    // doubled slashes; empty for the output folder itself. Throws
    // std::runtime_error for a name that is absolute or steps up a folder.
    static QString entryTargetName(const QString &entryName);

protected:
    void run() override;

private:
    void receiveArchive(int socket, const QString &archivePath, char *buffer, int bufferSize);
    void unpackArchive(const QString &archivePath, const QDir &outputDir, char *buffer, int bufferSize);

    IOSDevice *device;
    QObject *form;
};
