#include <atomic>
#include <functional>
#include <stdexcept>

#include <QCoreApplication>
#include <QLabel>
#include <QMessageBox>
#include <QMouseEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <QWindow>

#include <gtest/gtest.h>

#include "AppStyleSheet.h"
#include "CaseName.h"
#include "HttpCaptureServer.h"
#include "MessageBoxAnswerer.h"
#include "ProgressForm.h"
#include "RecordingProgress.h"

namespace
{

// A worker in the shape every long operation has: a status line, then unit
// after unit with a cancel check before each, and one success or error post
// at the end. It knows the form only as a QObject.
class UnitWorker : public QThread
{
public:
    UnitWorker(QObject *form, int units, int failAt = 0, QString successText = QStringLiteral("Done %1"), int unitMs = 0)
        : m_form(form)
        , m_units(units)
        , m_failAt(failAt)
        , m_successText(std::move(successText))
        , m_unitMs(unitMs)
    {
    }

    std::atomic<int> unitsDone{0};
    std::atomic<bool> stoppedOnCancel{false};

protected:
    void run() override
    {
        try {
            ProgressForm::postUpdateProgress(m_form, QStringLiteral("Working..."), 0, QString());
            for (int i = 1; i <= m_units; ++i) {
                if (ProgressForm::isCancelled(m_form))
                    throw -1;
                if (i == m_failAt)
                    throw std::runtime_error("unit \xC3\xBC failed");
                if (m_unitMs)
                    QThread::msleep(m_unitMs);
                ++unitsDone;
                ProgressForm::postUpdateProgress(m_form, QString(), int(i * 100.0 / m_units), QString());
            }
            ProgressForm::postSucceed(m_form, m_successText.contains(QLatin1String("%1")) ? m_successText.arg(m_units) : m_successText);
        } catch (int) {
            stoppedOnCancel = true;
        } catch (const std::exception &e) {
            ProgressForm::postErrorOccurred(m_form, QString::fromUtf8(e.what()));
        }
    }

private:
    QObject *m_form;
    int m_units;
    int m_failAt;
    QString m_successText;
    int m_unitMs;
};

QString statusLine(ProgressForm &f)
{
    return f.findChild<QLabel *>(QStringLiteral("lbStatus"))->text();
}
QString progressLine(ProgressForm &f)
{
    return f.findChild<QLabel *>(QStringLiteral("lbProgress"))->text();
}
int barValue(ProgressForm &f)
{
    return f.findChild<QProgressBar *>(QStringLiteral("progressBar"))->value();
}
QPushButton *cancelButton(ProgressForm &f)
{
    return f.findChild<QPushButton *>(QStringLiteral("btnCancel"));
}

// Keeps error reports on this machine.
class LocalService
{
public:
    LocalService() { qputenv("LARKSPAN_SERVICE_URL", server.baseUrl().toString().toUtf8()); }
    HttpCaptureServer server;
};

TEST(ProgressFormTest, TitleLookAndDrag)
{
    ProgressForm form(QStringLiteral("Preparing"));
    EXPECT_EQ(form.windowTitle(), QStringLiteral("Preparing"));
    EXPECT_EQ(statusLine(form), QStringLiteral("Preparing"));
    EXPECT_EQ(form.objectName(), QStringLiteral("ProgressForm"));
    EXPECT_EQ(int(form.windowFlags()), int(Qt::Dialog | Qt::FramelessWindowHint));
    EXPECT_EQ(form.styleSheet(), appStyleSheet());
    EXPECT_EQ(cancelButton(form)->text(), QStringLiteral("Cancel"));
    EXPECT_FALSE(form.isCancelled());
    EXPECT_FALSE(form.isWaiting());

    form.show();
    const QPoint start = form.pos();
    QMouseEvent press(QEvent::MouseButtonPress, QPointF(5, 5), QPointF(form.mapToGlobal(QPoint(5, 5))), Qt::LeftButton,
        Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&form, &press);
    QMouseEvent move(QEvent::MouseMove, QPointF(25, 15), QPointF(form.mapToGlobal(QPoint(25, 15))), Qt::NoButton,
        Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&form, &move);
    EXPECT_EQ(form.pos() - start, QPoint(20, 10));
}

struct Post
{
    QString status;
    int progress;
    QString text;
};

struct UpdateCase
{
    const char *name;
    QList<Post> posts;
    QString status;
    int bar;
    QString label;
};

void PrintTo(const UpdateCase &c, std::ostream *os)
{
    *os << c.name;
}

class UpdateProgressTest : public ::testing::TestWithParam<UpdateCase>
{
};

// Posted from the dialog's own thread, so each post applies at once.
TEST_P(UpdateProgressTest, AppliesThePost)
{
    ProgressForm form(QStringLiteral("Start"));
    for (const Post &p : GetParam().posts)
        ProgressForm::postUpdateProgress(&form, p.status, p.progress, p.text);
    EXPECT_EQ(statusLine(form), GetParam().status);
    EXPECT_EQ(barValue(form), GetParam().bar);
    EXPECT_EQ(progressLine(form), GetParam().label);
}

INSTANTIATE_TEST_SUITE_P(Cases, UpdateProgressTest,
    ::testing::Values(UpdateCase{"EmptyStatusKeepsTheLine", {{QString(), 40, QString()}}, QStringLiteral("Start"), 40,
                          QStringLiteral("Progress:40%")},
        UpdateCase{"NegativeKeepsTheBar", {{QString(), 25, QString()}, {QString(), -1, QString()}}, QStringLiteral("Start"), 25,
            QStringLiteral("Progress:25%")},
        UpdateCase{"NegativeFromTheStart", {{QString(), -1, QString()}}, QStringLiteral("Start"), 0, QStringLiteral("Progress:0%")},
        UpdateCase{"OwnTextAndStatus", {{QStringLiteral("Copying"), 10, QStringLiteral("12 KB")}}, QStringLiteral("Copying"), 10,
            QStringLiteral("12 KB")},
        UpdateCase{"NegativeWithOwnText", {{QString(), 60, QString()}, {QString(), -5, QStringLiteral("3 files")}},
            QStringLiteral("Start"), 60, QStringLiteral("3 files")},
        UpdateCase{"StatusStaysUntilReplaced",
            {{QStringLiteral("One"), 0, QString()}, {QString(), 50, QString()}, {QStringLiteral("Two"), 100, QString()}},
            QStringLiteral("Two"), 100, QStringLiteral("Progress:100%")},
        // The bar cannot show more than all; its text must not claim it either.
        UpdateCase{"PastTheEndIsClamped", {{QString(), 150, QString()}}, QStringLiteral("Start"), 100,
            QStringLiteral("Progress:100%")}),
    CaseName());

TEST(ProgressFormTest, PostsFromAnotherThreadAreQueuedIntoTheDialogsThread)
{
    ProgressForm form(QStringLiteral("Start"));
    std::unique_ptr<QThread> worker(QThread::create([&form]() {
        ProgressForm::postUpdateProgress(&form, QStringLiteral("From worker"), 30, QString());
    }));
    worker->start();
    worker->wait();
    // The worker is gone and the widgets are untouched: nothing but the GUI
    // thread writes them.
    EXPECT_EQ(statusLine(form), QStringLiteral("Start"));
    EXPECT_EQ(barValue(form), 0);
    QCoreApplication::sendPostedEvents(&form, QEvent::MetaCall);
    EXPECT_EQ(statusLine(form), QStringLiteral("From worker"));
    EXPECT_EQ(progressLine(form), QStringLiteral("Progress:30%"));
}

struct RunCase
{
    const char *name;
    int units;
    int failAt;
    QString successText;
    int result;
    int boxIcon; // 0: no box
    QString boxText; // part of the box's text
};

void PrintTo(const RunCase &c, std::ostream *os)
{
    *os << c.name;
}

class ProgressFormRunTest : public ::testing::TestWithParam<RunCase>
{
};

TEST_P(ProgressFormRunTest, WorkerEndsTheModalRun)
{
    LocalService service;
    MessageBoxAnswerer boxes;
    if (GetParam().boxIcon)
        boxes.click(QMessageBox::Ok);
    ProgressForm form{QString()};
    UnitWorker worker(&form, GetParam().units, GetParam().failAt, GetParam().successText);
    worker.start();
    const int result = form.exec();
    worker.wait();

    EXPECT_EQ(result, GetParam().result);
    EXPECT_EQ(form.isCancelled(), result == 0);
    EXPECT_EQ(statusLine(form), QStringLiteral("Working..."));
    if (GetParam().boxIcon) {
        ASSERT_EQ(boxes.shown().size(), 1);
        EXPECT_EQ(boxes.shown().first().icon, GetParam().boxIcon);
        EXPECT_TRUE(boxes.shown().first().text.contains(GetParam().boxText)) << boxes.shown().first().text.toStdString();
    } else {
        EXPECT_TRUE(boxes.shown().isEmpty());
    }
    if (result == 1) {
        EXPECT_EQ(barValue(form), 100);
        EXPECT_EQ(progressLine(form), QStringLiteral("Progress:100%"));
    }
    if (GetParam().boxIcon == QMessageBox::Critical) {
        EXPECT_TRUE(service.server.waitForRequests(1));
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, ProgressFormRunTest,
    ::testing::Values(RunCase{"SuccessShowsItsText", 4, 0, QStringLiteral("Done %1"), 1, QMessageBox::Information, QStringLiteral("Done 4")},
        RunCase{"EmptySuccessShowsNoBox", 3, 0, QString(), 1, 0, QString()},
        RunCase{"ErrorShowsTheErrorBox", 5, 3, QString(), 0, QMessageBox::Critical,
            QStringLiteral("An Error Occurred. <br/><br/>unit \u00FC failed<br/><br/>")}),
    CaseName());

TEST(ProgressFormTest, ErrorRaisesTheCancelledFlagWhileTheBoxIsOpen)
{
    LocalService service;
    MessageBoxAnswerer boxes;
    boxes.click(QMessageBox::Ok);
    ProgressForm form{QString()};
    bool cancelledDuringBox = false;
    boxes.setInspector([&](QMessageBox &) { cancelledDuringBox = form.isCancelled(); });
    QTimer::singleShot(0, &form, [&form]() { ProgressForm::postErrorOccurred(&form, QStringLiteral("bad")); });
    EXPECT_EQ(form.exec(), 0);
    EXPECT_TRUE(cancelledDuringBox);
    EXPECT_TRUE(form.isCancelled());
}

TEST(ProgressFormTest, CancelSignalsStopsTheWorkerAndEndsWithZero)
{
    MessageBoxAnswerer boxes; // a cancel shows nothing
    ProgressForm form{QString()};
    QStringList order;
    QObject::connect(&form, &ProgressForm::userCacel, [&]() { order << QStringLiteral("userCacel"); });
    QObject::connect(&form, &QDialog::finished, [&](int r) { order << QStringLiteral("finished %1").arg(r); });
    UnitWorker worker(&form, 1000000, 0, QStringLiteral("never"), 1);
    worker.start();
    QTimer::singleShot(50, &form, [&form]() { QTest::mousePress(cancelButton(form), Qt::LeftButton); });
    const int result = form.exec();
    worker.wait();

    EXPECT_EQ(result, 0);
    EXPECT_EQ(order, QStringList({QStringLiteral("userCacel"), QStringLiteral("finished 0")}));
    EXPECT_TRUE(form.isCancelled());
    EXPECT_TRUE(worker.stoppedOnCancel);
    EXPECT_LT(worker.unitsDone, 1000000);

    // A worker that posts its ending after all is ignored: no box, no
    // second ending, the flag stays set.
    ProgressForm::postSucceed(&form, QStringLiteral("late"));
    ProgressForm::postErrorOccurred(&form, QStringLiteral("late"));
    EXPECT_TRUE(boxes.shown().isEmpty());
    EXPECT_EQ(order.size(), 2);
    EXPECT_TRUE(form.isCancelled());
}

TEST(ProgressFormTest, OnlyTheFirstEndingCounts)
{
    MessageBoxAnswerer boxes;
    boxes.click(QMessageBox::Ok);
    ProgressForm form{QString()};
    std::unique_ptr<QThread> worker(QThread::create([&form]() {
        ProgressForm::postSucceed(&form, QStringLiteral("first"));
        ProgressForm::postErrorOccurred(&form, QStringLiteral("second"));
    }));
    worker->start();
    EXPECT_EQ(form.exec(), 1);
    worker->wait();
    QCoreApplication::sendPostedEvents(&form, QEvent::MetaCall);
    ASSERT_EQ(boxes.shown().size(), 1);
    EXPECT_EQ(boxes.shown().first().text, QStringLiteral("first"));
    EXPECT_FALSE(form.isCancelled());
}

enum class Attempt { Escape, Return, Enter, CloseRequest, ClickCancel };

struct StayOpenCase
{
    const char *name;
    bool cancelEnabled;
    Attempt attempt;
};

void PrintTo(const StayOpenCase &c, std::ostream *os)
{
    *os << c.name;
}

class StayOpenTest : public ::testing::TestWithParam<StayOpenCase>
{
};

TEST_P(StayOpenTest, OnlyTheWorkerEndsTheDialog)
{
    ProgressForm form{QString()};
    form.setCancelEnabled(GetParam().cancelEnabled);
    bool cancelSignalled = false;
    QObject::connect(&form, &ProgressForm::userCacel, [&]() { cancelSignalled = true; });
    bool openAfterAttempt = false;
    QTimer::singleShot(0, &form, [&]() {
        switch (GetParam().attempt) {
        case Attempt::Escape:
            QTest::keyClick(&form, Qt::Key_Escape);
            break;
        case Attempt::Return:
            QTest::keyClick(&form, Qt::Key_Return);
            break;
        case Attempt::Enter:
            QTest::keyClick(&form, Qt::Key_Enter, Qt::KeypadModifier);
            break;
        case Attempt::CloseRequest:
            form.close();
            break;
        case Attempt::ClickCancel:
            QTest::mouseClick(cancelButton(form), Qt::LeftButton);
            break;
        }
        QCoreApplication::processEvents();
        openAfterAttempt = form.isVisible();
        ProgressForm::postSucceed(&form, QString());
    });
    EXPECT_EQ(form.exec(), 1);
    EXPECT_TRUE(openAfterAttempt);
    EXPECT_FALSE(cancelSignalled);
    EXPECT_FALSE(form.isCancelled());
}

INSTANTIATE_TEST_SUITE_P(Attempts, StayOpenTest,
    ::testing::Values(StayOpenCase{"EscapeCancelDisabled", false, Attempt::Escape},
        StayOpenCase{"CloseRequestCancelDisabled", false, Attempt::CloseRequest},
        StayOpenCase{"ClickOnDisabledCancel", false, Attempt::ClickCancel},
        StayOpenCase{"ReturnCancelDisabled", false, Attempt::Return},
        StayOpenCase{"EscapeCancelEnabled", true, Attempt::Escape},
        // The Cancel button is no default button: Enter never cancels.
        StayOpenCase{"ReturnCancelEnabled", true, Attempt::Return},
        StayOpenCase{"KeypadEnterCancelEnabled", true, Attempt::Enter}),
    CaseName());

struct CloseCase
{
    const char *name;
    std::function<void(ProgressForm &)> close;
};

void PrintTo(const CloseCase &c, std::ostream *os)
{
    *os << c.name;
}

class CloseWithCancelTest : public ::testing::TestWithParam<CloseCase>
{
};

// Where the user may cancel, closing the window is a cancel: the worker is
// told and stops, and the run ends with 0.
TEST_P(CloseWithCancelTest, ClosingTheWindowEndsItLikeCancel)
{
    MessageBoxAnswerer boxes; // a cancel shows nothing
    ProgressForm form{QString()};
    QStringList order;
    QObject::connect(&form, &ProgressForm::userCacel, [&]() { order << QStringLiteral("userCacel"); });
    QObject::connect(&form, &QDialog::finished, [&](int r) { order << QStringLiteral("finished %1").arg(r); });
    UnitWorker worker(&form, 1000000, 0, QStringLiteral("never"), 1);
    worker.start();
    QTimer::singleShot(50, &form, [&form]() { GetParam().close(form); });
    // A form the close left open is ended by its button, so that the
    // failure does not wait for the worker's million units.
    QTimer::singleShot(3000, &form, [&form]() {
        if (!form.isVisible())
            return;
        ADD_FAILURE() << "the close left the form open";
        QTest::mouseClick(cancelButton(form), Qt::LeftButton);
    });
    const int result = form.exec();
    worker.wait();

    EXPECT_EQ(result, 0);
    EXPECT_EQ(order, QStringList({QStringLiteral("userCacel"), QStringLiteral("finished 0")}));
    EXPECT_TRUE(form.isCancelled());
    EXPECT_TRUE(worker.stoppedOnCancel);
    EXPECT_FALSE(form.isVisible());
    EXPECT_TRUE(boxes.shown().isEmpty());
}

INSTANTIATE_TEST_SUITE_P(Ways, CloseWithCancelTest,
    ::testing::Values(CloseCase{"CloseRequest", [](ProgressForm &f) { f.close(); }},
        // What the window manager's close button or Alt+F4 asks for.
        CloseCase{"WindowSystemClose", [](ProgressForm &f) { f.windowHandle()->close(); }}),
    CaseName());

TEST(ProgressFormTest, TipsWaitHoldsTheWorkerUntilTheNoteIsClosed)
{
    MessageBoxAnswerer boxes;
    boxes.click(QMessageBox::Ok);
    ProgressForm form{QString()};
    std::atomic<bool> waitingRightAfterPost{false};
    std::unique_ptr<QThread> worker(QThread::create([&]() {
        ProgressForm::postTipsWait(&form, QStringLiteral("Unlock the phone first."));
        waitingRightAfterPost = ProgressForm::isWaiting(&form);
        while (ProgressForm::isWaiting(&form))
            QThread::msleep(1);
        ProgressForm::postSucceed(&form, QString());
    }));
    worker->start();
    EXPECT_EQ(form.exec(), 1);
    worker->wait();
    EXPECT_TRUE(waitingRightAfterPost);
    EXPECT_FALSE(form.isWaiting());
    ASSERT_EQ(boxes.shown().size(), 1);
    EXPECT_EQ(boxes.shown().first().icon, int(QMessageBox::Information));
    EXPECT_EQ(boxes.shown().first().text, QStringLiteral("Unlock the phone first."));
}

TEST(ProgressFormTest, NullFormIsIgnored)
{
    ProgressForm::postUpdateProgress(nullptr, QStringLiteral("x"), 1, QString());
    ProgressForm::postErrorOccurred(nullptr, QStringLiteral("x"));
    ProgressForm::postSucceed(nullptr, QStringLiteral("x"));
    ProgressForm::postTipsWait(nullptr, QStringLiteral("x"));
    EXPECT_FALSE(ProgressForm::isCancelled(nullptr));
    EXPECT_FALSE(ProgressForm::isWaiting(nullptr));
}

// The recording stand-in takes the same worker, by the same functions.
struct StandInCase
{
    const char *name;
    int units;
    int failAt;
    int cancelAfterChecks; // -1: never
    QList<int> progress;
    int result;
    int unitsDone;
    bool cancelled;
};

void PrintTo(const StandInCase &c, std::ostream *os)
{
    *os << c.name;
}

class RecordingProgressTest : public ::testing::TestWithParam<StandInCase>
{
};

TEST_P(RecordingProgressTest, RecordsTheWorkersPosts)
{
    RecordingProgress progress;
    if (GetParam().cancelAfterChecks >= 0)
        progress.cancelAfterChecks(GetParam().cancelAfterChecks);
    UnitWorker worker(&progress, GetParam().units, GetParam().failAt);
    ASSERT_TRUE(progress.runWorker(worker));

    EXPECT_EQ(progress.statuses(), QStringList{QStringLiteral("Working...")});
    EXPECT_EQ(progress.progressValues(), GetParam().progress);
    EXPECT_EQ(progress.result(), GetParam().result);
    EXPECT_EQ(worker.unitsDone, GetParam().unitsDone);
    EXPECT_EQ(progress.isCancelled(), GetParam().cancelled);
    EXPECT_EQ(progress.postsAfterEnd(), 0);
    EXPECT_EQ(progress.endings(), GetParam().result < 0 ? 0 : 1);
    const QString ending = GetParam().result == 1 ? progress.successText() : progress.errorText();
    const QString expected = GetParam().result == 1 ? QStringLiteral("Done %1").arg(GetParam().units)
        : GetParam().result == 0                    ? QStringLiteral("unit \u00FC failed")
                                                    : QString();
    EXPECT_EQ(ending, expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, RecordingProgressTest,
    ::testing::Values(StandInCase{"Success", 4, 0, -1, {0, 25, 50, 75, 100}, 1, 4, false},
        // 1/3 and 2/3 truncate toward zero.
        StandInCase{"PercentagesTruncate", 3, 0, -1, {0, 33, 66, 100}, 1, 3, false},
        StandInCase{"ErrorSetsTheFlag", 5, 3, -1, {0, 20, 40}, 0, 2, true},
        StandInCase{"CancelAtTheThirdCheck", 10, 0, 2, {0, 10, 20}, -1, 2, true},
        StandInCase{"CancelledBeforeTheFirstUnit", 10, 0, 0, {0}, -1, 0, true}),
    CaseName());

TEST(RecordingProgressTest, UserCancelReachesAReceiverConnectedByName)
{
    // Workers that drive a sub-process connect userCacel() by name on the
    // QObject they were given; both the dialog and the stand-in carry it.
    ProgressForm form{QString()};
    RecordingProgress progress;
    int calls = 0;
    QObject receiver;
    for (QObject *f : {static_cast<QObject *>(&form), static_cast<QObject *>(&progress)})
        EXPECT_TRUE(QObject::connect(f, SIGNAL(userCacel()), &receiver, SLOT(deleteLater())));
    QObject::connect(&form, &ProgressForm::userCacel, [&]() { ++calls; });
    QObject::connect(&progress, &RecordingProgress::userCacel, [&]() { ++calls; });

    progress.cancel();
    EXPECT_EQ(progress.result(), 0);
    EXPECT_TRUE(ProgressForm::isCancelled(&progress));
    form.show();
    QTest::mousePress(cancelButton(form), Qt::LeftButton);
    EXPECT_EQ(calls, 2);
    EXPECT_TRUE(ProgressForm::isCancelled(&form));
}

TEST(RecordingProgressTest, TipsWaitCountsAsReadAtOnce)
{
    RecordingProgress progress;
    std::atomic<bool> waited{false};
    std::unique_ptr<QThread> worker(QThread::create([&]() {
        ProgressForm::postTipsWait(&progress, QStringLiteral("note"));
        waited = ProgressForm::isWaiting(&progress);
        ProgressForm::postSucceed(&progress, QString());
    }));
    ASSERT_TRUE(progress.runWorker(*worker));
    EXPECT_TRUE(waited);
    EXPECT_FALSE(progress.isWaiting());
    ASSERT_EQ(progress.posts().size(), 2);
    EXPECT_EQ(progress.posts().first().slot, QStringLiteral("tipsWait"));
    EXPECT_EQ(progress.posts().first().text, QStringLiteral("note"));
}

} // namespace
