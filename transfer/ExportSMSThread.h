#pragma once

#include <QList>
#include <QString>
#include <QThread>

#include "_MsgMessage.h"

class ExportOutput;

// Exports messages to files under the progress dialog: code 0 text (also for
// ".doc" names) and 1 CSV into the one file at the output path, in the order
// given; 2 PDF and 3 HTML into the output folder, one file per conversation,
// conversations ordered by their newest message. An HTML export also gets
// the folder "files" with the program's "bubble" pictures and, when the
// program has them, an "emoji" folder.
//
// Files are complete before they take their names; a cancel or an error
// removes what the run wrote and leaves what was there before. Reports only
// through the dialog's posting functions and reads its cancelled flag
// between messages.
//
// PDF and HTML conversations are written by several writer threads at once,
// a bounded number of conversations ahead of the oldest unfinished one. What
// the run shows and leaves is what writing them one after the other would:
// names are given in conversation order, progress counts the messages
// written in export order, and a failure is that of the first conversation
// (in export order) that did not finish.
class ExportSMSThread : public QThread
{
    Q_OBJECT
public:
    // messages: records of the caller's message set, which must outlive the
    // run; form: the progress dialog (or a stand-in with its slots).
    // ascending: the order of PDF and HTML exports. Nothing starts before
    // start().
    ExportSMSThread(const QList<_MsgMessage *> &messages, const QString &outputPath, int format, bool ascending,
                    QObject *form, QObject *parent = nullptr);
    ~ExportSMSThread() override;

protected:
    void run() override;

private:
    // Writes a sorted PDF or HTML export, one file per conversation; the
    // number of messages written. Throws as a single writer would.
    int exportConversations(ExportOutput &output);

    QList<_MsgMessage *> m_messages;
    QString m_outputPath;
    int m_format;
    bool m_ascending;
    QObject *m_form;
};

// The export order of two messages: by conversation (chat identifiers equal
// ignoring case), conversations by their newest message (_last), then by
// identifier so that two conversations with the same last date never mix;
// inside a conversation the message order. A message without a conversation
// counts as one with an empty identifier and a last date of 0.
bool compareByChat(const _MsgMessage *a, const _MsgMessage *b);
// The same order reversed (the arguments swapped).
bool compareByChatDescending(const _MsgMessage *a, const _MsgMessage *b);

// Sorts for a PDF or HTML export: as compareByChat, except that a
// conversation held by several chats (an SMS and an iMessage chat with one
// identifier) is dated by the newest of them, so that all its messages stay
// together. Stable; the orders it uses are strict where they must be.
void sortByConversation(QList<_MsgMessage *> &messages, bool ascending);

// The file name of a PDF or HTML export's conversation, without the folder
// and without the "(n)" that keeps two conversations apart: a group's
// identifier, another conversation's name with numbers, or "unknown-chat";
// characters no file name may hold removed.
QString conversationFileBase(const _MsgChat *chat);

// The folder whose "bubble" and "emoji" picture folders an HTML export
// copies: the executable's folder unless set. Returns the folder it
// replaces; an empty path restores the default. For tests.
QString setExportProgramDir(const QString &dir);
QString exportProgramDir();

// How many threads write the conversations of a PDF or HTML export: the
// processor count, at most 8, unless set (at least 1). Returns the count it
// replaces (0 for the default); 0 restores the default. For tests and
// measurements.
int setExportWriterCount(int count);
int exportWriterCount();
