#pragma once

#include <QString>

// Makes plain text safe to put between HTML tags: "&", "<" and ">" become
// entities and every line end ("\n" or "\r\n") becomes "<br/>".
QString htmlEscape(const QString &text);
