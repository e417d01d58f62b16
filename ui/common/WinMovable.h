#pragma once

#include <QObject>

class QWidget;

// Lets a frameless window be dragged by any point of its surface. It watches
// the window's mouse events and never consumes them, so the window and its
// children still see every click.
class WinMovable : public QObject
{
    Q_OBJECT
public:
    explicit WinMovable(QWidget *target);

    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QWidget *m_target;
    int m_pressX = 0;
    int m_pressY = 0;
    bool m_leftDown = false;
};
