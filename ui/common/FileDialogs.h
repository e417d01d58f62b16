#pragma once

#include <functional>

#include <QFileDialog>
#include <QString>

class QWidget;

// The question "where shall this be saved?", asked modally. Same arguments
// and result as QFileDialog::getSaveFileName: the chosen path, or an empty
// text when the user cancelled; selectedFilter, when given, brings the filter
// to preselect (empty: the first) and takes back the one chosen.
QString askSaveFileName(QWidget *parent, const QString &caption, const QString &dir, const QString &filter,
                        QString *selectedFilter = nullptr, QFileDialog::Options options = {});

// The step that asks (by default QFileDialog::getSaveFileName). Tests install
// their own to answer and to see what was asked; the application never
// replaces it. Returns the runner it replaces; an empty runner restores the
// default.
using SaveFileNameRunner = std::function<QString(QWidget *parent, const QString &caption, const QString &dir,
                                                 const QString &filter, QString *selectedFilter,
                                                 QFileDialog::Options options)>;
SaveFileNameRunner setSaveFileNameRunner(SaveFileNameRunner runner);
