#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <csignal>
#include <memory>
#include <vector>

#include "Log.h"
#include "TestClock.h"

namespace
{

QDateTime utc(int y, int mo, int d, int h, int mi, int s)
{
    return QDateTime(QDate(y, mo, d), QTime(h, mi, s), Qt::UTC);
}

QByteArray readAll(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll();
}

void touch(const QString &path)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
}

class LogTest : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(tmp.isValid()); }
    void TearDown() override { qInstallMessageHandler(nullptr); }

    QString folder() const { return tmp.filePath("qlogs"); }
    // The name and line time the log derives from the test clock (local time).
    static QString fileNameFor(const QDateTime &t)
    {
        return "log-" + t.toLocalTime().toString("yyyyMMdd") + ".txt";
    }
    static QString timeOf(const QDateTime &t) { return t.toLocalTime().toString("hh:mm:ss"); }

    QTemporaryDir tmp;
    TestClock clock{utc(2023, 4, 5, 9, 5, 3)};
};

TEST_F(LogTest, InitLogKeepsTheFilesWithTheGreatestNames)
{
    struct Case {
        const char *name;
        QStringList files;
        int keep;
        QStringList remaining;
    };
    QStringList eleven;
    for (int day = 1; day <= 11; ++day)
        eleven << QStringLiteral("log-202301%1.txt").arg(day, 2, 10, QLatin1Char('0'));
    const QStringList lastTen = eleven.mid(1);
    const QStringList ten = eleven.mid(0, 10);

    const Case cases[] = {
        {"eleven days: only the oldest goes", eleven, 10, lastTen},
        {"ten files: nothing goes", ten, 10, ten},
        {"fewer files: nothing goes", eleven.mid(0, 3), 10, eleven.mid(0, 3)},
        {"other plain files count too", QStringList(ten) << "a-notes.txt", 10, ten},
        {"keep nothing", eleven.mid(0, 2), 0, {}},
        {"a negative keep keeps nothing", eleven.mid(0, 2), -3, {}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        QDir(folder()).removeRecursively();
        QDir().mkpath(folder());
        for (const QString &f : c.files)
            touch(QDir(folder()).filePath(f));
        // A sub-folder is no plain file and neither counts nor goes.
        QDir().mkpath(QDir(folder()).filePath("0-sub"));

        initLog(folder(), c.keep);
        QStringList left = QDir(folder()).entryList(QDir::Files, QDir::Name);
        EXPECT_EQ(left, c.remaining);
        EXPECT_TRUE(QFileInfo(QDir(folder()).filePath("0-sub")).isDir());
    }
}

TEST_F(LogTest, InitLogWithoutAFolderDeletesNothing)
{
    QTemporaryDir cwd;
    const QString old = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(cwd.path()));
    touch(cwd.filePath("precious.txt"));
    initLog(QString(), 0);
    EXPECT_TRUE(QFile::exists(cwd.filePath("precious.txt")));
    QDir::setCurrent(old);
}

TEST_F(LogTest, EachTypeHasItsLine)
{
    initLog(folder(), 10);
    qDebug("a debug line");
    qInfo("an info line");
    qWarning("x");
    qCritical("%s", "bad 100%1 thing");
    const QString t = timeOf(clock.currentDateTime());
    const QByteArray expected = ("(D " + t + ") a debug line\n"
                                 "(" + t + ") an info line\n"
                                 "(W " + t + ") x\n"
                                 "(C " + t + ") bad 100%1 thing\n")
                                    .toUtf8();
    EXPECT_EQ(readAll(QDir(folder()).filePath(fileNameFor(clock.currentDateTime()))), expected);
}

TEST_F(LogTest, AWarningAtAGivenTimeInUtc)
{
    // The test processes run with TZ=UTC; then the file and the line show
    // the clock's own date and time.
    if (QDateTime::currentDateTime().offsetFromUtc() != 0)
        GTEST_SKIP() << "needs TZ=UTC";
    initLog(folder(), 10);
    qWarning() << "x";
    EXPECT_EQ(readAll(folder() + "/log-20230405.txt"), QByteArray("(W 09:05:03) x\n"));
}

TEST_F(LogTest, TextIsWrittenAsUtf8)
{
    initLog(folder(), 10);
    qWarning("%s", QStringLiteral("Zoë 😀").toUtf8().constData());
    const QByteArray line = readAll(QDir(folder()).filePath(fileNameFor(clock.currentDateTime())));
    EXPECT_TRUE(line.endsWith(QStringLiteral(") Zoë 😀\n").toUtf8())) << line.constData();
}

TEST_F(LogTest, DebugGoesToStandardOutputToo)
{
    initLog(folder(), 10);
    testing::internal::CaptureStdout();
    qDebug("seen on the console");
    qWarning("not on the console");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "seen on the console\n");
}

TEST_F(LogTest, ARunPastMidnightStaysInTheFileOfItsFirstMessage)
{
    clock.set(utc(2023, 4, 5, 23, 59, 59));
    const QString first = fileNameFor(clock.currentDateTime());
    initLog(folder(), 10);
    qWarning("before");
    clock.advanceSecs(2);
    qWarning("after");
    EXPECT_NE(fileNameFor(clock.currentDateTime()), first);
    EXPECT_EQ(QDir(folder()).entryList(QDir::Files), QStringList{first});
    EXPECT_EQ(readAll(QDir(folder()).filePath(first)).count('\n'), 2);
}

TEST_F(LogTest, AMissingFolderIsCreatedAndAnUnwritableOneRetriedLater)
{
    // A plain file where the log folder's parent should be: nothing can be
    // written, and nothing breaks.
    const QString blocker = tmp.filePath("blocker");
    touch(blocker);
    const QString nested = blocker + "/deep/qlogs";
    initLog(nested, 10);
    qWarning("lost");
    EXPECT_FALSE(QFileInfo::exists(nested));

    // Once the way is clear the next message opens the file.
    ASSERT_TRUE(QFile::remove(blocker));
    qWarning("kept");
    const QByteArray content = readAll(QDir(nested).filePath(fileNameFor(clock.currentDateTime())));
    EXPECT_TRUE(content.endsWith(") kept\n")) << content.constData();
    EXPECT_FALSE(content.contains("lost"));
}

TEST_F(LogTest, LinesOfSeveralThreadsNeverMix)
{
    initLog(folder(), 10);
    constexpr int kThreads = 8;
    constexpr int kLines = 400;
    std::vector<std::unique_ptr<QThread>> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back(QThread::create([t] {
            for (int i = 0; i < kLines; ++i)
                qWarning("thread %d line %d with some padding to make the lines long", t, i);
        }));
    }
    for (auto &th : threads)
        th->start();
    for (auto &th : threads)
        ASSERT_TRUE(th->wait(60000));

    const QByteArray content = readAll(QDir(folder()).filePath(fileNameFor(clock.currentDateTime())));
    ASSERT_TRUE(content.endsWith('\n'));
    const QList<QByteArray> lines = content.left(content.size() - 1).split('\n');
    ASSERT_EQ(lines.size(), kThreads * kLines);
    static const QRegularExpression pattern(
        "^\\(W \\d\\d:\\d\\d:\\d\\d\\) thread (\\d+) line (\\d+) with some padding to make the lines long$");
    QSet<QString> seen;
    for (const QByteArray &line : lines) {
        const QRegularExpressionMatch m = pattern.match(QString::fromUtf8(line));
        ASSERT_TRUE(m.hasMatch()) << line.constData();
        seen.insert(m.captured(1) + "/" + m.captured(2));
    }
    EXPECT_EQ(seen.size(), kThreads * kLines);
}

TEST_F(LogTest, AFatalMessageIsWrittenThenTheProgramAborts)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    // The dying child runs this test again from the start, so the folder must
    // be the same in both processes.
    const QString fatalFolder = QDir::tempPath() + "/fatal-qlogs";
    QDir(fatalFolder).removeRecursively();
    EXPECT_EXIT(
        {
            initLog(fatalFolder, 10);
            qFatal("it all ends here");
        },
        testing::KilledBySignal(SIGABRT), "");
    const QString t = timeOf(clock.currentDateTime());
    EXPECT_EQ(readAll(QDir(fatalFolder).filePath(fileNameFor(clock.currentDateTime()))),
              ("(F " + t + ") it all ends here\n").toUtf8());
    QDir(fatalFolder).removeRecursively();
}

} // namespace
