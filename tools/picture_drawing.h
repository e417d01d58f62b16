// What the programs that draw the application's pictures share: the palette,
// the soft-edged rendering, the command line and the shapes more than one
// set of pictures shows.
//
// Every picture is drawn four times larger than it is stored and scaled down
// smoothly so that the edges are soft.
#pragma once

#include <QColor>
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QPen>

#include <cstdio>
#include <functional>
#include <initializer_list>

namespace drawing
{

constexpr int kScale = 4;

// One palette for all pictures: slate for devices, blue for databases and
// iMessage, green for SMS and for what goes out.
inline const QColor kSlate(0x45, 0x52, 0x63);
inline const QColor kScreen(0x9f, 0xd3, 0xf5);
inline const QColor kBlue(0x2b, 0x7b, 0xd6);
inline const QColor kBlueLight(0x7f, 0xb5, 0xee);
inline const QColor kGreen(0x3a, 0xb5, 0x4a);
inline const QColor kWhite(0xff, 0xff, 0xff);

using Draw = std::function<void(QPainter &)>;

// A size x size picture, drawn in units of one stored pixel.
inline QImage render(int size, const Draw &draw)
{
    QImage big(size * kScale, size * kScale, QImage::Format_ARGB32_Premultiplied);
    big.fill(Qt::transparent);
    {
        QPainter p(&big);
        p.setRenderHint(QPainter::Antialiasing);
        p.scale(kScale, kScale);
        draw(p);
    }
    return big.scaled(size, size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation).convertToFormat(QImage::Format_ARGB32);
}

inline bool save(const QString &folder, const QString &name, int size, const Draw &draw)
{
    const QString path = QDir(folder).filePath(name);
    if (!render(size, draw).save(path, "PNG")) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return false;
    }
    return true;
}

// The whole program: one argument, the folder the pictures go to (made if it
// is not there); drawAll says whether every picture was written.
inline int run(int argc, char **argv, const std::function<bool(const QString &folder)> &drawAll)
{
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <output folder>\n", argv[0]);
        return 2;
    }
    const QString out = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(out);
    return drawAll(out) ? 0 : 1;
}

// Where a phone's screen and button sit, as fractions of its width (margin,
// button) and height (screen, button's centre above the bottom edge); small
// pictures want a wider rim than large ones.
struct PhoneLook
{
    qreal margin;
    qreal screenTop;
    qreal screenHeight;
    qreal button;
    qreal buttonDrop;
};

inline void phone(QPainter &p, const QRectF &r, const QColor &body, const PhoneLook &look)
{
    p.setPen(Qt::NoPen);
    p.setBrush(body);
    p.drawRoundedRect(r, r.width() * 0.22, r.width() * 0.22);
    const qreal m = r.width() * look.margin;
    p.setBrush(kScreen);
    p.drawRect(QRectF(r.left() + m, r.top() + r.height() * look.screenTop, r.width() - 2 * m,
                      r.height() * look.screenHeight));
    p.setBrush(kWhite);
    const qreal d = r.width() * look.button;
    p.drawEllipse(QPointF(r.center().x(), r.bottom() - r.height() * look.buttonDrop), d / 2, d / 2);
}

// A database: a cylinder whose cap is capRatio of its height, with a ring
// round the body at each of the given fractions of its height.
inline void cylinder(QPainter &p, const QRectF &r, const QColor &side, const QColor &top, qreal capRatio,
                     std::initializer_list<qreal> rings = {})
{
    const qreal capH = r.height() * capRatio;
    QPainterPath body;
    body.moveTo(r.left(), r.top() + capH / 2);
    body.lineTo(r.left(), r.bottom() - capH / 2);
    body.arcTo(QRectF(r.left(), r.bottom() - capH, r.width(), capH), 180, 180);
    body.lineTo(r.right(), r.top() + capH / 2);
    body.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(side);
    p.drawPath(body);
    if (rings.size() != 0) {
        p.setPen(QPen(top, r.width() * 0.05));
        p.setBrush(Qt::NoBrush);
        for (qreal f : rings)
            p.drawArc(QRectF(r.left(), r.top() + r.height() * f - capH / 2, r.width(), capH), 180 * 16, 180 * 16);
        p.setPen(Qt::NoPen);
    }
    p.setBrush(top);
    p.drawEllipse(QRectF(r.left(), r.top(), r.width(), capH));
}

} // namespace drawing
