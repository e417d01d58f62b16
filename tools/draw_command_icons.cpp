// Draws the pictures of the main window's commands: its menus, its tool bar
// and its context menus.
//
// Build and run from the repository root:
//   g++ -std=c++17 -fPIC tools/draw_command_icons.cpp $(pkg-config --cflags --libs Qt6Gui) -o /tmp/draw_command_icons
//   QT_QPA_PLATFORM=offscreen /tmp/draw_command_icons resources/icons
//
// Every picture is 60 x 60, the size of the tool bar's buttons (menus scale
// them down), drawn four times larger and scaled down smoothly so that the
// edges are soft. The palette is the one of the tree's pictures: slate for
// devices, blue for databases, green for what goes out, red for deleting.
#include "picture_drawing.h"

#include <QPainterPath>
#include <QPolygonF>

namespace
{

using namespace drawing;

constexpr int kSize = 60;

const QColor kRed(0xd9, 0x3f, 0x3a);
const QColor kPaper(0xf4, 0xf6, 0xf8);
const QColor kFolder(0xe8, 0xb0, 0x3c);
const QColor kFolderBack(0xc9, 0x8f, 0x24);

constexpr PhoneLook kPhone{0.12, 0.13, 0.68, 0.18, 0.09};

// A stack of disks: two rings round the body.
void database(QPainter &p, const QRectF &r)
{
    cylinder(p, r, kBlue, kBlueLight, 0.28, {0.42, 0.68});
}

bool save(const QString &folder, const QString &name, const Draw &draw)
{
    return drawing::save(folder, name, kSize, draw);
}

// A thick arrow from a to b (horizontal or vertical) with a white rim, so
// that it stands out where it overlaps a picture.
void arrow(QPainter &p, QPointF a, QPointF b, const QColor &c)
{
    const QLineF line(a, b);
    const qreal len = line.length();
    const QPointF u = (b - a) / len;
    const QPointF n(-u.y(), u.x());
    const qreal shaft = 4.5;
    const qreal head = 10;
    const qreal headLen = 10;
    const QPointF neck = b - u * headLen;
    QPolygonF poly;
    poly << a + n * shaft << neck + n * shaft << neck + n * head << b << neck - n * head << neck - n * shaft
         << a - n * shaft;
    p.setPen(QPen(kWhite, 2.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(c);
    p.drawPolygon(poly);
}

void document(QPainter &p, const QRectF &r)
{
    const qreal fold = r.width() * 0.3;
    QPainterPath page;
    page.moveTo(r.topLeft());
    page.lineTo(r.right() - fold, r.top());
    page.lineTo(r.right(), r.top() + fold);
    page.lineTo(r.bottomRight());
    page.lineTo(r.bottomLeft());
    page.closeSubpath();
    p.setPen(QPen(kSlate, 2.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(kPaper);
    p.drawPath(page);
    QPainterPath corner;
    corner.moveTo(r.right() - fold, r.top());
    corner.lineTo(r.right() - fold, r.top() + fold);
    corner.lineTo(r.right(), r.top() + fold);
    p.setBrush(Qt::NoBrush);
    p.drawPath(corner);
    p.setPen(QPen(kBlueLight, 2.4, Qt::SolidLine, Qt::RoundCap));
    for (int i = 0; i < 4; ++i) {
        const qreal y = r.top() + fold + 6 + i * 6.5;
        if (y > r.bottom() - 4)
            break;
        p.drawLine(QPointF(r.left() + 5, y), QPointF(r.right() - 6, y));
    }
}

void folder(QPainter &p, const QRectF &r)
{
    p.setPen(Qt::NoPen);
    p.setBrush(kFolderBack);
    QPainterPath back;
    back.moveTo(r.left(), r.bottom());
    back.lineTo(r.left(), r.top() + 3);
    back.quadTo(r.left(), r.top(), r.left() + 3, r.top());
    back.lineTo(r.left() + r.width() * 0.35, r.top());
    back.lineTo(r.left() + r.width() * 0.45, r.top() + r.height() * 0.14);
    back.lineTo(r.right() - 3, r.top() + r.height() * 0.14);
    back.quadTo(r.right(), r.top() + r.height() * 0.14, r.right(), r.top() + r.height() * 0.14 + 3);
    back.lineTo(r.right(), r.bottom());
    back.closeSubpath();
    p.drawPath(back);
    p.setBrush(kFolder);
    p.drawRoundedRect(QRectF(r.left(), r.top() + r.height() * 0.3, r.width(), r.height() * 0.7), 3, 3);
}

} // namespace

int main(int argc, char **argv)
{
    return run(argc, argv, [](const QString &out) {
        bool ok = true;
        // From a phone into a database.
        ok &= save(out, QStringLiteral("backup.png"), [](QPainter &p) {
            phone(p, QRectF(4, 4, 22, 40), kSlate, kPhone);
            database(p, QRectF(32, 22, 24, 34));
            arrow(p, QPointF(14, 50), QPointF(38, 50), kGreen);
        });
        // From one phone to another.
        ok &= save(out, QStringLiteral("i2i.png"), [](QPainter &p) {
            phone(p, QRectF(3, 6, 20, 38), kSlate.lighter(140), kPhone);
            phone(p, QRectF(37, 6, 20, 38), kSlate, kPhone);
            arrow(p, QPointF(12, 50), QPointF(48, 50), kGreen);
        });
        // From a database to a phone.
        ok &= save(out, QStringLiteral("db2i.png"), [](QPainter &p) {
            database(p, QRectF(3, 6, 24, 34));
            phone(p, QRectF(35, 4, 22, 40), kSlate, kPhone);
            arrow(p, QPointF(12, 50), QPointF(48, 50), kGreen);
        });
        // A page with an arrow leaving it.
        ok &= save(out, QStringLiteral("export.png"), [](QPainter &p) {
            document(p, QRectF(6, 4, 34, 48));
            arrow(p, QPointF(28, 40), QPointF(56, 40), kGreen);
        });
        ok &= save(out, QStringLiteral("print.png"), [](QPainter &p) {
            p.setPen(QPen(kSlate, 2.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
            p.setBrush(kPaper);
            p.drawRect(QRectF(16, 5, 28, 18));
            p.setPen(Qt::NoPen);
            p.setBrush(kSlate);
            p.drawRoundedRect(QRectF(5, 20, 50, 24), 5, 5);
            p.setBrush(kGreen);
            p.drawEllipse(QPointF(47, 28), 2.5, 2.5);
            p.setPen(QPen(kSlate, 2.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
            p.setBrush(kPaper);
            p.drawRect(QRectF(15, 36, 30, 20));
            p.setPen(QPen(kBlueLight, 2.4, Qt::SolidLine, Qt::RoundCap));
            p.drawLine(QPointF(20, 43), QPointF(40, 43));
            p.drawLine(QPointF(20, 49), QPointF(34, 49));
        });
        // A waste bin.
        ok &= save(out, QStringLiteral("delete.png"), [](QPainter &p) {
            p.setPen(Qt::NoPen);
            p.setBrush(kRed);
            p.drawRoundedRect(QRectF(23, 3, 14, 7), 2, 2);
            p.drawRoundedRect(QRectF(8, 8, 44, 7), 2.5, 2.5);
            QPainterPath bin;
            bin.moveTo(12, 18);
            bin.lineTo(48, 18);
            bin.lineTo(45, 55);
            bin.quadTo(44.7, 57, 42.5, 57);
            bin.lineTo(17.5, 57);
            bin.quadTo(15.3, 57, 15, 55);
            bin.closeSubpath();
            p.drawPath(bin);
            p.setPen(QPen(kWhite, 3, Qt::SolidLine, Qt::RoundCap));
            for (qreal x : {22.0, 30.0, 38.0})
                p.drawLine(QPointF(x, 24), QPointF(x, 51));
        });
        // From a backup on the computer (a disc) into a database.
        ok &= save(out, QStringLiteral("import_itunes.png"), [](QPainter &p) {
            p.setPen(Qt::NoPen);
            p.setBrush(kSlate.lighter(150));
            p.drawEllipse(QPointF(17, 18), 15, 15);
            p.setBrush(kPaper);
            p.drawEllipse(QPointF(17, 18), 4.5, 4.5);
            p.setPen(QPen(kWhite, 1.5));
            p.setBrush(Qt::NoBrush);
            p.drawArc(QRectF(7, 8, 20, 20), 100 * 16, 70 * 16);
            database(p, QRectF(32, 22, 24, 34));
            arrow(p, QPointF(10, 48), QPointF(38, 48), kGreen);
        });
        ok &= save(out, QStringLiteral("open_db_folder.png"), [](QPainter &p) {
            folder(p, QRectF(3, 10, 54, 42));
            database(p, QRectF(22, 24, 18, 26));
        });
        // A door with an arrow going out of it.
        ok &= save(out, QStringLiteral("exit.png"), [](QPainter &p) {
            p.setPen(QPen(kSlate, 3, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
            p.setBrush(kPaper);
            p.drawRect(QRectF(8, 5, 28, 50));
            p.setPen(Qt::NoPen);
            p.setBrush(kSlate);
            QPolygonF door;
            door << QPointF(8, 5) << QPointF(26, 11) << QPointF(26, 58) << QPointF(8, 55);
            p.drawPolygon(door);
            p.setBrush(kWhite);
            p.drawEllipse(QPointF(22, 33), 1.8, 1.8);
            arrow(p, QPointF(30, 30), QPointF(57, 30), kRed);
        });
        // A question mark on a blue disc.
        ok &= save(out, QStringLiteral("help.png"), [](QPainter &p) {
            p.setPen(Qt::NoPen);
            p.setBrush(kBlue);
            p.drawEllipse(QPointF(30, 30), 26, 26);
            p.setPen(QPen(kWhite, 6.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
            p.setBrush(Qt::NoBrush);
            QPainterPath mark;
            mark.moveTo(21, 23);
            mark.cubicTo(21, 12, 39, 12, 39, 23);
            mark.cubicTo(39, 30, 30, 30, 30, 37);
            p.drawPath(mark);
            p.setPen(Qt::NoPen);
            p.setBrush(kWhite);
            p.drawEllipse(QPointF(30, 46), 4, 4);
        });
        // The eject sign.
        ok &= save(out, QStringLiteral("unmount.png"), [](QPainter &p) {
            p.setPen(Qt::NoPen);
            p.setBrush(kSlate);
            QPolygonF triangle;
            triangle << QPointF(30, 6) << QPointF(55, 34) << QPointF(5, 34);
            p.drawPolygon(triangle);
            p.drawRoundedRect(QRectF(5, 42, 50, 10), 2, 2);
        });
        return ok;
    });
}
