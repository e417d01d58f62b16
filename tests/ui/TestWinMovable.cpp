#include <QCoreApplication>
#include <QMouseEvent>
#include <QWidget>

#include <gtest/gtest.h>

#include "CaseName.h"
#include "WinMovable.h"

namespace
{

// Counts the mouse events that reach the window itself.
class CountingWindow : public QWidget
{
public:
    int presses = 0;
    int moves = 0;
    int releases = 0;

protected:
    void mousePressEvent(QMouseEvent *) override { ++presses; }
    void mouseMoveEvent(QMouseEvent *) override { ++moves; }
    void mouseReleaseEvent(QMouseEvent *) override { ++releases; }
};

struct MouseStep
{
    QEvent::Type type;
    QPoint pos; // in window coordinates
    Qt::MouseButton button;
};

void send(QWidget &w, const MouseStep &step)
{
    const Qt::MouseButtons held = step.type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::MouseButtons(step.button);
    QMouseEvent e(step.type, QPointF(step.pos), QPointF(w.mapToGlobal(step.pos)), step.button, held, Qt::NoModifier);
    QCoreApplication::sendEvent(&w, &e);
}

struct DragCase
{
    const char *name;
    std::vector<MouseStep> steps;
    QPoint moved;
};

void PrintTo(const DragCase &c, std::ostream *os)
{
    *os << c.name;
}

const auto Press = QEvent::MouseButtonPress;
const auto Move = QEvent::MouseMove;
const auto Release = QEvent::MouseButtonRelease;

class WinMovableTest : public ::testing::TestWithParam<DragCase>
{
};

TEST_P(WinMovableTest, DragRule)
{
    CountingWindow window;
    // Moves with no button held reach the window only when it tracks the mouse.
    window.setMouseTracking(true);
    window.resize(200, 100);
    window.move(300, 200);
    WinMovable mover(&window);
    const QPoint start = window.pos();
    int presses = 0, moves = 0, releases = 0;
    for (const MouseStep &step : GetParam().steps) {
        send(window, step);
        presses += step.type == Press;
        moves += step.type == Move;
        releases += step.type == Release;
    }
    EXPECT_EQ(window.pos() - start, GetParam().moved);
    // The filter never swallows an event.
    EXPECT_EQ(window.presses, presses);
    EXPECT_EQ(window.moves, moves);
    EXPECT_EQ(window.releases, releases);
}

INSTANTIATE_TEST_SUITE_P(Cases, WinMovableTest,
    ::testing::Values(
        DragCase{"LeftDragMovesByTheOffset", {{Press, {10, 10}, Qt::LeftButton}, {Move, {30, 25}, Qt::LeftButton}}, {20, 15}},
        DragCase{"SuccessiveMovesAddUp",
            {{Press, {10, 10}, Qt::LeftButton}, {Move, {15, 10}, Qt::LeftButton}, {Move, {20, 8}, Qt::LeftButton}}, {15, -2}},
        DragCase{"MoveBeforeAnyPress", {{Move, {30, 30}, Qt::LeftButton}}, {0, 0}},
        DragCase{"PressAtTheOrigin", {{Press, {0, 0}, Qt::LeftButton}, {Move, {20, 20}, Qt::LeftButton}}, {0, 0}},
        DragCase{"RightButtonDoesNotDrag", {{Press, {10, 10}, Qt::RightButton}, {Move, {40, 40}, Qt::RightButton}}, {0, 0}},
        DragCase{"ReleaseEndsTheDrag",
            {{Press, {10, 10}, Qt::LeftButton}, {Move, {12, 10}, Qt::LeftButton}, {Release, {12, 10}, Qt::LeftButton},
                {Move, {50, 50}, Qt::NoButton}},
            {2, 0}},
        DragCase{"RightPressAfterLeftDragStopsIt",
            {{Press, {10, 10}, Qt::LeftButton}, {Press, {10, 10}, Qt::RightButton}, {Move, {40, 10}, Qt::LeftButton}},
            {0, 0}}),
    CaseName());

} // namespace
