// Draws the application's icon for the desktop's menus, at every size the
// icon theme keeps, into <output folder>/<size>x<size>/apps/larkspan.png.
//
// Build and run from the repository root:
//   g++ -std=c++17 -fPIC tools/draw_app_icon.cpp $(pkg-config --cflags --libs Qt6Gui) -o /tmp/draw_app_icon
//   QT_QPA_PLATFORM=offscreen /tmp/draw_app_icon resources/desktop/icons/hicolor
//
// A blue tile with a white message received and a green one sent, drawn on a
// 64-unit grid and scaled to each size; the smallest sizes leave out the
// dots, which would only blur there.
#include "picture_drawing.h"

#include <QLinearGradient>
#include <QPolygonF>

namespace
{

using namespace drawing;

constexpr int kSizes[] = {16, 22, 24, 32, 48, 64, 128, 256};
constexpr qreal kGrid = 64;
constexpr int kSmallest = 24;

void icon(QPainter &p, int size)
{
    p.scale(size / kGrid, size / kGrid);
    p.setPen(Qt::NoPen);

    QLinearGradient tile(0, 2, 0, 62);
    tile.setColorAt(0, kBlueLight);
    tile.setColorAt(1, kBlue);
    p.setBrush(tile);
    p.drawRoundedRect(QRectF(2, 2, 60, 60), 13, 13);

    // Received: white, its tail at the bottom left.
    p.setBrush(kWhite);
    p.drawRoundedRect(QRectF(8, 10, 38, 27), 11, 11);
    p.drawPolygon(QPolygonF({QPointF(14, 32), QPointF(10, 45), QPointF(26, 35)}));
    if (size > kSmallest) {
        p.setBrush(kBlue);
        for (qreal x : {18.0, 27.0, 36.0})
            p.drawEllipse(QPointF(x, 23.5), 2.8, 2.8);
    }

    // Sent: green, in front, its tail at the bottom right, with a rim of the
    // tile's colour so that the two bubbles stay apart.
    QPainterPath body;
    body.addRoundedRect(QRectF(22, 29, 34, 22), 10, 10);
    QPainterPath tail;
    tail.moveTo(42, 47);
    tail.quadTo(50, 51, 56, 57);
    tail.quadTo(51, 51, 52, 44);
    tail.closeSubpath();
    const QPainterPath sent = body.united(tail);
    p.setPen(QPen(kBlue, size > kSmallest ? 2.5 : 4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(kGreen);
    p.drawPath(sent);
}

bool drawAll(const QString &out)
{
    for (int size : kSizes) {
        const QString folder = QDir(out).filePath(QStringLiteral("%1x%1/apps").arg(size));
        if (!QDir().mkpath(folder)) {
            std::fprintf(stderr, "cannot make %s\n", qPrintable(folder));
            return false;
        }
        if (!save(folder, QStringLiteral("larkspan.png"), size, [size](QPainter &p) { icon(p, size); }))
            return false;
    }
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    return run(argc, argv, drawAll);
}
