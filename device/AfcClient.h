#pragma once

#include <QList>
#include <QString>

#include <memory>

#include "AfcFile.h"
#include "AfcFileInfo.h"

// A small file-system surface over the device's file service, on a socket
// the client owns from afc_start until close or destruction. One thread at a
// time; every request is complete when its reply has been read.
class AfcClient
{
public:
    explicit AfcClient(void *device);
    ~AfcClient();
    AfcClient(const AfcClient &) = delete;
    AfcClient &operator=(const AfcClient &) = delete;

    // With an empty bundle identifier the device's media file service;
    // otherwise the container of that application. A socket held from an
    // earlier start is closed first. Throws as the service start and the
    // container request do; the socket of a started service whose container
    // could not be had stays with the client until close.
    void afc_start(const QString &bundleId);
    void close();

    // 0 when none.
    int socket() const { return m_socket; }

    // True on success, false when the request failed.
    bool makeDir(const QString &path);
    bool removePath(const QString &path);
    bool renamePath(const QString &from, const QString &to);

    // False, leaving out untouched, when the device gives no handle; a file
    // that out held open is closed once the new one is open.
    bool openFile(const QString &path, int mode, AfcFile &out);
    bool openForRead(const QString &path, AfcFile &out);
    bool openForWrite(const QString &path, AfcFile &out);

    // Throw std::runtime_error when a request fails.
    AfcFileInfo stat(const QString &path);
    // The regular files and folders of one folder (an absolute device path),
    // one level deep. Names that cannot be an entry of the folder (empty,
    // ".", "..", holding "/") are left out, as are links and other types.
    QList<AfcFileInfo> list(const QString &folder);

private:
    void *m_device;
    int m_socket = 0;
    // What files opened through this client hold a weak share of, so that
    // they know when the socket is gone.
    std::shared_ptr<void> m_link;
};
