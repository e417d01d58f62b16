#include <functional>
#include <memory>

#include <QCoreApplication>
#include <QDialog>
#include <QMouseEvent>

#include <gtest/gtest.h>

#include "AboutUsForm.h"
#include "CaseName.h"
#include "CountrySelForm.h"
#include "DataSourceSelForm.h"
#include "LocalDbSelForm.h"

namespace
{

struct DialogCase
{
    std::string name;
    std::function<std::unique_ptr<QDialog>()> make;
};

void PrintTo(const DialogCase &c, std::ostream *os)
{
    *os << c.name;
}

void sendMouse(QWidget &w, QEvent::Type type, QPoint at, Qt::MouseButton button, Qt::MouseButtons held)
{
    QMouseEvent event(type, QPointF(at), QPointF(w.mapToGlobal(at)), button, held, Qt::NoModifier);
    QCoreApplication::sendEvent(&w, &event);
}

class DialogDragTest : public ::testing::TestWithParam<DialogCase>
{
};

// The dialogs have no title bar; the left button held anywhere on them
// drags them.
TEST_P(DialogDragTest, TheFramelessDialogFollowsTheMouse)
{
    std::unique_ptr<QDialog> dialog = GetParam().make();
    dialog->show();
    const QPoint start = dialog->pos();
    sendMouse(*dialog, QEvent::MouseButtonPress, QPoint(5, 5), Qt::LeftButton, Qt::LeftButton);
    sendMouse(*dialog, QEvent::MouseMove, QPoint(35, 25), Qt::NoButton, Qt::LeftButton);
    sendMouse(*dialog, QEvent::MouseButtonRelease, QPoint(35, 25), Qt::LeftButton, Qt::NoButton);
    EXPECT_EQ(dialog->pos() - start, QPoint(30, 20));
    EXPECT_EQ(int(dialog->windowFlags()), int(Qt::Dialog | Qt::FramelessWindowHint));
}

INSTANTIATE_TEST_SUITE_P(Dialogs, DialogDragTest,
    ::testing::Values(DialogCase{"About", [] { return std::make_unique<AboutUsForm>(); }},
        DialogCase{"Country", [] { return std::make_unique<CountrySelForm>(); }},
        DialogCase{"LocalDb", [] { return std::make_unique<LocalDbSelForm>(QStringList(), QString()); }},
        DialogCase{"DataSource", [] { return std::make_unique<DataSourceSelForm>(); }}),
    CaseName());

} // namespace
