// Times reading a generated iOS 5 sms.db: every message into a set, SMS in
// one-to-one and group conversations, iMessages in madrid conversations.
//
//   bench_ios5_read [messages] [conversations]
//
// by default 100000 messages over 500 conversations. With KEEP set the work
// folder stays; with SOURCE set to the folder of a kept run its sms.db is
// read instead of a new one (made with the same arguments). With DUMP set to
// a file name every record read is written there, for comparing two builds.

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTextStream>

#include <algorithm>

#include <cstdio>

#include "BenchCommon.h"
#include "CountryLibDb.h"
#include "IOS5DbFixture.h"
#include "IOS5MessageDb.h"

namespace
{

using bench::cpuSeconds;
using bench::peakRssMb;
using bench::sentence;

QString phone(int n)
{
    return QStringLiteral("+1 (555) %1-%2").arg(100 + n / 10000, 3, 10, QLatin1Char('0')).arg(n % 10000, 4, 10,
                                                                                             QLatin1Char('0'));
}

// Two conversations in three are SMS (every fifth of them a group of three),
// the others iMessage; messages go to conversations at random, in date order.
void generate(const QString &folder, int messages, int chats)
{
    QRandomGenerator random(5);
    IOS5DbFixture fx(folder, IOS5DbFixture::Full);
    fx.begin();
    struct Chat
    {
        bool sms;
        qint64 id;
        QStringList members;
        qint64 newest;
    };
    std::vector<Chat> list;
    qint64 memberRow = 1;
    for (int c = 0; c < chats; ++c) {
        Chat chat;
        chat.newest = 0;
        chat.sms = c % 3 != 2;
        const int size = chat.sms && c % 5 == 0 ? 3 : 1;
        for (int k = 0; k < size; ++k)
            chat.members << phone(c * 3 + k);
        if (chat.sms) {
            // The group's row comes once its newest message is known.
            chat.id = c + 1;
            for (const QString &member : std::as_const(chat.members))
                fx.addMember(memberRow++, chat.id, member, QStringLiteral("us"));
        } else {
            chat.id = c + 1;
            fx.addMadridChat(chat.id, chat.members.first(),
                             IOS5DbFixture::participants(chat.members, IOS5DbFixture::Binary));
        }
        list.push_back(chat);
    }
    for (int i = 0; i < messages; ++i) {
        Chat &chat = list[size_t(random.bounded(chats))];
        chat.newest = i + 1;
        const QString member = chat.members.at(int(random.bounded(int(chat.members.size()))));
        if (chat.sms) {
            IOS5DbFixture::Sms sms;
            sms.rowid = i + 1;
            sms.address = member;
            sms.date = 1300000000 + i * 60;
            sms.text = sentence(random);
            sms.flags = random.bounded(2) ? 3 : 2;
            sms.groupId = chat.id;
            sms.country = QStringLiteral("us");
            fx.addSms(sms);
        } else {
            IOS5DbFixture::IMessage im;
            im.rowid = i + 1;
            im.date = 320000000 + i * 60;
            im.text = sentence(random);
            im.handle = member;
            im.guid = QStringLiteral("5A0B%1-0000-4000-8000-%2").arg(i, 8, 16, QLatin1Char('0')).arg(i, 12, 10,
                                                                                                  QLatin1Char('0'));
            im.account = QStringLiteral("e:me@example.com");
            im.accountGuid = QStringLiteral("4F1E2D3C-0000-4000-8000-000000000001");
            im.dateRead = im.date + 5;
            im.dateDelivered = random.bounded(2) ? im.date + 1 : 0;
            fx.addIMessage(im);
        }
    }
    for (const Chat &chat : list) {
        if (chat.sms)
            fx.addGroup(chat.id, 1000 + chat.id, chat.newest);
    }
    // The phone's own index of the messages by conversation.
    fx.db().executeThrow(Sqlite3Sql("CREATE INDEX message_group_index ON message(group_id, ROWID)"));
    fx.commit();
}

// Every record of the set, in key order, with what links it, for comparing
// two builds' reads of one file. An SMS's guid is made anew on every read
// and left out.
void writeDump(MsgDataSet &set, const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        std::fprintf(stderr, "cannot write %s\n", qUtf8Printable(path));
        return;
    }
    QTextStream out(&file);
    QList<qint64> keys = set.data()->messages.keys();
    std::sort(keys.begin(), keys.end());
    for (qint64 key : std::as_const(keys)) {
        const _MsgMessage *m = set.data()->messages.value(key);
        out << key << '|' << (m->service == QLatin1String("SMS") ? QString() : m->guid) << '|' << m->text << '|'
            << m->service_center << '|' << m->subject << '|' << m->country << '|' << m->attributedBody.toHex() << '|'
            << m->service << '|' << m->account << '|' << m->account_guid << '|' << m->error << '|' << m->date << '|'
            << m->date_read << '|' << m->date_delivered << '|' << m->is_from_me << '|' << m->is_finished << '|'
            << m->is_prepared << '|' << m->is_read << '|' << m->is_sent << '|' << m->was_data_detected << '|'
            << (m->chat ? m->chat->guid : QStringLiteral("-")) << '|'
            << (m->chat ? int(m->chat->messages.value(QString::number(key)) == m) : -1) << '|'
            << (m->sender ? m->sender->id : QStringLiteral("-")) << '\n';
    }
    QList<qint64> chats = set.data()->chats.keys();
    std::sort(chats.begin(), chats.end());
    for (qint64 key : std::as_const(chats)) {
        const _MsgChat *c = set.data()->chats.value(key);
        out << "chat " << key << '|' << c->guid << '|' << c->chat_identifier << '|' << c->_last << '|'
            << c->messages.size() << '\n';
    }
}

} // namespace

int main(int argc, char **argv)
{
    QTemporaryDir dir;
    if (!dir.isValid()) {
        std::fprintf(stderr, "no temporary folder\n");
        return 1;
    }
    if (qEnvironmentVariableIsSet("KEEP")) {
        dir.setAutoRemove(false);
        std::printf("work folder: %s\n", qUtf8Printable(dir.path()));
    }
    const QString home = QDir(dir.path()).filePath(QStringLiteral("home"));
    QDir().mkpath(home);
    qputenv("HOME", home.toUtf8());
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int messageCount = args.size() > 1 ? args.at(1).toInt() : 100000;
    const int chatCount = args.size() > 2 ? qMax(1, args.at(2).toInt()) : 500;

    QString folder = qEnvironmentVariable("SOURCE");
    QElapsedTimer clock;
    clock.start();
    if (folder.isEmpty()) {
        folder = QDir(dir.path()).filePath(QStringLiteral("device"));
        generate(folder, messageCount, chatCount);
        std::printf("generated %d messages in %d conversations (%.2f s)\n", messageCount, chatCount,
                    clock.nsecsElapsed() / 1e9);
    } else {
        std::printf("source: %s\n", qUtf8Printable(folder));
    }
    CountryLibDb(QString()).ensureOpen();

    IOS5MessageDb source{QDir(folder), QStringLiteral("310")};
    MsgDataSet set = MsgDataSet::create();
    std::printf("peak resident memory before the read: %7.1f MB\n", peakRssMb());
    const double cpu = cpuSeconds();
    clock.start();
    source.messages(set, 0);
    std::printf("read all messages into a set:      %7.3f s, cpu %6.3f s  (%lld messages, %lld conversations)\n",
                clock.nsecsElapsed() / 1e9, cpuSeconds() - cpu, qlonglong(set.data()->messages.size()),
                qlonglong(set.data()->chats.size()));
    std::printf("peak resident memory of the read:  %7.1f MB\n", peakRssMb());
    const QString dump = qEnvironmentVariable("DUMP");
    if (!dump.isEmpty())
        writeDump(set, dump);
    return 0;
}
