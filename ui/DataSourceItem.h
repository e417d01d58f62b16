#pragma once

#include <QString>

// One entry of the data-source dialog. The dialog hands data back to the
// caller untouched and never looks behind it.
struct DataSourceItem
{
    QString icon; // resource path of the picture beside the text
    QString text;
    void *data = nullptr;
};
