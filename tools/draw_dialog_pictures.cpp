// Draws the product picture of the About box.
//
// Build and run from the repository root:
//   g++ -std=c++17 -fPIC tools/draw_dialog_pictures.cpp $(pkg-config --cflags --libs Qt6Gui) -o /tmp/draw_dialog_pictures
//   QT_QPA_PLATFORM=offscreen /tmp/draw_dialog_pictures resources/dialogs
//
// The picture is 128 x 128, twice the height the box shows it at, drawn four
// times larger still and scaled down smoothly so that the edges stay soft.
// Its colours are those of the application's buttons (amber with a brown
// edge) and of the source-tree pictures (a slate phone with a light screen,
// blue and green speech bubbles for iMessage and SMS).
#include "picture_drawing.h"

#include <QLinearGradient>
#include <QPainterPath>

namespace
{

using namespace drawing;

constexpr int kSize = 128;

const QColor kAmberLight(0xff, 0xea, 0xc9);
const QColor kAmber(0xff, 0xb6, 0x45);
const QColor kAmberEdge(0xb3, 0x6f, 0x07);
// The screen is paler here than on the small pictures.
const QColor kPaleScreen(0xe8, 0xf4, 0xfc);

// A rounded speech bubble with its tail at the lower left (tailLeft) or
// lower right corner, and three short text lines.
void bubble(QPainter &p, const QRectF &r, const QColor &colour, bool tailLeft)
{
    QPainterPath path;
    path.addRoundedRect(r, 5, 5);
    QPainterPath tail;
    const qreal x = tailLeft ? r.left() + 6 : r.right() - 6;
    const qreal dx = tailLeft ? -7 : 7;
    tail.moveTo(x - 4, r.bottom() - 2);
    tail.lineTo(x + dx, r.bottom() + 6);
    tail.lineTo(x + 4, r.bottom() - 2);
    tail.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(colour);
    p.drawPath(path.united(tail));
    p.setBrush(kWhite);
    const qreal lineH = 2.6;
    for (int i = 0; i < 2; ++i) {
        const qreal w = (r.width() - 12) * (i == 0 ? 1.0 : 0.6);
        p.drawRoundedRect(QRectF(r.left() + 6, r.top() + 5 + i * 6, w, lineH), 1.3, 1.3);
    }
}

void drawProduct(QPainter &p)
{
    // Tile.
    QLinearGradient fill(0, 4, 0, 124);
    fill.setColorAt(0, kAmberLight);
    fill.setColorAt(1, kAmber);
    p.setPen(QPen(kAmberEdge, 3));
    p.setBrush(fill);
    p.drawRoundedRect(QRectF(4, 4, 120, 120), 24, 24);

    // Phone.
    const QRectF phone(34, 14, 60, 100);
    p.setPen(Qt::NoPen);
    p.setBrush(kSlate);
    p.drawRoundedRect(phone, 11, 11);
    const QRectF screen(phone.left() + 6, phone.top() + 13, phone.width() - 12, phone.height() - 28);
    p.setBrush(kPaleScreen);
    p.drawRect(screen);
    p.setBrush(kWhite);
    p.drawEllipse(QPointF(phone.center().x(), phone.bottom() - 7.5), 4, 4);
    p.setBrush(QColor(0x2c, 0x35, 0x40));
    p.drawRoundedRect(QRectF(phone.center().x() - 8, phone.top() + 5.5, 16, 2.5), 1.2, 1.2);

    // A conversation on the screen: received (green, left), sent (blue, right).
    bubble(p, QRectF(screen.left() + 5, screen.top() + 7, 32, 18), kGreen, true);
    bubble(p, QRectF(screen.right() - 37, screen.top() + 35, 32, 18), kBlue, false);
    bubble(p, QRectF(screen.left() + 5, screen.top() + 61, 26, 11), kGreen, true);
}

} // namespace

int main(int argc, char **argv)
{
    return run(argc, argv,
               [](const QString &out) { return save(out, QStringLiteral("main.png"), kSize, drawProduct); });
}
