#pragma once

#include <QByteArray>
#include <QString>

// An iMessage attributedBody naming one attachment: an archived attributed
// string of the single character U+FFFC whose one attribute run holds the
// file-transfer guid and message part 0. The archive's fixed layout holds a
// text of exactly 36 bytes, so transferGuid must be a GUID of that form;
// anything else throws std::runtime_error.
QByteArray attributedBodyFromText(const QString &transferGuid);
