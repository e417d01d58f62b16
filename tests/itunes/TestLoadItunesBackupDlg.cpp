#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTranslator>
#include <QTreeView>

#include <gtest/gtest.h>

#include <functional>
#include <ostream>
#include <string>

#include "BackupGenerator.h"
#include "CaseName.h"
#include "FileTimes.h"
#include "HttpCaptureServer.h"
#include "ItemModelLoadBk.h"
#include "LoadItunesBackupDlg.h"
#include "MessageBoxAnswerer.h"

namespace
{

using G = BackupGenerator;

const QString kListed = QStringLiteral("This iTunes Backup has been listed on the left.");
const QString kSelectOne = QStringLiteral("Need to select an iTunes Backup to continue.");

QString deviceId(int n)
{
    return QStringLiteral("%1").arg(n, 40, 16, QLatin1Char('0'));
}

// A backup in folder, named as the backup program names them, dated
// date, with its folder last modified at folderTime.
QString writeBackup(const QString &folder, const QString &deviceName, int idNumber, const QDateTime &date,
                    qint64 folderTime = 0)
{
    G::Options o;
    o.deviceName = deviceName;
    o.uniqueId = deviceId(idNumber);
    o.date = date;
    G::write(folder, {G::folder("HomeDomain", "Library")}, o);
    if (folderTime) {
        EXPECT_TRUE(setFileTimes(folder, folderTime));
    }
    return QDir(folder).absolutePath();
}

class LoadBackupDlgTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_translator.load(QStringLiteral(":/en.qm")));
        QCoreApplication::installTranslator(&m_translator);
        // Error boxes report what they showed; keep that on this machine.
        qputenv("LARKSPAN_SERVICE_URL", m_server.baseUrl().toString().toUtf8());
    }
    void TearDown() override
    {
        LoadItunesBackupDlg::setFolderChooser({});
        QCoreApplication::removeTranslator(&m_translator);
    }

    // The iTunes backup folder below the test's own data home.
    static QString backupRoot()
    {
        return QDir(qEnvironmentVariable("XDG_DATA_HOME")).absoluteFilePath("Apple Computer/MobileSync/Backup");
    }

    static QStringList column(const LoadItunesBackupDlg &dlg, int col)
    {
        const QTreeView *view = dlg.findChild<QTreeView *>(QStringLiteral("listBackups"));
        QStringList out;
        for (int row = 0; row < view->model()->rowCount(); ++row)
            out << view->model()->index(row, col).data().toString();
        return out;
    }

    static QTreeView *view(LoadItunesBackupDlg &dlg) { return dlg.findChild<QTreeView *>(QStringLiteral("listBackups")); }

    static void addOther(LoadItunesBackupDlg &dlg)
    {
        emit dlg.findChild<QLabel *>(QStringLiteral("lbAddOther"))->linkActivated(QStringLiteral("#"));
    }

    // Runs the dialog modally with the steps done inside it; a dialog still
    // open after them is cancelled.
    static int execWith(LoadItunesBackupDlg &dlg, const std::function<void()> &steps)
    {
        QTimer::singleShot(0, &dlg, [&dlg, steps] {
            EXPECT_TRUE(QTest::qWaitForWindowExposed(&dlg));
            steps();
            if (dlg.isVisible())
                dlg.reject();
        });
        return dlg.exec();
    }

    HttpCaptureServer m_server;
    QTranslator m_translator;
    QTemporaryDir m_elsewhere;
};

struct RootCase
{
    std::string name;
    bool dataHomeSet; // otherwise the data home is <home>/.local/share
};

void PrintTo(const RootCase &c, std::ostream *os)
{
    *os << c.name;
}

class LoadBackupDlgRootTest : public LoadBackupDlgTest, public ::testing::WithParamInterface<RootCase>
{
};

} // namespace

TEST_P(LoadBackupDlgRootTest, ListsTheBackupsOfTheHomeFolderNewestFirst)
{
    const QByteArray savedDataHome = qgetenv("XDG_DATA_HOME");
    if (!GetParam().dataHomeSet)
        qunsetenv("XDG_DATA_HOME");
    const QString root = GetParam().dataHomeSet
                             ? backupRoot()
                             : QDir::home().absoluteFilePath(".local/share/Apple Computer/MobileSync/Backup");
    struct RestoreDataHome {
        QByteArray value;
        ~RestoreDataHome() { qputenv("XDG_DATA_HOME", value); }
    } restoreDataHome{savedDataHome};
    const QDateTime d2013(QDate(2013, 1, 1), QTime(9, 0), Qt::UTC);
    const QDateTime d2014(QDate(2014, 6, 1), QTime(9, 0), Qt::UTC);
    const QDateTime d2012(QDate(2012, 5, 1), QTime(9, 0), Qt::UTC);
    // Folder times in another order than the backup dates.
    const QString a = writeBackup(root + "/" + deviceId(1), "Phone A", 1, d2013, 1500000000);
    const QString b = writeBackup(root + "/" + deviceId(2) + "-20140601-090000", "Phone B", 2, d2014, 1400000000);
    const QString c = writeBackup(root + "/copied", "Phone C", 3, d2012, 1600000000);
    // Two of the same date: the folder modified first stays on top.
    const QString d = writeBackup(root + "/" + deviceId(4), "Phone D", 4, d2013, 1300000000);
    // Only one of the two catalogue files: passed over in silence.
    writeBackup(root + "/noMbdb", "X", 5, d2014);
    QFile::remove(root + "/noMbdb/Manifest.mbdb");
    writeBackup(root + "/noPlist", "Y", 6, d2014);
    QFile::remove(root + "/noPlist/Manifest.plist");
    QDir(root).mkpath("empty");
    // A description that cannot be read: an error box, and the rest follow.
    writeBackup(root + "/broken", "Z", 7, d2014);
    {
        QFile plist(root + "/broken/Manifest.plist");
        ASSERT_TRUE(plist.open(QIODevice::WriteOnly | QIODevice::Truncate));
        plist.write("not a property list");
    }

    MessageBoxAnswerer boxes;
    boxes.click(QMessageBox::Ok);
    LoadItunesBackupDlg dlg;

    EXPECT_EQ(column(dlg, 0), QStringList({"Phone B-20140601-090000", "Phone D", "Phone A", "Phone C-copied"}));
    EXPECT_EQ(column(dlg, 2), QStringList({b, d, a, c}));
    ASSERT_EQ(boxes.shown().size(), 1);
    EXPECT_TRUE(boxes.shown().first().text.contains(QStringLiteral("load %1 error. ").arg(QDir(root).absoluteFilePath("broken"))))
        << boxes.shown().first().text.toStdString();
    EXPECT_FALSE(view(dlg)->currentIndex().isValid());
    EXPECT_TRUE(dlg.selectedBackup().isNull());
}

INSTANTIATE_TEST_SUITE_P(Cases, LoadBackupDlgRootTest,
                         ::testing::Values(RootCase{"DataHome", true},
                                           RootCase{"DefaultDataHome", false}),
                         CaseName());

TEST_F(LoadBackupDlgTest, WithoutABackupFolderTheListIsEmpty)
{
    MessageBoxAnswerer boxes;
    LoadItunesBackupDlg dlg;
    EXPECT_TRUE(column(dlg, 0).isEmpty());
    EXPECT_TRUE(boxes.shown().isEmpty());
}

TEST_F(LoadBackupDlgTest, FormIsFramelessStyledAndTranslated)
{
    LoadItunesBackupDlg dlg;
    EXPECT_EQ(int(dlg.windowFlags()), int(Qt::Dialog | Qt::FramelessWindowHint));
    EXPECT_FALSE(dlg.styleSheet().isEmpty());
    EXPECT_EQ(dlg.findChild<QLabel *>("lbTitle")->text(), "Please select an iTunes Backup to load.");
    EXPECT_EQ(dlg.findChild<QLabel *>("lbAddOther")->text(),
              "Can't find your iTunes Backup on the list? Please manually import it by clicking <a href=\"#\">HERE</a>.");
    EXPECT_EQ(dlg.findChild<QPushButton *>("btnLoad")->text(), "Load");
    EXPECT_EQ(dlg.findChild<QPushButton *>("btnCancel")->text(), "Cancel");
    EXPECT_EQ(view(dlg)->indentation(), 0);
}

TEST_F(LoadBackupDlgTest, LoadWithNothingCurrentWarnsAndStaysOpen)
{
    writeBackup(backupRoot() + "/" + deviceId(1), "Phone A", 1, QDateTime::currentDateTimeUtc());
    MessageBoxAnswerer boxes;
    boxes.click(QMessageBox::Ok);
    LoadItunesBackupDlg dlg;
    bool stayedOpen = false;
    const int result = execWith(dlg, [&] {
        QTest::mouseClick(dlg.findChild<QPushButton *>("btnLoad"), Qt::LeftButton);
        stayedOpen = dlg.isVisible();
    });
    EXPECT_TRUE(stayedOpen);
    EXPECT_EQ(result, 0);
    ASSERT_EQ(boxes.shown().size(), 1);
    EXPECT_EQ(boxes.shown().first().text, kSelectOne);
    EXPECT_EQ(boxes.shown().first().icon, QMessageBox::Warning);
    EXPECT_TRUE(dlg.selectedBackup().isNull());
}

namespace
{

struct LoadCase
{
    std::string name;
    std::function<void(QTreeView *view, int row)> choose;
};

void PrintTo(const LoadCase &c, std::ostream *os)
{
    *os << c.name;
}

class LoadBackupDlgLoadTest : public LoadBackupDlgTest, public ::testing::WithParamInterface<LoadCase>
{
};

} // namespace

TEST_P(LoadBackupDlgLoadTest, HandsTheChosenRowsBackupToTheCaller)
{
    writeBackup(backupRoot() + "/" + deviceId(1), "Phone A", 1, QDateTime(QDate(2013, 1, 1), QTime(), Qt::UTC));
    const QString b = writeBackup(backupRoot() + "/" + deviceId(2), "Phone B", 2, QDateTime(QDate(2012, 1, 1), QTime(), Qt::UTC));
    MessageBoxAnswerer boxes;
    LoadItunesBackupDlg dlg;
    const int result = execWith(dlg, [&] { GetParam().choose(view(dlg), 1); });
    EXPECT_EQ(result, 1);
    ASSERT_FALSE(dlg.selectedBackup().isNull());
    EXPECT_EQ(dlg.selectedBackup()->folder.absolutePath(), b);
    EXPECT_EQ(dlg.selectedBackup()->info.deviceName, "Phone B");
    EXPECT_EQ(dlg.selectedBackup()->info.uniqueDeviceId, deviceId(2));
    EXPECT_TRUE(boxes.shown().isEmpty());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LoadBackupDlgLoadTest,
    ::testing::Values(LoadCase{"CurrentRowAndLoad",
                               [](QTreeView *view, int row) {
                                   view->setCurrentIndex(view->model()->index(row, 0));
                                   QTest::mouseClick(view->window()->findChild<QPushButton *>("btnLoad"),
                                                     Qt::LeftButton);
                               }},
                      LoadCase{"DoubleClick",
                               [](QTreeView *view, int row) {
                                   const QRect rect = view->visualRect(view->model()->index(row, 0));
                                   // As a mouse does it: the first click, then the second as a double-click.
                                   QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::NoModifier, rect.center());
                                   QTest::mouseDClick(view->viewport(), Qt::LeftButton, Qt::NoModifier, rect.center());
                               }}),
    CaseName());

TEST_F(LoadBackupDlgTest, TheSelectedBackupOutlivesTheDialogAndTheOthersGo)
{
    writeBackup(backupRoot() + "/" + deviceId(1), "Phone A", 1, QDateTime(QDate(2013, 1, 1), QTime(), Qt::UTC));
    writeBackup(backupRoot() + "/" + deviceId(2), "Phone B", 2, QDateTime(QDate(2012, 1, 1), QTime(), Qt::UTC));
    QSharedPointer<BackupManifest> kept;
    QWeakPointer<BackupManifest> other;
    {
        LoadItunesBackupDlg dlg;
        auto *model = static_cast<ItemModelLoadBk *>(view(dlg)->model());
        other = model->backupAt(model->index(1, 0));
        ASSERT_EQ(execWith(dlg, [&] { view(dlg)->setCurrentIndex(model->index(0, 0)); QTest::mouseClick(dlg.findChild<QPushButton *>("btnLoad"), Qt::LeftButton); }), 1);
        kept = dlg.selectedBackup();
    }
    ASSERT_FALSE(kept.isNull());
    EXPECT_EQ(kept->info.deviceName, "Phone A");
    EXPECT_TRUE(other.isNull());
}

namespace
{

struct AddCase
{
    std::string name;
    // Prepares the folder the user picks; returns its path ("" picks nothing).
    std::function<QString(const QString &listed, const QString &elsewhere)> pick;
    QStringList expectedNames;
    QString expectedBox; // part of the text of the one box shown, or "" for none
    int expectedCurrentRow; // -1: none
};

void PrintTo(const AddCase &c, std::ostream *os)
{
    *os << c.name;
}

class LoadBackupDlgAddTest : public LoadBackupDlgTest, public ::testing::WithParamInterface<AddCase>
{
};

} // namespace

TEST_P(LoadBackupDlgAddTest, AddsAFolderFromElsewhereOnce)
{
    const QString listed =
        writeBackup(backupRoot() + "/" + deviceId(1), "Phone A", 1, QDateTime(QDate(2013, 1, 1), QTime(), Qt::UTC));
    const QString picked = GetParam().pick(listed, m_elsewhere.path());
    QStringList startDirs;
    LoadItunesBackupDlg::setFolderChooser([&](const QString &start) {
        startDirs << start;
        return picked;
    });
    MessageBoxAnswerer boxes;
    boxes.setDefaultAnswer(QMessageBox::Ok);
    LoadItunesBackupDlg dlg;
    addOther(dlg);

    EXPECT_EQ(startDirs, QStringList({QDir::home().absolutePath()}));
    EXPECT_EQ(column(dlg, 0), GetParam().expectedNames);
    if (GetParam().expectedBox.isEmpty()) {
        EXPECT_TRUE(boxes.shown().isEmpty());
    } else {
        ASSERT_EQ(boxes.shown().size(), 1);
        EXPECT_TRUE(boxes.shown().first().text.contains(GetParam().expectedBox.arg(picked)))
            << boxes.shown().first().text.toStdString();
    }
    EXPECT_EQ(view(dlg)->currentIndex().row(), GetParam().expectedCurrentRow);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LoadBackupDlgAddTest,
    ::testing::Values(
        AddCase{"NewerFolder",
                [](const QString &, const QString &elsewhere) {
                    return writeBackup(elsewhere + "/" + deviceId(9), "Phone N", 9,
                                       QDateTime(QDate(2014, 1, 1), QTime(), Qt::UTC));
                },
                {"Phone N", "Phone A"},
                "",
                0},
        AddCase{"OlderFolder",
                [](const QString &, const QString &elsewhere) {
                    return writeBackup(elsewhere + "/" + deviceId(9), "Phone N", 9,
                                       QDateTime(QDate(2010, 1, 1), QTime(), Qt::UTC));
                },
                {"Phone A", "Phone N"},
                "",
                1},
        AddCase{"AlreadyListed", [](const QString &listed, const QString &) { return listed; }, {"Phone A"},
                kListed, -1},
        AddCase{"AlreadyListedSpelledOtherwise",
                [](const QString &listed, const QString &) { return listed + "/../" + QDir(listed).dirName(); },
                {"Phone A"},
                kListed,
                -1},
        AddCase{"NoDescription",
                [](const QString &, const QString &elsewhere) {
                    QDir(elsewhere).mkpath("plain");
                    return elsewhere + "/plain";
                },
                {"Phone A"},
                "load %1 error. Cannot find ",
                -1},
        AddCase{"NothingPicked", [](const QString &, const QString &) { return QString(); }, {"Phone A"}, "", -1}),
    CaseName());

namespace
{

struct ResizeCase
{
    std::string name;
    int width;
    int first, second, third;
};

void PrintTo(const ResizeCase &c, std::ostream *os)
{
    *os << c.name;
}

class LoadBackupDlgResizeTest : public LoadBackupDlgTest, public ::testing::WithParamInterface<ResizeCase>
{
};

} // namespace

TEST_P(LoadBackupDlgResizeTest, ColumnsShareTheWidthFourToTwoAndAHalfToThreeAndAHalf)
{
    LoadItunesBackupDlg dlg;
    dlg.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dlg));
    dlg.resize(GetParam().width, 400);
    QCoreApplication::processEvents();
    ASSERT_EQ(dlg.width(), GetParam().width);
    const QHeaderView *header = view(dlg)->header();
    EXPECT_EQ(header->sectionSize(0), GetParam().first);
    EXPECT_EQ(header->sectionSize(1), GetParam().second);
    // The last column also takes whatever room the view has left.
    EXPECT_GE(header->sectionSize(2), GetParam().third);
}

INSTANTIATE_TEST_SUITE_P(Cases, LoadBackupDlgResizeTest,
                         ::testing::Values(ResizeCase{"Wide", 680, 240, 150, 210},
                                           ResizeCase{"Odd", 701, 248, 155, 217},
                                           ResizeCase{"Default", 600, 208, 130, 182}),
                         CaseName());
