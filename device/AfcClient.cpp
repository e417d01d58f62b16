#include "AfcClient.h"

#include "AfcProtocol.h"
#include "HouseArrest.h"
#include "Lockdown.h"
#include "SafePath.h"
#include "ServiceSocket.h"

#include <exception>

AfcClient::AfcClient(void *device)
    : m_device(device)
{
}

AfcClient::~AfcClient()
{
    close();
}

void AfcClient::afc_start(const QString &bundleId)
{
    close();
    m_link = std::make_shared<int>(0);
    if (bundleId.isEmpty()) {
        mobiledevice_start_service(m_device, kAfcService, &m_socket);
        return;
    }
    mobiledevice_start_service(m_device, kHouseArrestService, &m_socket);
    house_arrest_vend_container(m_socket, bundleId);
}

void AfcClient::close()
{
    if (m_socket != 0)
        mobiledevice_closesocket(m_socket);
    m_socket = 0;
    m_link.reset();
}

bool AfcClient::makeDir(const QString &path)
{
    try {
        afc_make_dir(m_socket, path);
        return true;
    } catch (const std::exception &) {
        return false;
    }
}

bool AfcClient::removePath(const QString &path)
{
    try {
        afc_remove_path(m_socket, path);
        return true;
    } catch (const std::exception &) {
        return false;
    }
}

bool AfcClient::renamePath(const QString &from, const QString &to)
{
    try {
        afc_rename_path(m_socket, from, to);
        return true;
    } catch (const std::exception &) {
        return false;
    }
}

bool AfcClient::openFile(const QString &path, int mode, AfcFile &out)
{
    qint64 handle = 0;
    try {
        handle = afc_file_open(m_socket, path, mode);
    } catch (const std::exception &) {
        return false;
    }
    if (handle == 0)
        return false;
    out.close();
    out.socket = m_socket;
    out.fileHandle = handle;
    out.m_link = m_link;
    return true;
}

bool AfcClient::openForRead(const QString &path, AfcFile &out)
{
    return openFile(path, kAfcModeRead, out);
}

bool AfcClient::openForWrite(const QString &path, AfcFile &out)
{
    return openFile(path, kAfcModeWrite, out);
}

AfcFileInfo AfcClient::stat(const QString &path)
{
    const QMap<QString, QString> values = afc_get_file_info(m_socket, path);
    AfcFileInfo info(path);
    info.ifmt = values.value(QStringLiteral("st_ifmt"));
    bool ok = false;
    const qint64 size = values.value(QStringLiteral("st_size")).toLongLong(&ok);
    info.size = ok && size > 0 ? size : 0;
    if (values.contains(QStringLiteral("st_mtime"))) {
        // Nanoseconds since the epoch; a value that is no number gives no time.
        const qint64 nanoseconds = values.value(QStringLiteral("st_mtime")).toLongLong(&ok);
        if (ok)
            info.mtime = QDateTime::fromMSecsSinceEpoch(nanoseconds / 1000000);
    }
    return info;
}

QList<AfcFileInfo> AfcClient::list(const QString &folder)
{
    const QString prefix = folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/');
    QList<AfcFileInfo> entries;
    for (const QString &name : afc_read_dir(m_socket, folder)) {
        // The device names its entries; a name that is no single entry of the
        // folder would make a path somewhere else.
        if (!isSafePathComponent(name, Backslash::Character))
            continue;
        const AfcFileInfo info = stat(prefix + name);
        if (info.isFile() || info.isDir())
            entries << info;
    }
    return entries;
}
