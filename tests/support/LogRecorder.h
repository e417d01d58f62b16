#pragma once

#include <QString>
#include <QStringList>
#include <QtGlobal>

// Takes the place of Qt's message handler while it lives and keeps the texts
// of the messages of one type (the others are dropped); puts the handler
// before it back when it goes. One at a time. Messages may come from any
// thread.
class LogRecorder
{
public:
    explicit LogRecorder(QtMsgType type);
    ~LogRecorder();
    LogRecorder(const LogRecorder &) = delete;
    LogRecorder &operator=(const LogRecorder &) = delete;

    // How many of the kept messages read exactly text.
    int count(const QString &text) const;
    QStringList lines() const;

private:
    QtMessageHandler m_previous = nullptr;
};

// Counts the rebuilds that the contacts database announces in the log.
class RebuildCounter
{
public:
    int count() const;

private:
    LogRecorder m_log{QtDebugMsg};
};
