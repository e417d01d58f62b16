// Draws the small pictures of the source tree and the message list.
//
// Build and run from the repository root:
//   g++ -std=c++17 -fPIC tools/draw_view_icons.cpp $(pkg-config --cflags --libs Qt6Gui) -o /tmp/draw_view_icons
//   QT_QPA_PLATFORM=offscreen /tmp/draw_view_icons resources/icons
//
// Every picture is 18 x 18, the size the views show them at, drawn four
// times larger and scaled down smoothly so that the edges are soft. One
// palette for all: slate for devices, blue for databases and iMessage, green
// for SMS, warm grey for people.
#include "picture_drawing.h"

#include <QPainterPath>
#include <QPolygonF>

namespace
{

using namespace drawing;

constexpr int kSize = 18;

const QColor kDroid(0x8c, 0xc3, 0x3f);
const QColor kPerson(0x8a, 0x7f, 0x76);
const QColor kPersonLight(0xb9, 0xb0, 0xa8);

// At this size the rim round the screen has to be wide to be seen at all.
constexpr PhoneLook kPhone{0.14, 0.14, 0.66, 0.2, 0.1};
constexpr qreal kCap = 0.3;

bool save(const QString &folder, const QString &name, const Draw &draw)
{
    return drawing::save(folder, name, kSize, draw);
}

void person(QPainter &p, qreal cx, qreal top, qreal w, const QColor &c)
{
    p.setPen(Qt::NoPen);
    p.setBrush(c);
    const qreal head = w * 0.46;
    p.drawEllipse(QRectF(cx - head / 2, top, head, head));
    QPainterPath shoulders;
    const QRectF torso(cx - w / 2, top + head * 1.08, w, w * 0.9);
    shoulders.moveTo(torso.left(), torso.bottom());
    shoulders.lineTo(torso.left(), torso.top() + torso.height() * 0.45);
    shoulders.arcTo(QRectF(torso.left(), torso.top(), torso.width(), torso.height() * 0.9), 180, -180);
    shoulders.lineTo(torso.right(), torso.bottom());
    shoulders.closeSubpath();
    p.drawPath(shoulders);
}

// A speech bubble with its tail on the left (received) or right (sent) and
// an arrow that points out of it (sent) or into it (received).
void bubble(QPainter &p, const QColor &c, bool sent)
{
    p.setPen(Qt::NoPen);
    p.setBrush(c);
    const QRectF r(1, 2, 16, 11.5);
    p.drawRoundedRect(r, 5, 5);
    QPolygonF tail;
    if (sent)
        tail << QPointF(11, 12) << QPointF(16.5, 16.5) << QPointF(14.5, 10);
    else
        tail << QPointF(7, 12) << QPointF(1.5, 16.5) << QPointF(3.5, 10);
    p.drawPolygon(tail);

    QPen pen(kWhite, 1.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    const qreal y = r.center().y();
    if (sent) {
        p.drawLine(QPointF(5, y), QPointF(12.5, y));
        p.drawPolyline(QPolygonF() << QPointF(9.5, y - 3) << QPointF(12.5, y) << QPointF(9.5, y + 3));
    } else {
        p.drawLine(QPointF(12.5, y), QPointF(5, y));
        p.drawPolyline(QPolygonF() << QPointF(8, y - 3) << QPointF(5, y) << QPointF(8, y + 3));
    }
}

} // namespace

int main(int argc, char **argv)
{
    return run(argc, argv, [](const QString &out) {
        bool ok = true;
        ok &= save(out, QStringLiteral("iphone.png"),
                   [](QPainter &p) { phone(p, QRectF(4.5, 1, 9, 16), kSlate, kPhone); });
        ok &= save(out, QStringLiteral("devices.png"), [](QPainter &p) {
            phone(p, QRectF(1, 3, 7.5, 13.5), kSlate.lighter(140), kPhone);
            phone(p, QRectF(8.5, 1, 8.5, 15.5), kSlate, kPhone);
        });
        ok &= save(out, QStringLiteral("android.png"), [](QPainter &p) {
            p.setPen(Qt::NoPen);
            p.setBrush(kDroid);
            p.drawChord(QRectF(3, 3, 12, 11), 0, 180 * 16);
            p.drawRoundedRect(QRectF(3, 9.5, 12, 7), 1.5, 1.5);
            p.setPen(QPen(kDroid, 1.2, Qt::SolidLine, Qt::RoundCap));
            p.drawLine(QPointF(5.5, 4), QPointF(4, 1.5));
            p.drawLine(QPointF(12.5, 4), QPointF(14, 1.5));
            p.setPen(Qt::NoPen);
            p.setBrush(kWhite);
            p.drawEllipse(QPointF(6.8, 6.3), 0.9, 0.9);
            p.drawEllipse(QPointF(11.2, 6.3), 0.9, 0.9);
        });
        ok &= save(out, QStringLiteral("database.png"), [](QPainter &p) {
            cylinder(p, QRectF(3, 1.5, 12, 15), kBlue, kBlueLight, kCap);
        });
        ok &= save(out, QStringLiteral("databases.png"), [](QPainter &p) {
            cylinder(p, QRectF(1, 1, 10, 12.5), kBlue.lighter(125), kBlueLight.lighter(115), kCap);
            cylinder(p, QRectF(7, 4.5, 10, 12.5), kBlue, kBlueLight, kCap);
        });
        ok &= save(out, QStringLiteral("contact.png"), [](QPainter &p) { person(p, 9, 1.5, 12, kPerson); });
        ok &= save(out, QStringLiteral("group.png"), [](QPainter &p) {
            person(p, 6, 2, 9, kPersonLight);
            person(p, 11.5, 3.5, 10.5, kPerson);
        });
        ok &= save(out, QStringLiteral("imsg-send.png"), [](QPainter &p) { bubble(p, kBlue, true); });
        ok &= save(out, QStringLiteral("imsg-rec.png"), [](QPainter &p) { bubble(p, kBlue, false); });
        ok &= save(out, QStringLiteral("icon_sms-sent.png"), [](QPainter &p) { bubble(p, kGreen, true); });
        ok &= save(out, QStringLiteral("icon_sms-receive.png"), [](QPainter &p) { bubble(p, kGreen, false); });
        return ok;
    });
}
