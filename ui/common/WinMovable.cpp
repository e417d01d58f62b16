#include "WinMovable.h"

#include <QMouseEvent>
#include <QWidget>

WinMovable::WinMovable(QWidget *target)
    : QObject(nullptr)
    , m_target(target)
{
    if (m_target)
        m_target->installEventFilter(this);
}

bool WinMovable::eventFilter(QObject *watched, QEvent *event)
{
    switch (event->type()) {
    case QEvent::MouseButtonPress: {
        auto *e = static_cast<QMouseEvent *>(event);
        const QPoint p = e->position().toPoint();
        m_pressX = p.x();
        m_pressY = p.y();
        m_leftDown = e->button() == Qt::LeftButton;
        break;
    }
    case QEvent::MouseMove: {
        // A press point of (0, 0) doubles as "no press seen yet".
        if ((m_pressX != 0 || m_pressY != 0) && m_leftDown && watched == m_target) {
            auto *e = static_cast<QMouseEvent *>(event);
            const QPoint delta = e->position().toPoint() - QPoint(m_pressX, m_pressY);
            m_target->move(m_target->pos() + delta);
        }
        break;
    }
    case QEvent::MouseButtonRelease:
        m_leftDown = false;
        break;
    default:
        break;
    }
    return false;
}
