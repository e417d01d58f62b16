// Draws the pictures of the main window's own widgets.
//
// Build and run from the repository root:
//   g++ -std=c++17 -fPIC tools/draw_mainwin_icons.cpp $(pkg-config --cflags --libs Qt6Gui) -o /tmp/draw_mainwin_icons
//   QT_QPA_PLATFORM=offscreen /tmp/draw_mainwin_icons resources/icons
//
// The search button's magnifier is 16 x 16, the size a tool button shows,
// drawn four times larger and scaled down smoothly so that the edges are
// soft; slate like the tree's device pictures.
#include "picture_drawing.h"

namespace
{

using namespace drawing;

constexpr int kSize = 16;

const QColor kGlass(0xd6, 0xec, 0xfb);

void magnifier(QPainter &p)
{
    // The handle first, so that the rim covers its inner end.
    p.setPen(QPen(kSlate, 2.6, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(9.6, 9.6), QPointF(14.2, 14.2));
    p.setPen(QPen(kSlate, 1.7));
    p.setBrush(kGlass);
    p.drawEllipse(QPointF(6.4, 6.4), 4.7, 4.7);
    // A small highlight on the glass.
    p.setPen(QPen(QColor(0xff, 0xff, 0xff, 220), 1.0, Qt::SolidLine, Qt::RoundCap));
    p.drawArc(QRectF(3.6, 3.6, 5.6, 5.6), 100 * 16, 70 * 16);
}

} // namespace

int main(int argc, char **argv)
{
    return run(argc, argv,
               [](const QString &out) { return save(out, QStringLiteral("search.png"), kSize, magnifier); });
}
