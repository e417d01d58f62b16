#pragma once

#include <QImage>
#include <QString>

// The width of the pictures the source tree and the message list show.
constexpr int kViewIconWidth = 18;

// A picture of the resources at kViewIconWidth, decoded and scaled once per
// process; a null image when path names no picture.
QImage viewIcon(const QString &path);
