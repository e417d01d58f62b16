// Exports messages held in memory to CSV, TXT, HTML and PDF through the
// export worker, as the export command runs it, and prints the rate of each:
// text files take all messages in one file, HTML and PDF one file per
// conversation.
//
//   bench_export [messages [conversations [formats [writers]]]]
//
// by default 100000 messages over 500 conversations in every format;
// formats is a comma-separated choice of csv, txt, html and pdf; writers
// the number of threads that write PDF and HTML conversations (by default
// as many as the export takes on this machine). The files
// go to a temporary folder under TMPDIR; with KEEP set in the environment the
// folder stays, for a look at the files.

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QObject>
#include <QTemporaryDir>

#include <cstdio>

#include "ExportSMSThread.h"
#include "MsgDataSet.h"

namespace
{

const char *const kTexts[] = {
    "On my way, see you in ten minutes",
    "Can you pick up milk, bread and eggs? Thanks!",
    "He said \"maybe tomorrow\" but I doubt it",
    "Meeting moved to 3pm.\nRoom 4B, bring the slides",
    "ok",
    "Happy birthday!!! \xF0\x9F\x8E\x82\xF0\x9F\x8E\x89 Have a great day & enjoy the party <3",
    "The parcel tracking number is 1Z999AA10123456784, delivery expected between 9:00 and 12:00",
    "lol \xE2\x9C\x94",
    "Don't forget: dentist on Thursday at 8:30, then the school run. Call me if anything changes.",
    "\xEF\xBF\xBC",
};

struct Fixture
{
    MsgDataSet set = MsgDataSet::create();
    QList<_MsgMessage *> messages;
};

// Conversations of one, or for every tenth of three correspondents; each
// message has a sender and a date a minute after the one before.
void build(Fixture &f, int messageCount, int chatCount)
{
    MsgDataSet::Data *d = f.set.data();
    QList<_MsgChat *> chats;
    qint64 handleId = 1;
    for (int c = 0; c < chatCount; ++c) {
        auto *chat = new _MsgChat;
        chat->rowid = c + 1;
        const int members = c % 10 == 0 ? 3 : 1;
        for (int m = 0; m < members; ++m) {
            auto *h = new _MsgHandle;
            h->rowid = handleId++;
            h->id = QStringLiteral("+1555%1").arg(h->rowid, 7, 10, QLatin1Char('0'));
            if (h->rowid % 3 != 0)
                h->_ct_name = QStringLiteral("Contact %1, Person").arg(h->rowid);
            d->handles.insert(h->rowid, h);
            chat->handles.insert(QString::number(h->rowid), h);
        }
        chat->chat_identifier =
            members > 1 ? QStringLiteral("chat%1").arg(900000000000000000LL + c) : chat->handles.begin().value()->id;
        chat->guid = QStringLiteral("SMS;-;") + chat->chat_identifier;
        d->chats.insert(chat->rowid, chat);
        chats.append(chat);
    }
    qint64 attachmentId = 1;
    for (int i = 0; i < messageCount; ++i) {
        _MsgChat *chat = chats.at(i % chatCount);
        auto *m = new _MsgMessage;
        m->rowid = i + 1;
        m->_key = m->rowid;
        m->date = 400000000 + i * 60;
        m->is_from_me = (i / 3) % 2;
        m->text = QString::fromUtf8(kTexts[i % (sizeof kTexts / sizeof *kTexts)]);
        m->chat = chat;
        const QList<_MsgHandle *> members = chat->handleList();
        m->sender = m->is_from_me ? nullptr : members.at(i % members.size());
        m->handle_id = m->sender ? m->sender->rowid : 0;
        if (m->text.contains(QChar(0xFFFC))) {
            auto *a = new _MsgAttachment;
            a->rowid = attachmentId++;
            a->guid = QStringLiteral("ATT-%1").arg(a->rowid);
            a->filename = QStringLiteral("~/Library/SMS/Attachments/%1.jpg").arg(a->rowid);
            a->mime_type = QStringLiteral("image/jpeg");
            d->attachments.insert(a->rowid, a);
            m->attachments.insert(QString::number(a->rowid), a);
        }
        chat->_last = qMax(chat->_last, m->date);
        chat->messages.insert(QString::number(m->_key), m);
        d->messages.insert(m->_key, m);
        f.messages.append(m);
    }
}

} // namespace

// Stands in for the progress dialog: keeps the worker's ending.
class BenchEnding : public QObject
{
    Q_OBJECT
public:
    QString error;
    bool succeeded = false;
    Q_INVOKABLE bool isCancelled() const { return false; }
    Q_INVOKABLE bool isWaiting() const { return false; }

private slots:
    void updateProgress(QString, int, QString) {}
    void errorOccurred(QString err) { error = err; }
    void succeed(QString) { succeeded = true; }
    void tipsWait(QString) {}
};

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int messageCount = args.size() > 1 ? args.at(1).toInt() : 100000;
    const int chatCount = args.size() > 2 ? args.at(2).toInt() : 500;
    const QStringList chosen = args.size() > 3 ? args.at(3).toLower().split(QLatin1Char(','))
                                               : QStringList{"csv", "txt", "html", "pdf"};
    const int writers = args.size() > 4 ? args.at(4).toInt() : 0;
    if (messageCount <= 0 || chatCount <= 0 || writers < 0) {
        std::fprintf(stderr, "usage: bench_export [messages [conversations [formats [writers]]]]\n");
        return 2;
    }
    setExportWriterCount(writers);

    Fixture f;
    build(f, messageCount, chatCount);

    QTemporaryDir dir;
    if (!dir.isValid()) {
        std::fprintf(stderr, "no temporary folder\n");
        return 1;
    }
    if (qEnvironmentVariableIsSet("KEEP")) {
        dir.setAutoRemove(false);
        std::printf("work folder: %s\n", qUtf8Printable(dir.path()));
    }
    struct Format
    {
        const char *name;
        int code;
        const char *output;
    };
    const Format formats[] = {{"csv", 1, "all.csv"}, {"txt", 0, "all.txt"}, {"html", 3, "all-html"}, {"pdf", 2, "all-pdf"}};
    std::printf("%d messages over %d conversations, %d writers for PDF and HTML\n", messageCount, chatCount,
                exportWriterCount());
    for (const Format &format : formats) {
        if (!chosen.contains(QString::fromLatin1(format.name)))
            continue;
        BenchEnding ending;
        ExportSMSThread worker(f.messages, dir.filePath(QString::fromLatin1(format.output)), format.code, true, &ending);
        QElapsedTimer timer;
        timer.start();
        worker.start();
        worker.wait();
        const double seconds = double(timer.nsecsElapsed()) / 1e9;
        // The worker's ending was posted to this thread.
        QCoreApplication::sendPostedEvents(&ending);
        if (!ending.succeeded) {
            std::fprintf(stderr, "%s export failed: %s\n", format.name, qUtf8Printable(ending.error));
            return 1;
        }
        std::printf("%-5s %9.3f s %12.0f messages/s\n", qPrintable(QString::fromLatin1(format.name).toUpper()),
                    seconds, messageCount / seconds);
        std::fflush(stdout);
    }
    return 0;
}

#include "BenchExport.moc"
