// The shipped backup tool: its command line, what it hands idevicebackup2,
// and its output under the backup runner's rule (a failure writes a line
// with "error", success none).

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonObject>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "DeviceStackFixture.h"
#include "MobileDeviceFramework.h"
#include "ThrownText.h"
#include "backup2tool.h"

namespace
{

const QString kUdid = QStringLiteral("00008020-001C2D3E4F5A6B7C");

struct ToolRun
{
    int exitCode = -1;
    QString out;
    QString err;
};

class BackupToolTest : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(bin.isValid() && root.isValid()); }

    // Puts a stand-in for one of libimobiledevice's tools first on PATH: it
    // writes its arguments, one a line, to PROGRAM.args, prints the given
    // text and exits with the code.
    void standIn(const QByteArray &output, int exitCode, const QString &program = QStringLiteral("idevicebackup2"))
    {
        QFile::remove(argsFile(program));
        const QString path = bin.filePath(program);
        QFile script(path);
        ASSERT_TRUE(script.open(QIODevice::WriteOnly));
        script.write("#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > \""
                     + QFile::encodeName(argsFile(program)) + "\"\nprintf '" + output + "'\nexit "
                     + QByteArray::number(exitCode) + "\n");
        script.close();
        QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        usePath = bin.path() + QLatin1Char(':') + qEnvironmentVariable("PATH");
    }
    QString argsFile(const QString &program) const { return bin.filePath(program + QStringLiteral(".args")); }
    QStringList handedOn(const QString &program = QStringLiteral("idevicebackup2")) const
    {
        QFile f(argsFile(program));
        if (!f.open(QIODevice::ReadOnly))
            return {QStringLiteral("(not run)")};
        return QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }

    ToolRun run(const QStringList &arguments) const
    {
        QProcess tool;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        if (!usePath.isEmpty())
            environment.insert(QStringLiteral("PATH"), usePath);
        tool.setProcessEnvironment(environment);
        tool.start(QDir(deviceStackDir()).absoluteFilePath(QStringLiteral("AppleMobileBackup")), arguments);
        EXPECT_TRUE(tool.waitForFinished(60000));
        return ToolRun{tool.exitCode(), QString::fromLocal8Bit(tool.readAllStandardOutput()),
                   QString::fromLocal8Bit(tool.readAllStandardError())};
    }
    QStringList backupLine() const
    {
        return {QStringLiteral("-u"), kUdid, QStringLiteral("--backup"), QStringLiteral("--target"), kUdid,
                QStringLiteral("--root"), root.path()};
    }
    QStringList restoreLine() const
    {
        return {QStringLiteral("-u"), kUdid, QStringLiteral("--restore"), QStringLiteral("--target"), kUdid,
                QStringLiteral("--root"), root.path(), QStringLiteral("--source"), kUdid};
    }

    QTemporaryDir bin;
    QTemporaryDir root;
    QString usePath;
};

bool saysError(const ToolRun &r)
{
    return (r.out + r.err).contains(QLatin1String("error"), Qt::CaseInsensitive);
}

} // namespace

TEST_F(BackupToolTest, TheRunnersTwoFormsBecomeIdevicebackup2sCommands)
{
    standIn("Backup Successful.\\n", 0);
    const ToolRun backup = run(backupLine());
    EXPECT_EQ(backup.exitCode, 0) << backup.err.toStdString();
    EXPECT_FALSE(saysError(backup)) << (backup.out + backup.err).toStdString();
    EXPECT_EQ(handedOn(), (QStringList{QStringLiteral("-u"), kUdid, QStringLiteral("backup"), root.path()}));

    // A restore puts back the device's own backup, whole, and only then is
    // the phone restarted.
    QDir(root.path()).mkpath(kUdid);
    standIn("Restarting device.\\n", 0, QStringLiteral("idevicediagnostics"));
    const ToolRun restore = run(restoreLine());
    EXPECT_EQ(restore.exitCode, 0) << restore.err.toStdString();
    EXPECT_FALSE(saysError(restore));
    EXPECT_EQ(handedOn(), (QStringList{QStringLiteral("-u"), kUdid, QStringLiteral("-s"), kUdid, QStringLiteral("restore"),
                                       QStringLiteral("--system"), QStringLiteral("--settings"),
                                       QStringLiteral("--no-reboot"), root.path()}));
    EXPECT_EQ(handedOn(QStringLiteral("idevicediagnostics")),
              (QStringList{QStringLiteral("-u"), kUdid, QStringLiteral("restart")}));
}

TEST_F(BackupToolTest, ARestoreThatFailsRestartsNothingAndOneThatCannotRestartIsStillDone)
{
    QDir(root.path()).mkpath(kUdid);
    standIn("ERROR: Could not start service com.apple.mobilebackup2.\\n", 0);
    standIn("", 0, QStringLiteral("idevicediagnostics"));
    const ToolRun failed = run(restoreLine());
    EXPECT_EQ(failed.exitCode, 1);
    EXPECT_TRUE(saysError(failed));
    EXPECT_EQ(handedOn(QStringLiteral("idevicediagnostics")), QStringList{QStringLiteral("(not run)")});

    // The phone holds the restored files either way; it is told to restart
    // by hand, and the runner takes the restore as done.
    standIn("Restore Successful.\\n", 0);
    standIn("ERROR: Could not connect to lockdownd.\\n", 255, QStringLiteral("idevicediagnostics"));
    const ToolRun unrestarted = run(restoreLine());
    EXPECT_EQ(unrestarted.exitCode, 0) << unrestarted.err.toStdString();
    EXPECT_FALSE(saysError(unrestarted)) << (unrestarted.out + unrestarted.err).toStdString();
    EXPECT_TRUE(unrestarted.out.contains(QLatin1String("restart it"))) << unrestarted.out.toStdString();
}

TEST_F(BackupToolTest, AWrongCommandLineIsAnErrorAndRunsNothing)
{
    standIn("", 0);
    const QString r = root.path();
    const QList<QStringList> lines{
        {},
        {QStringLiteral("--backup")},
        {QStringLiteral("-u"), kUdid, QStringLiteral("--backup"), QStringLiteral("--root"), r},
        {QStringLiteral("-u"), kUdid, QStringLiteral("--backup"), QStringLiteral("--target"), QStringLiteral("other"),
         QStringLiteral("--root"), r},
        {QStringLiteral("-u"), kUdid, QStringLiteral("--backup"), QStringLiteral("--restore"), QStringLiteral("--target"),
         kUdid, QStringLiteral("--root"), r},
        {QStringLiteral("-u"), kUdid, QStringLiteral("--restore"), QStringLiteral("--target"), kUdid, QStringLiteral("--root"), r},
        {QStringLiteral("-u"), QStringLiteral("--full"), QStringLiteral("--backup"), QStringLiteral("--target"),
         QStringLiteral("--full"), QStringLiteral("--root"), r},
        {QStringLiteral("-u"), QStringLiteral("../x"), QStringLiteral("--backup"), QStringLiteral("--target"),
         QStringLiteral("../x"), QStringLiteral("--root"), r},
        {QStringLiteral("-u"), kUdid, QStringLiteral("--backup"), QStringLiteral("--target"), kUdid, QStringLiteral("--root"), r,
         QStringLiteral("--extra")},
        {QStringLiteral("-u"), kUdid, QStringLiteral("--backup"), QStringLiteral("--target"), kUdid, QStringLiteral("--root")},
    };
    for (const QStringList &line : lines) {
        SCOPED_TRACE(line.join(QLatin1Char(' ')).toStdString());
        const ToolRun result = run(line);
        EXPECT_EQ(result.exitCode, 2);
        EXPECT_TRUE(result.err.startsWith(QLatin1String("error: "))) << result.err.toStdString();
    }
    EXPECT_EQ(handedOn(), QStringList{QStringLiteral("(not run)")});
}

TEST_F(BackupToolTest, FailuresOfIdevicebackup2AreErrorsWithItsWords)
{
    const struct
    {
        const char *output;
        int exitCode;
    } cases[] = {
        {"No device found with udid 00008020-001C2D3E4F5A6B7C.\\n", 255},
        // Some failures end with exit code 0.
        {"Starting backup...\\nBackup Failed (Error Code 105).\\n", 0},
        {"ERROR: Could not start service com.apple.mobilebackup2.\\n", 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.output);
        standIn(c.output, c.exitCode);
        const ToolRun result = run(backupLine());
        EXPECT_EQ(result.exitCode, 1);
        EXPECT_TRUE(result.err.startsWith(QStringLiteral("error: the backup of %1 failed").arg(kUdid))) << result.err.toStdString();
        const QString said = QString::fromLatin1(c.output).replace(QLatin1String("\\n"), QLatin1String("\n")).trimmed();
        EXPECT_TRUE(result.err.contains(said.section(QLatin1Char('\n'), -1))) << result.err.toStdString();
    }
    // A restore of a backup that is not there runs nothing.
    standIn("", 0);
    const ToolRun missing = run(restoreLine());
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_TRUE(missing.err.contains(QLatin1String("error: there is no backup of"))) << missing.err.toStdString();
    EXPECT_EQ(handedOn(), QStringList{QStringLiteral("(not run)")});
}

TEST_F(BackupToolTest, WithoutIdevicebackup2TheErrorNamesItsPackage)
{
    usePath = bin.path(); // nothing there
    const ToolRun result = run(backupLine());
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_TRUE(result.err.contains(QLatin1String("error: idevicebackup2 could not be started"))) << result.err.toStdString();
    EXPECT_TRUE(result.err.contains(QLatin1String("libimobiledevice-utils")));
}

TEST_F(BackupToolTest, TheRunnerFailsWithTheRealToolWhenThePhoneIsNotThere)
{
    // The real idevicebackup2, against the fake daemon, which lists no phone
    // of that identifier; the program's runner turns the output into its error.
    FakePhoneSetup fake;
    QString error;
    ASSERT_TRUE(fake.start(QJsonObject{{"devices", QJsonArray{}}}, &error)) << error.toStdString();
    ASSERT_TRUE(loadDeviceStack(&error)) << error.toStdString();
    backup2tool tool(nullptr, kUdid, QDir(root.path()));
    const QString text = thrownText([&] { tool.run(backup2tool_param{0}); });
    EXPECT_TRUE(text.startsWith(QLatin1String("error: the backup of %1 failed").arg(kUdid)) || text.contains(QLatin1String("\nerror: the backup of")))
        << text.toStdString();
    EXPECT_TRUE(text.contains(kUdid)) << text.toStdString();
    EXPECT_TRUE(fake.journal().contains(QStringLiteral("mux ListDevices"))) << fake.journal().join(QLatin1Char('\n')).toStdString();
}
