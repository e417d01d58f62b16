#include "MessageBoxAnswerer.h"

#include <QAbstractButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include "MessageBoxes.h"

MessageBoxAnswerer::MessageBoxAnswerer()
{
    m_previous = setMessageBoxRunner([this](QMessageBox &box) { return run(box); });
}

MessageBoxAnswerer::~MessageBoxAnswerer()
{
    setMessageBoxRunner(m_previous);
}

MessageBoxAnswerer &MessageBoxAnswerer::click(QMessageBox::StandardButton button)
{
    m_answers.append({false, button});
    return *this;
}

MessageBoxAnswerer &MessageBoxAnswerer::pressEscape()
{
    m_answers.append({true, QMessageBox::NoButton});
    return *this;
}

void MessageBoxAnswerer::setDefaultAnswer(QMessageBox::StandardButton button)
{
    m_hasDefault = true;
    m_default = button;
}

void MessageBoxAnswerer::answerQuestions(QMessageBox::StandardButton button)
{
    m_questionAnswer = button;
}

void MessageBoxAnswerer::setInspector(std::function<void(QMessageBox &)> inspector)
{
    m_inspector = std::move(inspector);
}

int MessageBoxAnswerer::run(QMessageBox &box)
{
    Shown shown;
    shown.icon = box.icon();
    shown.title = box.windowTitle();
    shown.text = box.text();
    for (QAbstractButton *b : box.buttons())
        shown.buttons |= box.standardButton(b);
    shown.flags = box.windowFlags();
    shown.styleSheet = box.styleSheet();
    shown.textFormat = box.textFormat();

    Answer answer;
    if (m_questionAnswer != QMessageBox::NoButton && box.icon() == QMessageBox::Question) {
        answer.button = m_questionAnswer;
    } else if (!m_answers.isEmpty()) {
        answer = m_answers.takeFirst();
    } else if (m_hasDefault) {
        answer.button = m_default;
    } else {
        ADD_FAILURE() << "unexpected message box: " << box.text().toStdString();
        answer.escape = true;
    }

    QTimer::singleShot(0, &box, [this, &box, answer]() {
        if (m_inspector)
            m_inspector(box);
        if (answer.escape) {
            QTest::keyClick(&box, Qt::Key_Escape);
        } else if (QAbstractButton *b = box.button(answer.button)) {
            b->click();
        } else {
            ADD_FAILURE() << "message box has no such button: " << box.text().toStdString();
        }
        // Never leave a test hanging in a box that did not close.
        if (box.isVisible())
            box.done(0);
    });
    shown.result = box.exec();
    m_shown.append(shown);
    return shown.result;
}
