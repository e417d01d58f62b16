#include "SampleLocalDb.h"

#include <QFileInfo>

#include "AppFolders.h"
#include "DbInspect.h"
#include "ExportMessagesDb.h"
#include "IOS6SmsDbFixture.h"
#include "SampleConversations.h"

namespace SampleLocalDb
{

QDir write(const QString &name)
{
    const QDir root(localDatabasesDir().filePath(name));
    SampleConversations sample;
    ExportMessagesDb exporter(root, QString());
    exporter.begin();
    for (const _MsgMessage *m : sample.messages())
        exporter.write(m);
    exporter.end();
    return root;
}

QString smsDbPath(const QString &name)
{
    return IOS6SmsDbFixture::smsDbPath(QDir(localDatabasesDir().filePath(name)));
}

QStringList messageGuids(const QString &name)
{
    if (!QFileInfo::exists(smsDbPath(name)))
        return {};
    return queryRows(smsDbPath(name), QStringLiteral("select guid from message order by rowid"));
}

int chatCount(const QString &name)
{
    if (!QFileInfo::exists(smsDbPath(name)))
        return 0;
    return int(tableRowCounts(smsDbPath(name)).value(QStringLiteral("chat")));
}

} // namespace SampleLocalDb
