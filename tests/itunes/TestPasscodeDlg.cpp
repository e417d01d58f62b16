#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTranslator>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <ostream>
#include <string>

#include "BackupGenerator.h"
#include "BackupManifest.h"
#include "CaseName.h"
#include "MessageBoxAnswerer.h"
#include "PasscodeDlg.h"

namespace
{

using G = BackupGenerator;

const QString kRequired = QStringLiteral("Password is required.");
const QString kInvalid = QStringLiteral("Invalid password.");

class PasscodeDlgTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_translator.load(QStringLiteral(":/en.qm")));
        QCoreApplication::installTranslator(&m_translator);
    }
    void TearDown() override { QCoreApplication::removeTranslator(&m_translator); }

    void writeBackup(quint32 iterations = 1000)
    {
        G::Options o;
        o.encrypted = true;
        o.password = "secret";
        o.iterations = iterations;
        G::write(m_dir.filePath("backup"), {G::folder("HomeDomain", "Library")}, o);
        m_backup = std::make_unique<BackupManifest>(m_dir.filePath("backup"));
        m_backup->loadInfo();
    }

    static QLineEdit *field(PasscodeDlg &dlg) { return dlg.findChild<QLineEdit *>("txtPasscode"); }
    static void press(PasscodeDlg &dlg, const char *button)
    {
        QTest::mouseClick(dlg.findChild<QPushButton *>(button), Qt::LeftButton);
    }

    // Runs the dialog modally with the steps done inside it; a dialog still
    // open after them is cancelled.
    static int execWith(PasscodeDlg &dlg, const std::function<void()> &steps)
    {
        QTimer::singleShot(0, &dlg, [&dlg, steps] {
            steps();
            if (dlg.isVisible())
                dlg.reject();
        });
        return dlg.exec();
    }

    QTemporaryDir m_dir;
    QTranslator m_translator;
    std::unique_ptr<BackupManifest> m_backup;
};

} // namespace

TEST_F(PasscodeDlgTest, FormIsFramelessStyledAndTranslated)
{
    writeBackup();
    PasscodeDlg dlg(m_backup.get());
    EXPECT_EQ(int(dlg.windowFlags()), int(Qt::Dialog | Qt::FramelessWindowHint));
    EXPECT_FALSE(dlg.styleSheet().isEmpty());
    EXPECT_EQ(dlg.findChild<QLabel *>("lbTitle2")->text(), "This iTunes Backup is encrypted. Please enter password:");
    EXPECT_EQ(field(dlg)->placeholderText(), "Enter password");
    EXPECT_EQ(field(dlg)->echoMode(), QLineEdit::Password);
    EXPECT_EQ(dlg.findChild<QPushButton *>("btnOK")->text(), "OK");
    EXPECT_EQ(dlg.findChild<QPushButton *>("btnCancel")->text(), "Cancel");
}

namespace
{

struct AttemptCase
{
    std::string name;
    QStringList typed;         // one attempt each, OK pressed after each
    QStringList expectedBoxes; // warnings shown, in order
    int expectedResult;
    bool expectedKeybagTouched;
};

void PrintTo(const AttemptCase &c, std::ostream *os)
{
    *os << c.name;
}

class PasscodeDlgAttemptTest : public PasscodeDlgTest, public ::testing::WithParamInterface<AttemptCase>
{
};

} // namespace

TEST_P(PasscodeDlgAttemptTest, AcceptsOnlyOnceAPasswordUnlockedTheBackup)
{
    writeBackup();
    MessageBoxAnswerer boxes;
    boxes.setDefaultAnswer(QMessageBox::Ok);
    PasscodeDlg dlg(m_backup.get());
    QStringList fieldAfter;
    QList<bool> openAfter;
    const int result = execWith(dlg, [&] {
        for (const QString &text : GetParam().typed) {
            if (!dlg.isVisible())
                break;
            field(dlg)->setText(text);
            press(dlg, "btnOK");
            fieldAfter << field(dlg)->text();
            openAfter << dlg.isVisible();
        }
    });
    EXPECT_EQ(result, GetParam().expectedResult);
    QStringList shown;
    for (const MessageBoxAnswerer::Shown &box : boxes.shown()) {
        EXPECT_EQ(box.icon, QMessageBox::Warning);
        shown << box.text;
    }
    EXPECT_EQ(shown, GetParam().expectedBoxes);
    // A wrong password empties the field and keeps the dialog; an empty one
    // changes nothing.
    for (int i = 0; i < fieldAfter.size(); ++i) {
        const bool last = i == fieldAfter.size() - 1;
        if (last && result == 1)
            continue;
        EXPECT_TRUE(openAfter.at(i)) << i;
        EXPECT_EQ(fieldAfter.at(i), QString()) << i;
    }
    EXPECT_EQ(!m_backup->keybag.classes.isEmpty(), GetParam().expectedKeybagTouched);
    if (result == 1) {
        // Unlocked for real: a class key now opens file keys.
        EXPECT_FALSE(m_backup->keybag.classes.value(3).value("KEY").isEmpty());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PasscodeDlgAttemptTest,
    ::testing::Values(AttemptCase{"Right", {"secret"}, {}, 1, true},
                      AttemptCase{"EmptyNeverReachesTheKeybag", {""}, {kRequired}, 0, false},
                      AttemptCase{"WrongThenRight", {"wrong", "secret"}, {kInvalid}, 1, true},
                      AttemptCase{"WrongTwice", {"wrong", "Secret"}, {kInvalid, kInvalid}, 0, true},
                      AttemptCase{"EmptyThenRight", {"", "secret"}, {kRequired}, 1, true}),
    CaseName());

TEST_F(PasscodeDlgTest, CancellingGivesZeroAndLeavesTheBackupLocked)
{
    writeBackup();
    MessageBoxAnswerer boxes;
    struct Way
    {
        const char *name;
        std::function<void(PasscodeDlg &)> cancel;
    };
    for (const Way &way : {Way{"CancelButton", [](PasscodeDlg &d) { press(d, "btnCancel"); }},
                           Way{"Escape", [](PasscodeDlg &d) { QTest::keyClick(field(d), Qt::Key_Escape); }}}) {
        SCOPED_TRACE(way.name);
        PasscodeDlg dlg(m_backup.get());
        bool closed = false;
        const int result = execWith(dlg, [&] {
            field(dlg)->setText("secret");
            way.cancel(dlg);
            closed = !dlg.isVisible();
        });
        EXPECT_TRUE(closed);
        EXPECT_EQ(result, 0);
    }
    EXPECT_TRUE(m_backup->keybag.classes.isEmpty());
    EXPECT_TRUE(boxes.shown().isEmpty());
}

// A keybag may ask for millions of rounds; the dialog keeps handling events
// while they run, and nothing closes it half-way.
TEST_F(PasscodeDlgTest, TheUnlockRunsWhileTheDialogKeepsHandlingEvents)
{
    writeBackup(300000);
    MessageBoxAnswerer boxes;
    PasscodeDlg dlg(m_backup.get());
    int ticksWhileUnlocking = 0;
    bool controlsDisabled = false;
    bool survivedReject = false;
    QTimer ticker;
    ticker.setInterval(1);
    QObject::connect(&ticker, &QTimer::timeout, &dlg, [&] {
        if (!dlg.isUnlocking())
            return;
        if (++ticksWhileUnlocking == 1) {
            controlsDisabled = !field(dlg)->isEnabled() && !dlg.findChild<QPushButton *>("btnOK")->isEnabled()
                && !dlg.findChild<QPushButton *>("btnCancel")->isEnabled();
            // Closing or cancelling while the backup is in use does nothing.
            dlg.reject();
            QTest::keyClick(&dlg, Qt::Key_Escape);
            survivedReject = dlg.isVisible();
        }
    });
    const int result = execWith(dlg, [&] {
        ticker.start();
        field(dlg)->setText("secret");
        press(dlg, "btnOK");
    });
    EXPECT_EQ(result, 1);
    EXPECT_GT(ticksWhileUnlocking, 0);
    EXPECT_TRUE(controlsDisabled);
    EXPECT_TRUE(survivedReject);
    EXPECT_FALSE(dlg.isUnlocking());
    EXPECT_TRUE(boxes.shown().isEmpty());
}
