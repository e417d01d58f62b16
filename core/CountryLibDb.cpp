#include "CountryLibDb.h"

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>

#include <unistd.h>

#include "AppFolders.h"
#include "Errors.h"

namespace
{

const char kResource[] = ":res/countries.db";

// Copies the resource to target. The bytes go to a temporary file beside the
// target, which is renamed into place only once complete and on disk, so an
// interrupted copy never passes for the library. A file that appears there in
// the meantime is someone else's finished copy and is kept.
void installLibrary(const QString &target)
{
    QFile resource(QString::fromLatin1(kResource));
    if (!resource.open(QIODevice::ReadOnly))
        throw std::runtime_error(QStringLiteral("can not find %1.").arg(QString::fromLatin1(kResource)).toStdString());
    const QByteArray bytes = resource.readAll();

    QTemporaryFile part(target + QStringLiteral(".XXXXXX"));
    if (!part.open())
        throwCannotCreate(target, part.errorString());
    if (part.write(bytes) != bytes.size() || !part.flush())
        throwCannotCreate(target, part.errorString());
    if (::fsync(part.handle()) != 0)
        throwCannotCreate(target, QString::fromLocal8Bit(std::strerror(errno)));
    part.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup
                        | QFileDevice::ReadOther);
    if (!part.rename(target)) {
        if (QFileInfo::exists(target))
            return;
        throwCannotCreate(target, part.errorString());
    }
    // The renamed file still counts as the temporary one: keep it.
    part.setAutoRemove(false);
}

} // namespace

CountryLibDb::CountryLibDb(const QString &mcc, const QString &folder)
    : m_mcc(mcc)
    , m_folder(folder)
{
}

CountryLibDb::~CountryLibDb() = default;

void CountryLibDb::ensureOpen()
{
    if (isOpen())
        return;
    const QString folder = m_folder.isEmpty() ? appDataDir().absolutePath() : m_folder;
    const QString target = QDir(folder).filePath(QStringLiteral("countries.db"));
    if (!QFileInfo::exists(target))
        installLibrary(target);
    openThrow(target, ReadWrite);
    try {
        m_current = countryByMmc(m_mcc);
    } catch (...) {
        // Not a usable library (or not readable): the next call starts over.
        close();
        m_current = Country();
        throw;
    }
}

const Country &CountryLibDb::currentCountry()
{
    ensureOpen();
    return m_current;
}

Country CountryLibDb::countryByMmc(const QString &mcc, bool *found)
{
    ensureOpen();
    return firstCountry(Sqlite3Sql("select c.* from mmc_sn as m inner join countries as c on m.[sn] = c.sn and m.mmc=?")
                            .addTextParam(mcc),
                        found);
}

Country CountryLibDb::countryBySn(const QString &sn, bool *found)
{
    ensureOpen();
    return firstCountry(Sqlite3Sql("select * from countries where sn=?").addTextParam(sn.toUpper()), found);
}

Country CountryLibDb::firstCountry(const Sqlite3Sql &query, bool *found)
{
    Sqlite3Cursor rows = queryThrow(query);
    const bool hit = rows.moveNext();
    if (found)
        *found = hit;
    return hit ? Country(rows) : m_current;
}
