#include "MobileDeviceFramework.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <atomic>
#include <mutex>

#include <dlfcn.h>

namespace
{

// Resolution runs on any thread while a load may be under way on another, so
// the handles are published atomically; loads themselves are serialised.
std::atomic<void *> g_deviceLibrary{nullptr};
std::atomic<void *> g_coreFoundation{nullptr};
std::mutex g_loadMutex;

QString executableDir()
{
    if (QCoreApplication::instance())
        return QCoreApplication::applicationDirPath();
    return QFileInfo(QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath()).absolutePath();
}

QString installDir(const char *variableName, const char *besideExecutable)
{
    const QString stored = readInstallDir(variableName);
    if (!stored.isEmpty())
        return stored;
    return QDir::toNativeSeparators(QDir(executableDir()).absoluteFilePath(QString::fromLatin1(besideExecutable)));
}

void *openLibrary(const char *name, const QStringList &folders)
{
    // RTLD_NOW: a library with unresolved references fails here instead of at
    // some later call. RTLD_LOCAL: its names stay out of the global scope.
    const int flags = RTLD_NOW | RTLD_LOCAL;
    const QString file = QStringLiteral("lib%1.so").arg(QString::fromLatin1(name));
    for (const QString &folder : folders) {
        // The folder part keeps a '/' in the path, so dlopen takes it as a file
        // path and does not search.
        const QByteArray path = QFile::encodeName(folder + QLatin1Char('/') + file);
        if (void *handle = dlopen(path.constData(), flags))
            return handle;
    }
    return dlopen(QFile::encodeName(file).constData(), flags);
}

bool ensureLoaded(std::atomic<void *> &slot, const char *name, const QStringList &folders)
{
    if (slot.load(std::memory_order_acquire))
        return true;
    void *handle = openLibrary(name, folders);
    if (!handle)
        return false;
    slot.store(handle, std::memory_order_release);
    return true;
}

void *resolveIn(const std::atomic<void *> &slot, const char *name)
{
    void *handle = slot.load(std::memory_order_acquire);
    if (!handle || !name)
        return nullptr;
    return dlsym(handle, name);
}

} // namespace

QString readInstallDir(const char *variableName)
{
    if (!variableName || !qEnvironmentVariableIsSet(variableName))
        return QString();
    return qEnvironmentVariable(variableName);
}

bool mobiledevice_load_frameworks(QString &error)
{
    std::lock_guard<std::mutex> lock(g_loadMutex);

    const QString deviceDir = installDir(kMobileDeviceDirVariable, "Apple/Mobile Device Support");
    const QString supportDir = installDir(kApplicationSupportDirVariable, "Apple/Apple Application Support");

    // Every call prepends the folders again. An empty old PATH adds no trailing
    // separator: an empty entry would put the current directory on PATH.
    const QChar separator = QDir::listSeparator();
    const QString oldPath = qEnvironmentVariable("PATH");
    QString newPath = deviceDir + separator + supportDir;
    if (!oldPath.isEmpty())
        newPath += separator + oldPath;
    if (!qputenv("PATH", QFile::encodeName(newPath))) {
        error = QStringLiteral("SetEnvironmentVariable(PATH=%1) failed.").arg(newPath);
        return false;
    }

    const QStringList folders{deviceDir, supportDir};
    if (!ensureLoaded(g_deviceLibrary, "iTunesMobileDevice", folders)) {
        error = QStringLiteral("Failed to load (Mobile Device) framework.");
        return false;
    }
    if (!ensureLoaded(g_coreFoundation, "CoreFoundation", folders)) {
        error = QStringLiteral("Failed to load (CoreFoundation) framework.");
        return false;
    }
    return true;
}

bool mobiledevice_frameworks_loaded()
{
    return g_deviceLibrary.load(std::memory_order_acquire) && g_coreFoundation.load(std::memory_order_acquire);
}

void *amd_resolve(const char *name)
{
    return resolveIn(g_deviceLibrary, name);
}

void *cf_resolve(const char *name)
{
    return resolveIn(g_coreFoundation, name);
}
