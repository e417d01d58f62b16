#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QTemporaryDir>
#include <QTranslator>

#include <QRegularExpression>

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <csignal>
#include <limits>

#include "ExportFileReader.h"
#include "ExportSMSThread.h"
#include "MsgSetBuilder.h"
#include "RecordingProgress.h"

namespace
{

enum Code
{
    Text = 0,
    Csv = 1,
    Pdf = 2,
    Html = 3
};

// Every file and folder below root, relative, sorted; folders end in "/".
QStringList tree(const QString &root)
{
    QStringList list;
    QDirIterator it(root, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        QString rel = QDir(root).relativeFilePath(it.filePath());
        if (it.fileInfo().isDir())
            rel += QLatin1Char('/');
        list.append(rel);
    }
    list.sort();
    return list;
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

// The texts of the HTML entries of a file, in order.
QStringList htmlTexts(const QString &path)
{
    const QString page = QString::fromUtf8(readExportedFile(path));
    QStringList texts;
    const QString open = QStringLiteral("<div style=\"font-size:14px;\">");
    for (qsizetype at = page.indexOf(open); at >= 0; at = page.indexOf(open, at + 1)) {
        const qsizetype start = at + open.size();
        texts.append(page.mid(start, page.indexOf(QStringLiteral("</div>"), start) - start));
    }
    return texts;
}

class ExportSMSThreadTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_english.load(QStringLiteral(":/en.qm")));
        QCoreApplication::installTranslator(&m_english);
        ASSERT_TRUE(m_dir.isValid());
        // No picture folders unless a test makes them.
        m_previousProgramDir = setExportProgramDir(m_dir.filePath(QStringLiteral("program")));
        m_previousWriters = setExportWriterCount(0);
    }
    void TearDown() override
    {
        setExportWriterCount(m_previousWriters);
        setExportProgramDir(m_previousProgramDir);
        QCoreApplication::removeTranslator(&m_english);
    }

    QString path(const QString &name) const { return m_dir.filePath(name); }

    // Runs an export to the end and returns what the dialog was told.
    RecordingProgress &run(const QList<_MsgMessage *> &messages, const QString &output, int code,
                           bool ascending = true, int cancelAfterChecks = -1)
    {
        m_progress = std::make_unique<RecordingProgress>();
        if (cancelAfterChecks >= 0)
            m_progress->cancelAfterChecks(cancelAfterChecks);
        ExportSMSThread thread(messages, output, code, ascending, m_progress.get());
        EXPECT_TRUE(m_progress->runWorker(thread));
        return *m_progress;
    }

    QTemporaryDir m_dir;
    QTranslator m_english;
    QString m_previousProgramDir;
    int m_previousWriters = 0;
    std::unique_ptr<RecordingProgress> m_progress;
};

// Three conversations: Ann (two messages), a group, and a message without one.
struct ThreeChats
{
    MsgSetBuilder b;
    QList<_MsgMessage *> messages;
    ThreeChats()
    {
        _MsgChat *ann = b.chat(1, "+15550001", 300);
        _MsgHandle *annHandle = b.handle(ann, 10, "+15550001", "Ann");
        _MsgChat *group = b.chat(2, "chat42", 200);
        _MsgHandle *bob = b.handle(group, 11, "+15550002", "Bob");
        b.handle(group, 12, "+15550003");
        messages = {b.message(ann, 100, 300, "ann late", annHandle), b.message(group, 101, 200, "group", bob),
                    b.message(nullptr, 102, 100, "lost"), b.message(ann, 103, 50, "ann early", annHandle)};
    }
};

TEST_F(ExportSMSThreadTest, FormatCodes)
{
    struct Case
    {
        const char *label;
        int code;
        QString output;
        QStringList files;
    };
    const QList<Case> cases = {
        {"text", Text, "out.txt", {"out.txt"}},
        {"text under a .doc name", Text, "out.doc", {"out.doc"}},
        {"csv", Csv, "out.csv", {"out.csv"}},
        {"pdf: one file per conversation",
         Pdf,
         "out-pdf",
         {"out-pdf/", "out-pdf/Ann (+15550001).pdf", "out-pdf/chat42.pdf", "out-pdf/unknown-chat.pdf"}},
        {"html: one file per conversation and the pictures folder",
         Html,
         "out-html",
         {"out-html/", "out-html/Ann (+15550001).html", "out-html/chat42.html", "out-html/files/",
          "out-html/unknown-chat.html"}},
    };
    for (const Case &c : cases) {
        QTemporaryDir dir;
        ThreeChats data;
        RecordingProgress progress;
        ExportSMSThread thread(data.messages, dir.filePath(c.output), c.code, true, &progress);
        ASSERT_TRUE(progress.runWorker(thread)) << c.label;
        EXPECT_EQ(progress.endings(), 1) << c.label;
        EXPECT_EQ(progress.successText(), QStringLiteral("Successfully exported 4 SMS.")) << c.label;
        EXPECT_EQ(tree(dir.path()), c.files) << c.label;
    }
}

TEST_F(ExportSMSThreadTest, ProgressPosts)
{
    ThreeChats data;
    RecordingProgress &progress = run(data.messages, path("p.csv"), Csv);
    const QList<RecordingProgress::Post> updates = progress.updates();
    ASSERT_GE(updates.size(), 2);
    EXPECT_EQ(updates.first().text, QStringLiteral("Exporting SMS..."));
    EXPECT_EQ(updates.first().progress, -1);
    EXPECT_EQ(updates.first().progressText, QString());
    // Four messages: each changes the percentage, so each is posted.
    ASSERT_EQ(updates.size(), 5);
    const QList<int> percents = {25, 50, 75, 100};
    for (int i = 1; i <= 4; ++i) {
        EXPECT_EQ(updates.at(i).text, QString()) << i;
        EXPECT_EQ(updates.at(i).progress, percents.at(i - 1)) << i;
        EXPECT_EQ(updates.at(i).progressText, QStringLiteral("SMS: %1/4").arg(i)) << i;
    }
    EXPECT_EQ(progress.postsAfterEnd(), 0);
}

TEST_F(ExportSMSThreadTest, LargeExportPostsSparingly)
{
    MsgSetBuilder b;
    _MsgChat *chat = b.chat(1, "+15550001");
    b.handle(chat, 10, "+15550001");
    QList<_MsgMessage *> messages;
    for (int i = 0; i < 5000; ++i)
        messages.append(b.message(chat, i + 1, i, "x"));
    RecordingProgress &progress = run(messages, path("big.txt"), Text);
    EXPECT_EQ(progress.successText(), QStringLiteral("Successfully exported 5000 SMS."));
    const QList<RecordingProgress::Post> updates = progress.updates();
    EXPECT_LE(updates.size(), 1 + 101 + 100);
    EXPECT_EQ(updates.last().progress, 100);
    EXPECT_EQ(updates.last().progressText, QStringLiteral("SMS: 5000/5000"));
}

TEST_F(ExportSMSThreadTest, TextAndCsvKeepTheOrderGiven)
{
    ThreeChats data;
    run(data.messages, path("o.csv"), Csv);
    const QList<QByteArray> lines = readExportedFile(path("o.csv")).split('\n');
    ASSERT_EQ(lines.size(), 6);
    EXPECT_TRUE(lines.at(1).endsWith(",ann late"));
    EXPECT_TRUE(lines.at(2).endsWith(",group"));
    EXPECT_TRUE(lines.at(3).endsWith(",lost"));
    EXPECT_TRUE(lines.at(4).endsWith(",ann early"));
}

TEST_F(ExportSMSThreadTest, HtmlIsOrderedByConversation)
{
    MsgSetBuilder b;
    _MsgChat *sms = b.chat(1, "+15550001", 500);
    b.handle(sms, 10, "+15550001", "Ann");
    // The same correspondent over iMessage: one conversation, one file.
    _MsgChat *imessage = b.chat(2, "+15550001", 900);
    imessage->service_name = "iMessage";
    b.handle(imessage, 11, "+15550001", "Ann");
    // Dated between Ann's two chats: it must not split them.
    _MsgChat *bob = b.chat(3, "+15550002", 700);
    b.handle(bob, 12, "+15550002", "Bob");
    const QList<_MsgMessage *> messages = {b.message(imessage, 1000, 900, "i late"), b.message(sms, 50, 100, "s early"),
                                           b.message(bob, 2000, 700, "bob"), b.message(imessage, 900, 400, "i middle"),
                                           b.message(sms, 60, 500, "s late")};
    struct Case
    {
        bool ascending;
        QStringList texts;
    };
    const QList<Case> cases = {{true, {"s early", "i middle", "s late", "i late"}},
                               {false, {"i late", "s late", "i middle", "s early"}}};
    for (const Case &c : cases) {
        QTemporaryDir dir;
        RecordingProgress progress;
        ExportSMSThread thread(messages, dir.filePath("h"), Html, c.ascending, &progress);
        ASSERT_TRUE(progress.runWorker(thread));
        EXPECT_EQ(tree(dir.filePath("h")), (QStringList{"Ann (+15550001).html", "Bob (+15550002).html", "files/"}));
        EXPECT_EQ(htmlTexts(dir.filePath("h/Ann (+15550001).html")), c.texts) << c.ascending;
    }
    // Ann's conversation is dated by its newest chat, after Bob's.
    QList<_MsgMessage *> sorted = messages;
    sortByConversation(sorted, true);
    EXPECT_EQ(sorted.first()->text, QStringLiteral("bob"));
    sortByConversation(sorted, false);
    EXPECT_EQ(sorted.last()->text, QStringLiteral("bob"));
}

TEST_F(ExportSMSThreadTest, ConversationFileNames)
{
    MsgSetBuilder b;
    _MsgChat *named = b.chat(1, "+1");
    named->display_name = "Work: \"team\" <a/b>?";
    b.handle(named, 10, "+1");
    _MsgChat *unknown1 = b.chat(2, "one");
    _MsgChat *unknown2 = b.chat(3, "two");
    _MsgChat *forbidden = b.chat(4, "+4");
    forbidden->display_name = "*?|";
    _MsgChat *group = b.chat(5, "chat77");
    b.handle(group, 11, "+2");
    b.handle(group, 12, "+3");
    _MsgChat *contact = b.chat(6, "+5");
    b.handle(contact, 13, "+5", "Zoë");
    _MsgChat *longName = b.chat(7, "+6");
    longName->display_name = QString(300, QChar(0x00E9));

    struct Case
    {
        const char *label;
        const _MsgChat *chat;
        QString base;
    };
    const QList<Case> cases = {
        {"forbidden characters removed", named, "Work team ab"},
        {"a chat without members", unknown1, "Unknown"},
        {"nothing left of the name", forbidden, "unknown-chat"},
        {"a group by its identifier", group, "chat77"},
        {"a contact with its number", contact, QStringLiteral("Zoë (+5)")},
        {"no conversation", nullptr, "unknown-chat"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(conversationFileBase(c.chat), c.base) << c.label;
    const QString cut = conversationFileBase(longName);
    EXPECT_LE(cut.toUtf8().size(), 200);
    EXPECT_EQ(cut, QString(100, QChar(0x00E9)));

    // Two conversations of one name get two files.
    const QList<_MsgMessage *> messages = {b.message(unknown1, 1, 10, "first"), b.message(unknown2, 2, 20, "second"),
                                           b.message(named, 3, 30, "third")};
    run(messages, path("names"), Html);
    EXPECT_EQ(tree(path("names")), (QStringList{"Unknown(1).html", "Unknown.html", "Work team ab.html", "files/"}));
    EXPECT_EQ(htmlTexts(path("names/Unknown.html")) + htmlTexts(path("names/Unknown(1).html")),
              (QStringList{"first", "second"}));
}

TEST_F(ExportSMSThreadTest, SameLastDateNeverInterleaves)
{
    MsgSetBuilder b;
    _MsgChat *a = b.chat(1, "aaa", 100);
    b.handle(a, 10, "aaa");
    _MsgChat *z = b.chat(2, "zzz", 100);
    b.handle(z, 11, "zzz");
    QList<_MsgMessage *> messages;
    for (int i = 0; i < 6; ++i)
        messages.append(b.message(i % 2 ? a : z, i + 1, 10 * i, QStringLiteral("m%1").arg(i)));
    run(messages, path("ties"), Pdf);
    EXPECT_EQ(tree(path("ties")), (QStringList{"aaa.pdf", "zzz.pdf"}));

    QList<_MsgMessage *> sorted = messages;
    sortByConversation(sorted, true);
    QStringList order;
    for (const _MsgMessage *m : sorted)
        order.append(m->text);
    EXPECT_EQ(order, (QStringList{"m1", "m3", "m5", "m0", "m2", "m4"}));
}

TEST_F(ExportSMSThreadTest, CompareByChat)
{
    MsgSetBuilder b;
    _MsgChat *old = b.chat(1, "OLD", 100);
    _MsgChat *oldLower = b.chat(2, "old", 300);
    _MsgChat *recent = b.chat(3, "new", 200);
    _MsgChat *tie = b.chat(4, "tie", 200);
    _MsgMessage *o1 = b.message(old, 1, 50);
    _MsgMessage *o2 = b.message(oldLower, 100, 10);
    _MsgMessage *r = b.message(recent, 2, 5);
    _MsgMessage *t = b.message(tie, 3, 1);
    _MsgMessage *none = b.message(nullptr, 4, 99999);
    struct Case
    {
        const char *label;
        const _MsgMessage *a;
        const _MsgMessage *b;
        bool less;
    };
    const QList<Case> cases = {
        {"same identifier in another case: message order", o2, o1, true},
        {"same identifier, reversed", o1, o2, false},
        {"older conversation first", o1, r, true},
        {"newer conversation later", r, o1, false},
        {"same last date: by identifier", r, t, true},
        {"same last date, reversed", t, r, false},
        {"no conversation counts as last date 0", none, o1, true},
        {"irreflexive", r, r, false},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(compareByChat(c.a, c.b), c.less) << c.label;
        EXPECT_EQ(compareByChatDescending(c.b, c.a), c.less) << c.label;
    }
}

TEST_F(ExportSMSThreadTest, UnknownFormatCode)
{
    writeFile(path("keep.txt"), "old");
    ThreeChats data;
    RecordingProgress &progress = run(data.messages, path("keep.txt"), 7);
    EXPECT_EQ(progress.errorText(), QStringLiteral("not support export format."));
    EXPECT_EQ(progress.endings(), 1);
    EXPECT_EQ(readExportedFile(path("keep.txt")), QByteArray("old"));
    EXPECT_EQ(tree(m_dir.path()), (QStringList{"keep.txt"}));

    // The code is examined per message: with none, nothing is wrong.
    RecordingProgress &empty = run({}, path("keep.txt"), 7);
    EXPECT_EQ(empty.successText(), QStringLiteral("Successfully exported 0 SMS."));
}

TEST_F(ExportSMSThreadTest, EmptyList)
{
    struct Case
    {
        int code;
        QString output;
        QStringList tree;
    };
    const QList<Case> cases = {
        {Text, "e.txt", {}}, {Csv, "e.csv", {}}, {Pdf, "e-pdf", {"e-pdf/"}}, {Html, "e-html", {"e-html/"}}};
    for (const Case &c : cases) {
        QTemporaryDir dir;
        RecordingProgress progress;
        ExportSMSThread thread({}, dir.filePath(c.output), c.code, true, &progress);
        ASSERT_TRUE(progress.runWorker(thread));
        EXPECT_EQ(progress.successText(), QStringLiteral("Successfully exported 0 SMS.")) << c.code;
        EXPECT_EQ(tree(dir.path()), c.tree) << c.code;
    }
}

TEST_F(ExportSMSThreadTest, CancelIntoANewFolderLeavesNothing)
{
    const int codes[] = {Text, Csv, Pdf, Html};
    for (int code : codes) {
        QTemporaryDir dir;
        ThreeChats data;
        RecordingProgress progress;
        progress.cancelAfterChecks(3);
        const QString output = dir.filePath(code < Pdf ? "new/out.file" : "new/deeper/out");
        if (code < Pdf) {
            ASSERT_TRUE(QDir().mkpath(dir.filePath("new")));
        }
        ExportSMSThread thread(data.messages, output, code, true, &progress);
        ASSERT_TRUE(progress.runWorker(thread));
        EXPECT_EQ(progress.endings(), 0) << code;
        EXPECT_EQ(progress.result(), -1) << code;
        EXPECT_EQ(tree(dir.path()), code < Pdf ? QStringList{"new/"} : QStringList{}) << code;
    }
}

TEST_F(ExportSMSThreadTest, CancelIntoAnExistingFolderKeepsWhatItHeld)
{
    const QString out = path("existing");
    ASSERT_TRUE(QDir().mkpath(out + "/files"));
    writeFile(out + "/notes.txt", "mine");
    writeFile(out + "/Ann (+15550001).html", "older export");
    writeFile(out + "/files/picture.png", "older picture");
    ASSERT_TRUE(QDir().mkpath(path("program/bubble")));
    writeFile(path("program/bubble/picture.png"), "new picture");
    writeFile(path("program/bubble/other.png"), "other");
    const QStringList before = tree(out);

    ThreeChats data;
    // Two conversations are written, the third is cancelled.
    RecordingProgress &progress = run(data.messages, out, Html, true, 3);
    EXPECT_EQ(progress.endings(), 0);
    EXPECT_EQ(tree(out), before);
    EXPECT_EQ(readExportedFile(out + "/notes.txt"), QByteArray("mine"));
    EXPECT_EQ(readExportedFile(out + "/Ann (+15550001).html"), QByteArray("older export"));
    EXPECT_EQ(readExportedFile(out + "/files/picture.png"), QByteArray("older picture"));

    // Run to the end, the older export is replaced; the user's own files stay.
    RecordingProgress &done = run(data.messages, out, Html);
    EXPECT_EQ(done.successText(), QStringLiteral("Successfully exported 4 SMS."));
    EXPECT_EQ(tree(out), (QStringList{"Ann (+15550001).html", "chat42.html", "files/", "files/other.png",
                                      "files/picture.png", "notes.txt", "unknown-chat.html"}));
    EXPECT_EQ(htmlTexts(out + "/Ann (+15550001).html"), (QStringList{"ann early", "ann late"}));
    EXPECT_EQ(readExportedFile(out + "/files/picture.png"), QByteArray("older picture"));
}

TEST_F(ExportSMSThreadTest, CancelKeepsAnOlderSingleFile)
{
    writeFile(path("old.csv"), "older export");
    ThreeChats data;
    RecordingProgress &progress = run(data.messages, path("old.csv"), Csv, true, 2);
    EXPECT_EQ(progress.endings(), 0);
    EXPECT_EQ(tree(m_dir.path()), (QStringList{"old.csv"}));
    EXPECT_EQ(readExportedFile(path("old.csv")), QByteArray("older export"));

    run(data.messages, path("old.csv"), Csv);
    EXPECT_TRUE(readExportedFile(path("old.csv")).startsWith("date,send,person,number,content\n"));
}

TEST_F(ExportSMSThreadTest, ErrorRemovesOnlyWhatTheRunWrote)
{
    const QString out = path("blocked");
    // A folder where a conversation's file would go: that file cannot take its name.
    ASSERT_TRUE(QDir().mkpath(out + "/chat42.pdf"));
    writeFile(out + "/notes.txt", "mine");
    ThreeChats data;
    RecordingProgress &progress = run(data.messages, out, Pdf);
    EXPECT_EQ(progress.endings(), 1);
    EXPECT_TRUE(progress.errorText().contains(QStringLiteral("chat42.pdf"))) << qPrintable(progress.errorText());
    EXPECT_EQ(tree(out), (QStringList{"chat42.pdf/", "notes.txt"}));
}

TEST_F(ExportSMSThreadTest, UnwritableOutputIsAnError)
{
    ThreeChats data;
    RecordingProgress &file = run(data.messages, unwritableExportPath("x.txt"), Text);
    EXPECT_EQ(file.endings(), 1);
    EXPECT_FALSE(file.errorText().isEmpty());
    EXPECT_EQ(file.successText(), QString());

    writeFile(path("plain"), "a file, not a folder");
    RecordingProgress &folder = run(data.messages, path("plain"), Html);
    EXPECT_EQ(folder.endings(), 1);
    EXPECT_FALSE(folder.errorText().isEmpty());
    EXPECT_EQ(readExportedFile(path("plain")), QByteArray("a file, not a folder"));
}

TEST_F(ExportSMSThreadTest, PictureFolders)
{
    struct Case
    {
        const char *label;
        bool bubble;
        bool emoji;
        QStringList tree;
    };
    const QList<Case> cases = {
        {"none", false, false, {"chat.html", "files/"}},
        {"bubbles: files only, no sub-folders", true, false, {"chat.html", "files/", "files/a.png", "files/b.png"}},
        {"emoji", false, true, {"chat.html", "emoji/", "emoji/e415.png", "files/"}},
    };
    for (const Case &c : cases) {
        QTemporaryDir program;
        if (c.bubble) {
            ASSERT_TRUE(QDir().mkpath(program.filePath("bubble/nested")));
            writeFile(program.filePath("bubble/a.png"), "a");
            writeFile(program.filePath("bubble/b.png"), "b");
            writeFile(program.filePath("bubble/nested/c.png"), "c");
        }
        if (c.emoji) {
            ASSERT_TRUE(QDir().mkpath(program.filePath("emoji")));
            writeFile(program.filePath("emoji/e415.png"), "e");
        }
        setExportProgramDir(program.path());
        MsgSetBuilder b;
        _MsgChat *chat = b.chat(1, "chat");
        b.handle(chat, 1, "+1");
        b.handle(chat, 2, "+2");
        QTemporaryDir dir;
        RecordingProgress progress;
        ExportSMSThread thread({b.message(chat, 1, 0, "x")}, dir.filePath("out"), Html, true, &progress);
        ASSERT_TRUE(progress.runWorker(thread));
        EXPECT_EQ(tree(dir.filePath("out")), c.tree) << c.label;
    }
}

// Every file below root with its bytes; a PDF's creation date, the one thing
// that differs between two runs, is masked.
QMap<QString, QByteArray> contents(const QString &root)
{
    static const QRegularExpression date(QStringLiteral("/CreationDate \\(D:[^)]*\\)"));
    QMap<QString, QByteArray> files;
    for (const QString &rel : tree(root)) {
        if (rel.endsWith(QLatin1Char('/')))
            continue;
        QByteArray bytes = readExportedFile(QDir(root).filePath(rel));
        if (rel.endsWith(QLatin1String(".pdf")))
            bytes = QString::fromLatin1(bytes).replace(date, QStringLiteral("/CreationDate (masked)")).toLatin1();
        files.insert(rel, bytes);
    }
    return files;
}

// The "n" of every "Messages: n/total" progress post, in order.
QList<int> progressCounts(const RecordingProgress &progress)
{
    QList<int> counts;
    static const QRegularExpression count(QStringLiteral("^SMS: (\\d+)/\\d+$"));
    for (const RecordingProgress::Post &p : progress.updates()) {
        const QRegularExpressionMatch m = count.match(p.progressText);
        if (m.hasMatch())
            counts.append(m.captured(1).toInt());
    }
    return counts;
}

// Strictly rising message counts and percentages that never fall.
void expectRising(const RecordingProgress &progress, const char *label)
{
    const QList<int> counts = progressCounts(progress);
    for (qsizetype i = 1; i < counts.size(); ++i)
        EXPECT_LT(counts.at(i - 1), counts.at(i)) << label << " at " << i;
    const QList<int> values = progress.progressValues();
    for (qsizetype i = 1; i < values.size(); ++i)
        EXPECT_LE(values.at(i - 1), values.at(i)) << label << " at " << i;
}

// Conversations whose file names clash: five chats shown as "Family", one as
// "family", one whose name loses a slash, three without members ("Unknown")
// and two groups, given interleaved. Chat n is dated n * 100, so the export
// order is the chats' order; each has messages "<n>-0", "<n>-1", ...
struct ClashingChats
{
    MsgSetBuilder b;
    QList<_MsgMessage *> messages;
    QStringList files; // expected, in export order
    QList<QStringList> texts; // of each file

    explicit ClashingChats(int perChat = 3)
    {
        struct Chat
        {
            const char *identifier;
            const char *displayName;
            int members;
            const char *file;
        };
        const QList<Chat> chats = {
            {"+1001", "Family", 1, "Family"},      {"+1002", "Family", 1, "Family(1)"},
            {"chat1", nullptr, 2, "chat1"},        {"+1003", "Family", 1, "Family(2)"},
            {"+1004", "family", 1, "family(3)"},   {"+1005", nullptr, 0, "Unknown"},
            {"+1006", "Fam/ily", 1, "Family(4)"},  {"+1007", nullptr, 0, "Unknown(1)"},
            {"CHAT1x", nullptr, 3, "CHAT1x"},       {"+1008", "Family", 1, "Family(5)"},
            {"+1009", nullptr, 0, "Unknown(2)"},   {"+1010", "FAMILY", 1, "FAMILY(6)"},
        };
        QList<_MsgChat *> made;
        qint64 handleId = 100;
        for (int c = 0; c < chats.size(); ++c) {
            _MsgChat *chat = b.chat(c + 1, QString::fromLatin1(chats.at(c).identifier), (c + 1) * 100);
            if (chats.at(c).displayName)
                chat->display_name = QString::fromLatin1(chats.at(c).displayName);
            for (int m = 0; m < chats.at(c).members; ++m, ++handleId)
                b.handle(chat, handleId, QStringLiteral("+2%1").arg(handleId));
            made.append(chat);
            files.append(QString::fromLatin1(chats.at(c).file));
            texts.append(QStringList());
        }
        qint64 key = 1;
        for (int i = 0; i < perChat; ++i) {
            for (int c = int(made.size()) - 1; c >= 0; --c) {
                const QString text = QStringLiteral("%1-%2").arg(c + 1).arg(i);
                messages.append(b.message(made.at(c), key++, (c + 1) * 100 - perChat + i, text));
                texts[c].append(text);
            }
        }
    }

    QStringList tree(const QString &ext, bool html) const
    {
        QStringList list;
        for (const QString &f : files)
            list.append(f + ext);
        if (html)
            list.append(QStringLiteral("files/"));
        list.sort();
        return list;
    }
};

TEST_F(ExportSMSThreadTest, ManyWritersKeepNamesOrderAndBytes)
{
    struct Case
    {
        const char *label;
        int code;
        int writers;
    };
    const QList<Case> cases = {
        {"html, one writer", Html, 1}, {"html, six writers", Html, 6},   {"html, more writers than chats", Html, 16},
        {"pdf, one writer", Pdf, 1},   {"pdf, six writers", Pdf, 6},     {"pdf, default writers", Pdf, 0},
    };
    QMap<int, QMap<QString, QByteArray>> single; // of each format, with one writer
    for (const Case &c : cases) {
        ClashingChats data(4);
        setExportWriterCount(c.writers);
        QTemporaryDir dir;
        const QString out = dir.filePath("out");
        RecordingProgress progress;
        ExportSMSThread thread(data.messages, out, c.code, true, &progress);
        ASSERT_TRUE(progress.runWorker(thread)) << c.label;
        EXPECT_EQ(progress.successText(), QStringLiteral("Successfully exported 48 SMS.")) << c.label;
        EXPECT_EQ(progress.endings(), 1) << c.label;
        const bool html = c.code == Html;
        EXPECT_EQ(tree(out), data.tree(html ? ".html" : ".pdf", html)) << c.label;
        if (html) {
            for (int i = 0; i < data.files.size(); ++i)
                EXPECT_EQ(htmlTexts(QDir(out).filePath(data.files.at(i) + ".html")), data.texts.at(i))
                    << c.label << " " << qPrintable(data.files.at(i));
        }
        expectRising(progress, c.label);
        EXPECT_EQ(progressCounts(progress).last(), 48) << c.label;

        const QMap<QString, QByteArray> files = contents(out);
        if (c.writers == 1)
            single.insert(c.code, files);
        else
            EXPECT_TRUE(files == single.value(c.code)) << c.label << ": not the bytes of one writer";
    }
    setExportWriterCount(0);
    EXPECT_GE(exportWriterCount(), 1);
    EXPECT_LE(exportWriterCount(), 8);
}

TEST_F(ExportSMSThreadTest, CancelWhileManyWriteLeavesNothingStaged)
{
    // 12 conversations of 5 messages: every message reads the flag once.
    struct Case
    {
        const char *label;
        int code;
        int checksBeforeCancel;
    };
    const QList<Case> cases = {
        {"pdf, before the first message", Pdf, 0}, {"pdf, in the first conversations", Pdf, 7},
        {"pdf, half way", Pdf, 30},                {"pdf, at the last message", Pdf, 59},
        {"html, half way", Html, 30},              {"html, at the last message", Html, 59},
    };
    setExportWriterCount(4);
    for (const Case &c : cases) {
        QTemporaryDir dir;
        const QString out = dir.filePath("existing");
        ASSERT_TRUE(QDir().mkpath(out));
        writeFile(out + "/notes.txt", "mine");
        writeFile(out + "/Family(1).pdf", "older export");
        writeFile(out + "/Family(1).html", "older export");
        const QStringList before = tree(out);

        ClashingChats data(5);
        RecordingProgress progress;
        progress.cancelAfterChecks(c.checksBeforeCancel);
        ExportSMSThread thread(data.messages, out, c.code, true, &progress);
        ASSERT_TRUE(progress.runWorker(thread)) << c.label;
        EXPECT_EQ(progress.endings(), 0) << c.label;
        EXPECT_EQ(progress.successText(), QString()) << c.label;
        EXPECT_EQ(tree(out), before) << c.label;
        EXPECT_EQ(readExportedFile(out + "/Family(1).pdf"), QByteArray("older export")) << c.label;
        expectRising(progress, c.label);
        // Only messages read before the cancel can have been counted.
        const QList<int> counts = progressCounts(progress);
        if (!counts.isEmpty())
            EXPECT_LE(counts.last(), c.checksBeforeCancel) << c.label;
    }
}

// Limits the size of any file the process writes; a write past it fails
// with EFBIG, as on a full disk.
class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        getrlimit(RLIMIT_FSIZE, &m_saved);
        m_handler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit small = m_saved;
        small.rlim_cur = bytes;
        m_set = setrlimit(RLIMIT_FSIZE, &small) == 0;
    }
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &m_saved);
        std::signal(SIGXFSZ, m_handler);
    }
    bool isSet() const { return m_set; }

private:
    rlimit m_saved{};
    void (*m_handler)(int) = nullptr;
    bool m_set = false;
};

TEST_F(ExportSMSThreadTest, ErrorInALaterConversationWhileEarlierOnesAreWritten)
{
    // Conversations of 4 short messages, except the long ones named in the
    // case: files past the limit cannot be written. The run must report
    // the first long one's error, claim none of the messages after it and
    // leave none of its files.
    struct Case
    {
        const char *label;
        int code;
        int writers;
        QList<int> longOnes; // positions in export order
    };
    const QList<Case> cases = {
        {"html: a late conversation fails while the first are written", Html, 4, {9}},
        {"html: the earlier of two failures counts", Html, 4, {6, 10}},
        {"html: one writer", Html, 1, {6, 10}},
        {"pdf: a late conversation fails while the first are written", Pdf, 4, {8}},
        {"pdf: the earlier of two failures counts", Pdf, 6, {5, 11}},
    };
    for (const Case &c : cases) {
        MsgSetBuilder b;
        QList<_MsgMessage *> messages;
        QList<int> firstOf; // the index of each conversation's first message
        const QString longText = QStringLiteral("%1 the quick brown fox jumps over the lazy dog, ").repeated(12);
        qint64 key = 1;
        for (int conv = 0; conv < 12; ++conv) {
            _MsgChat *chat = b.chat(conv + 1, QStringLiteral("+300%1").arg(conv), (conv + 1) * 1000);
            b.handle(chat, conv + 1, QStringLiteral("+300%1").arg(conv));
            firstOf.append(int(messages.size()));
            const bool isLong = c.longOnes.contains(conv);
            // Of two long ones the earlier is longer, so that the later one
            // tends to fail first.
            const bool longer = isLong && conv == c.longOnes.first() && c.longOnes.size() > 1;
            const int count = longer ? 450 : isLong ? 150 : 4;
            for (int i = 0; i < count; ++i) {
                const QString text = isLong ? longText.arg(i) : QStringLiteral("short %1").arg(i);
                messages.append(b.message(chat, key++, conv * 1000 + i, text));
            }
        }
        firstOf.append(int(messages.size()));

        // The limit: between the largest short file and the smallest long
        // one, as written without a limit.
        setExportWriterCount(c.writers);
        qint64 largestShort = 0;
        qint64 smallestLong = std::numeric_limits<qint64>::max();
        {
            QTemporaryDir free;
            RecordingProgress progress;
            ExportSMSThread thread(messages, free.filePath("out"), c.code, true, &progress);
            ASSERT_TRUE(progress.runWorker(thread)) << c.label;
            ASSERT_EQ(progress.endings(), 1) << c.label;
            const QStringList files = QDir(free.filePath("out")).entryList(QDir::Files, QDir::Name);
            ASSERT_EQ(files.size(), 12) << c.label;
            for (int conv = 0; conv < 12; ++conv) {
                const QString name = QStringLiteral("+300%1").arg(conv) + (c.code == Pdf ? ".pdf" : ".html");
                const qint64 size = QFileInfo(free.filePath("out/" + name)).size();
                if (c.longOnes.contains(conv))
                    smallestLong = qMin(smallestLong, size);
                else
                    largestShort = qMax(largestShort, size);
            }
        }
        ASSERT_LT(largestShort * 2, smallestLong) << c.label;

        const QString out = path("limited");
        ASSERT_TRUE(QDir().mkpath(out));
        writeFile(out + "/notes.txt", "mine");
        const QStringList before = tree(out);
        RecordingProgress progress;
        {
            FileSizeLimit limit(rlim_t(largestShort + smallestLong) / 2);
            ASSERT_TRUE(limit.isSet());
            ExportSMSThread thread(messages, out, c.code, true, &progress);
            ASSERT_TRUE(progress.runWorker(thread)) << c.label;
        }
        EXPECT_EQ(progress.endings(), 1) << c.label;
        EXPECT_EQ(progress.successText(), QString()) << c.label;
        const int firstLong = c.longOnes.first();
        // An HTML file that cannot be written is named in the error.
        if (c.code == Html)
            EXPECT_TRUE(progress.errorText().contains(QStringLiteral("/+300%1.html").arg(firstLong)))
                << c.label << ": " << qPrintable(progress.errorText());
        else
            EXPECT_FALSE(progress.errorText().isEmpty()) << c.label;
        EXPECT_EQ(tree(out), before) << c.label;
        expectRising(progress, c.label);
        const QList<int> counts = progressCounts(progress);
        ASSERT_FALSE(counts.isEmpty()) << c.label;
        // Everything before the failing conversation was written and counted;
        // nothing after it was.
        EXPECT_GE(counts.last(), firstOf.at(firstLong)) << c.label;
        EXPECT_LT(counts.last(), firstOf.at(firstLong + 1)) << c.label;
    }
}

} // namespace
