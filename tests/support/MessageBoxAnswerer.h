#pragma once

#include <functional>

#include <QList>
#include <QMessageBox>
#include <QString>

// Answers the application's message boxes in a test and records them. While
// it lives, every box built by showMessageBox runs modally for real and is
// answered by the next queued answer: a click on a standard button or the
// Escape key. A box with no answer left fails the test (unless a default
// answer is set) and is closed with Escape.
class MessageBoxAnswerer
{
public:
    struct Shown
    {
        int icon = 0; // QMessageBox::Icon
        QString title;
        QString text;
        int buttons = 0; // mask of the standard buttons on the box
        Qt::WindowFlags flags;
        QString styleSheet;
        Qt::TextFormat textFormat = Qt::AutoText;
        int result = 0; // what showMessageBox returned
    };

    MessageBoxAnswerer();
    ~MessageBoxAnswerer();
    MessageBoxAnswerer(const MessageBoxAnswerer &) = delete;
    MessageBoxAnswerer &operator=(const MessageBoxAnswerer &) = delete;

    MessageBoxAnswerer &click(QMessageBox::StandardButton button);
    MessageBoxAnswerer &pressEscape();
    // Used once the queued answers are spent.
    void setDefaultAnswer(QMessageBox::StandardButton button);
    // Every question (a box with the question icon) gets this answer and
    // takes none from the queue, for questions whose moment cannot be told
    // in advance.
    void answerQuestions(QMessageBox::StandardButton button);
    // Called with each box while it is shown, before it is answered.
    void setInspector(std::function<void(QMessageBox &)> inspector);

    const QList<Shown> &shown() const { return m_shown; }
    int pendingAnswers() const { return int(m_answers.size()); }

private:
    struct Answer
    {
        bool escape = false;
        QMessageBox::StandardButton button = QMessageBox::NoButton;
    };
    int run(QMessageBox &box);

    QList<Answer> m_answers;
    bool m_hasDefault = false;
    QMessageBox::StandardButton m_default = QMessageBox::NoButton;
    QMessageBox::StandardButton m_questionAnswer = QMessageBox::NoButton;
    std::function<void(QMessageBox &)> m_inspector;
    QList<Shown> m_shown;
    std::function<int(QMessageBox &)> m_previous;
};
