#include "CachedMessageDb.h"

#include "IOS5MessageDb.h"
#include "IOS6MessageDb.h"

const char kCachedSmsDbPath[] = "file-relay/var/mobile/Library/SMS/sms.db";

QSharedPointer<AbsMessageDb> openCachedMessageDb(const QDir &cacheDir, const QString &country)
{
    if (AbsIOSMessageDb::dbVersion(cacheDir.absoluteFilePath(QLatin1String(kCachedSmsDbPath))) == 5)
        return QSharedPointer<AbsMessageDb>(new IOS5MessageDb(cacheDir, country));
    return QSharedPointer<AbsMessageDb>(new IOS6MessageDb(cacheDir, country, false));
}
