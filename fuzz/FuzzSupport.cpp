#include "FuzzSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cstdio>
#include <cstdlib>
#include <stdexcept>

namespace
{

QString g_home;

void removeHome()
{
    if (!g_home.isEmpty())
        QDir(g_home).removeRecursively();
}

} // namespace

void fuzzInit(int *argc, char ***argv)
{
    const char *base = std::getenv("TMPDIR");
    QByteArray templ = QByteArray(base && *base ? base : "/tmp") + "/larkspan-fuzz-XXXXXX";
    if (!mkdtemp(templ.data())) {
        std::perror("mkdtemp");
        std::abort();
    }
    g_home = QString::fromLocal8Bit(templ);
    std::atexit(removeHome);
    QDir(g_home).mkpath(QStringLiteral("tmp"));
    QDir(g_home).mkpath(QStringLiteral("data"));
    setenv("HOME", templ.constData(), 1);
    setenv("TMPDIR", (templ + "/tmp").constData(), 1);
    setenv("XDG_DATA_HOME", (templ + "/data").constData(), 1);
    setenv("XDG_CONFIG_HOME", (templ + "/config").constData(), 1);
    setenv("XDG_CACHE_HOME", (templ + "/cache").constData(), 1);
    setenv("TZ", "UTC", 1);
    setenv("LANG", "C.UTF-8", 1);
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    // Lives for the whole process, as in the program.
    static int qtArgc = 1;
    static char *qtArgv[] = {argc && *argc > 0 ? (*argv)[0] : const_cast<char *>("fuzz"), nullptr};
    new QCoreApplication(qtArgc, qtArgv);
}

QString fuzzHome()
{
    return g_home;
}

QString fuzzScratch()
{
    const QString path = g_home + QStringLiteral("/scratch");
    QDir(path).removeRecursively();
    if (!QDir().mkpath(path))
        fuzzFail("the scratch folder cannot be made", path);
    return path;
}

QByteArray fuzzBytes(const uint8_t *data, size_t size)
{
    return QByteArray(reinterpret_cast<const char *>(data), qsizetype(size));
}

void fuzzWriteFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        fuzzFail("a scratch file cannot be written", path);
}

void fuzzFail(const char *what, const QString &detail)
{
    std::fprintf(stderr, "fuzz check failed: %s %s\n", what, detail.toLocal8Bit().constData());
    std::fflush(stderr);
    std::abort();
}
