#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>

#include "AbsIOSMessageDb.h"
#include "CachedMessageDb.h"
#include "DbInspect.h"
#include "IOS5DbFixture.h"
#include "IOS6SmsDbFixture.h"
#include "MsgDataSet.h"

namespace
{

// A phone's sms.db as the cache keeps it, in one of the layouts devices
// write; the reader chosen must be the one for that layout.
TEST(CachedMessageDb, TheReaderFollowsTheLayoutOfTheCachedFile)
{
    struct Case {
        const char *name;
        std::function<void(const QString &cacheFolder)> write;
        int version;
    };
    const Case cases[] = {
        {"iOS 5 with iMessage", [](const QString &f) { IOS5DbFixture db(f, IOS5DbFixture::Full); }, 5},
        {"iOS 5 without madrid_chat",
         [](const QString &f) { IOS5DbFixture db(f, IOS5DbFixture::WithoutMadridChat); }, 5},
        {"iOS 5 before iMessage", [](const QString &f) { IOS5DbFixture db(f, IOS5DbFixture::BeforeIMessage); }, 5},
        {"iOS 6",
         [](const QString &f) { IOS6SmsDbFixture db(IOS6SmsDbFixture::smsDbPath(QDir(f)), IOS6SmsDbFixture::Device); },
         6},
        {"iOS 6 with later columns",
         [](const QString &f) {
             IOS6SmsDbFixture db(IOS6SmsDbFixture::smsDbPath(QDir(f)), IOS6SmsDbFixture::Device, true);
         },
         6},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir cache;
        ASSERT_TRUE(cache.isValid());
        c.write(cache.path());

        const QSharedPointer<AbsMessageDb> db = openCachedMessageDb(QDir(cache.path()), QStringLiteral("us"));
        ASSERT_TRUE(db);
        const auto *ios = dynamic_cast<const AbsIOSMessageDb *>(db.data());
        ASSERT_NE(ios, nullptr);
        EXPECT_EQ(ios->iosVersion(), c.version);
        // The phone's file is read as it is, never upgraded.
        const QString path = IOS6SmsDbFixture::smsDbPath(QDir(cache.path()));
        const QByteArray before = fileDigest(path);
        MsgDataSet set = MsgDataSet::create();
        EXPECT_NO_THROW(db->messages(set, 0));
        db->close();
        EXPECT_EQ(fileDigest(path), before);
    }
}

TEST(CachedMessageDb, ACacheWithoutItsDatabaseThrows)
{
    QTemporaryDir cache;
    ASSERT_TRUE(cache.isValid());
    EXPECT_THROW(openCachedMessageDb(QDir(cache.path()), QString()), std::runtime_error);
}

} // namespace
