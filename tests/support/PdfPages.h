#pragma once

#include <QByteArray>

// The page objects of a PDF file whose dictionaries are not compressed (as
// Qt writes them).
int pdfPages(const QByteArray &pdf);
