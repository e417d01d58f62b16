#pragma once

#include <QList>
#include <QString>

#include "FileDialogs.h"

// Answers the application's save-file questions in a test and records them.
// Each question takes the next queued answer: a path and the filter chosen
// with it; with no answer left the question is cancelled (an empty path).
class SaveFileAnswerer
{
public:
    struct Asked
    {
        bool hasParent = false;
        QString caption;
        QString dir;
        QString filter;
        QString preselected; // the selected filter handed in
        int options = 0;
    };

    SaveFileAnswerer();
    ~SaveFileAnswerer();
    SaveFileAnswerer(const SaveFileAnswerer &) = delete;
    SaveFileAnswerer &operator=(const SaveFileAnswerer &) = delete;

    SaveFileAnswerer &answer(const QString &path, const QString &filter);
    SaveFileAnswerer &cancel();

    const QList<Asked> &asked() const { return m_asked; }

private:
    struct Answer
    {
        QString path;
        QString filter;
    };
    QList<Answer> m_answers;
    QList<Asked> m_asked;
    SaveFileNameRunner m_previous;
};
