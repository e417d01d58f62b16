#include "ExportSMSThread.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QMutex>
#include <QMutexLocker>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <exception>
#include <limits>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <vector>

#include "AbsFormatExport.h"
#include "Errors.h"
#include "ExportMessagesCsv.h"
#include "ExportMessagesTxt.h"
#include "ExportOutput.h"
#include "ExportSMSHtml.h"
#include "ExportSMSPdf.h"
#include "FileUtils.h"
#include "MessageDateFormat.h"
#include "MessageOrder.h"
#include "ThreadHandOff.h"
#include "ProgressForm.h"
#include "WorkerProgress.h"
#include "WrappedText.h"

namespace
{

enum Format
{
    Text = 0,
    Csv = 1,
    Pdf = 2,
    Html = 3
};

QMutex programDirMutex;
QString programDirOverride;
std::atomic<int> writerCountOverride{0};

// Writer threads at most, whatever the processor count: past this the PDF
// writers mostly wait for memory and each other.
constexpr int kMaxWriters = 8;

QString chatKey(const _MsgMessage *m)
{
    return m->chat ? m->chat->chat_identifier.toCaseFolded() : QString();
}

int chatLast(const _MsgMessage *m)
{
    return m->chat ? m->chat->_last : 0;
}

// Oldest conversation first; in one conversation the message order.
bool lessByConversation(int lastA, const QString &keyA, const _MsgMessage *a, int lastB, const QString &keyB,
                        const _MsgMessage *b)
{
    if (keyA == keyB)
        return msgLessThan(a, b);
    if (lastA != lastB)
        return lastA < lastB;
    return keyA < keyB;
}

// Copies the files (not the folders) of from into to; copies never replace
// anything and failed ones are skipped.
void copyPictures(ExportOutput &output, const QDir &from, const QDir &to)
{
    const QFileInfoList files = from.entryInfoList(QDir::Files | QDir::NoDotAndDotDot, QDir::Name);
    for (const QFileInfo &file : files)
        output.copyNew(file.absoluteFilePath(), to.filePath(file.fileName()));
}

void addPictureFolders(ExportOutput &output, const QDir &outputDir)
{
    const QDir program(exportProgramDir());
    const QString files = outputDir.filePath(QStringLiteral("files"));
    output.makeFolder(files);
    const QString bubble = program.filePath(QStringLiteral("bubble"));
    if (QFileInfo(bubble).isDir())
        copyPictures(output, QDir(bubble), QDir(files));
    const QString emoji = program.filePath(QStringLiteral("emoji"));
    if (QFileInfo(emoji).isDir()) {
        const QString target = outputDir.filePath(QStringLiteral("emoji"));
        output.makeFolder(target);
        copyPictures(output, QDir(emoji), QDir(target));
    }
}

using Exporter = AbsFormatExport<_MsgMessage>;

std::unique_ptr<Exporter> makeExporter(int format, const QString &path)
{
    switch (format) {
    case Text:
        return std::make_unique<ExportMessagesTxt>(path);
    case Csv:
        return std::make_unique<ExportMessagesCsv>(path);
    case Pdf:
        return std::make_unique<ExportSMSPdf>(path);
    case Html:
        return std::make_unique<ExportSMSHtml>(path);
    default:
        throw std::runtime_error("not support export format.");
    }
}

// One conversation of a PDF or HTML export: a run of the sorted messages
// that goes into one file.
struct Conversation
{
    qsizetype first = 0;
    qsizetype count = 0;
    QString path; // where it is written (the staged name)
    // Messages written so far; read by the run for its progress.
    std::atomic<qsizetype> written{0};
    // Set under the writers' lock once the writer is done with the file
    // (closed), successfully or not.
    bool finished = false;
    // What stopped it: the integer -1 for a cancel, or the error.
    std::exception_ptr failure;
    bool abandoned = false; // stopped because an earlier one failed
};

// Threads that write conversations handed to them, oldest first. The run
// hands them out in export order and takes the results in that order.
class ConversationWriters
{
public:
    ConversationWriters(int format, QObject *form, const QList<_MsgMessage *> &messages,
                        std::deque<Conversation> &conversations, int threads)
        : m_format(format)
        , m_form(form)
        , m_messages(messages)
        , m_conversations(conversations)
    {
        for (int i = 0; i < threads; ++i) {
            std::unique_ptr<QThread> thread(QThread::create([this] {
                work();
                // QThread::wait() sees the end under Qt's own locks.
                announceHandOff(this);
            }));
            thread->setObjectName(QStringLiteral("ExportWriter"));
            thread->start();
            // A thread that could not be started takes no work.
            if (thread->isRunning() || thread->isFinished())
                m_threads.push_back(std::move(thread));
        }
    }

    // Stops what is still being written and waits for every thread: no file
    // is open once this returns.
    ~ConversationWriters()
    {
        abandonAfter(-1);
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_quit = true;
            m_queue.clear();
        }
        m_work.notify_all();
        for (const std::unique_ptr<QThread> &thread : m_threads)
            thread->wait();
        acceptHandOff(this);
    }

    ConversationWriters(const ConversationWriters &) = delete;
    ConversationWriters &operator=(const ConversationWriters &) = delete;

    void add(qsizetype index)
    {
        if (m_threads.empty()) {
            // No writer thread could be started: the run writes it itself.
            finish(index);
            return;
        }
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_queue.push_back(index);
        }
        m_work.notify_one();
    }

    // Conversations after index need not be written: an earlier one failed.
    void abandonAfter(qsizetype index)
    {
        qsizetype current = m_abandonAfter.load();
        while (index < current && !m_abandonAfter.compare_exchange_weak(current, index)) {
        }
    }

    // Waits until conversation index has finished or timeoutMs have passed;
    // whether it has finished. The lowest conversation that finished without
    // success is kept in firstFailed (or left as it was).
    bool waitFor(qsizetype index, int timeoutMs, qsizetype &firstFailed)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_done.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                        [&] { return m_conversations[size_t(index)].finished; });
        firstFailed = qMin(firstFailed, m_firstFailed);
        return m_conversations[size_t(index)].finished;
    }

private:
    void work()
    {
        for (;;) {
            qsizetype index = 0;
            {
                std::unique_lock<std::mutex> lock(m_mutex);
                m_work.wait(lock, [this] { return m_quit || !m_queue.empty(); });
                if (m_queue.empty())
                    return;
                index = m_queue.front();
                m_queue.pop_front();
            }
            finish(index);
        }
    }

    void finish(qsizetype index)
    {
        Conversation &c = m_conversations[size_t(index)];
        std::exception_ptr failure;
        const bool abandoned = !write(index, c, failure);
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            c.failure = failure;
            c.abandoned = abandoned;
            c.finished = true;
            if (failure || abandoned)
                m_firstFailed = qMin(m_firstFailed, index);
        }
        m_done.notify_all();
    }

    // Writes one conversation, checking the cancelled flag before each
    // message as a single writer does. False when it was abandoned; a cancel
    // or an error is left in failure. The file is closed on return.
    bool write(qsizetype index, Conversation &c, std::exception_ptr &failure)
    {
        try {
            std::unique_ptr<Exporter> exporter;
            for (qsizetype i = 0; i < c.count; ++i) {
                if (index > m_abandonAfter.load(std::memory_order_relaxed))
                    return false;
                if (ProgressForm::isCancelled(m_form))
                    throw kWorkerCancelled;
                if (!exporter) {
                    exporter = makeExporter(m_format, c.path);
                    exporter->begin();
                }
                exporter->write(m_messages.at(c.first + i));
                c.written.store(i + 1, std::memory_order_release);
            }
            if (exporter)
                exporter->end();
        } catch (...) {
            failure = std::current_exception();
        }
        return true;
    }

    const int m_format;
    QObject *const m_form;
    const QList<_MsgMessage *> &m_messages;
    std::deque<Conversation> &m_conversations;

    std::mutex m_mutex;
    std::condition_variable m_work; // a conversation was added, or quit
    std::condition_variable m_done; // a conversation finished
    std::deque<qsizetype> m_queue;
    bool m_quit = false;
    qsizetype m_firstFailed = std::numeric_limits<qsizetype>::max();
    std::atomic<qsizetype> m_abandonAfter{std::numeric_limits<qsizetype>::max()};
    std::vector<std::unique_ptr<QThread>> m_threads;
};

} // namespace

bool compareByChat(const _MsgMessage *a, const _MsgMessage *b)
{
    return lessByConversation(chatLast(a), chatKey(a), a, chatLast(b), chatKey(b), b);
}

bool compareByChatDescending(const _MsgMessage *a, const _MsgMessage *b)
{
    return compareByChat(b, a);
}

void sortByConversation(QList<_MsgMessage *> &messages, bool ascending)
{
    struct Group
    {
        QString key;
        int last = 0;
        QList<_MsgMessage *> members; // in the order given
    };
    std::vector<Group> groups;
    QHash<QString, int> groupOfKey;
    // Most messages share their chat with the one before; the folded
    // identifier is made once per chat.
    QHash<const _MsgChat *, int> groupOfChat;
    for (_MsgMessage *m : std::as_const(messages)) {
        auto byChat = groupOfChat.constFind(m->chat);
        if (byChat == groupOfChat.cend()) {
            const QString key = chatKey(m);
            auto byKey = groupOfKey.constFind(key);
            if (byKey == groupOfKey.cend()) {
                byKey = groupOfKey.insert(key, int(groups.size()));
                groups.push_back({key, chatLast(m), {}});
            }
            byChat = groupOfChat.insert(m->chat, byKey.value());
        }
        Group &g = groups[size_t(byChat.value())];
        g.last = qMax(g.last, chatLast(m));
        g.members.append(m);
    }

    // Conversations by their newest message, then by identifier: keys are
    // unique, so this is a strict order.
    std::vector<int> order(groups.size());
    for (size_t i = 0; i < order.size(); ++i)
        order[i] = int(i);
    std::sort(order.begin(), order.end(), [&groups](int x, int y) {
        const Group &a = groups[size_t(x)];
        const Group &b = groups[size_t(y)];
        return a.last != b.last ? a.last < b.last : a.key < b.key;
    });
    if (!ascending)
        std::reverse(order.begin(), order.end());

    // Inside a conversation the message order, which is not transitive
    // between close messages: sortMessages uses a merge sort, and
    // "descending" swaps its arguments.
    messages.clear();
    for (int index : order) {
        QList<_MsgMessage *> &members = groups[size_t(index)].members;
        sortMessages(members, ascending ? Qt::AscendingOrder : Qt::DescendingOrder);
        messages += members;
    }
}

QString conversationFileBase(const _MsgChat *chat)
{
    QString name;
    if (chat)
        name = sanitizeFileName(chat->isGroup() ? chat->chat_identifier : chat->displayName(true));
    // A name of nothing but forbidden characters would make a hidden file.
    if (name.isEmpty())
        return QStringLiteral("unknown-chat");
    // File systems take names of up to 255 bytes; room is left for "(n)",
    // the extension and the staging suffix.
    constexpr int kMaxBytes = 200;
    if (name.toUtf8().size() > kMaxBytes) {
        qsizetype cut = name.size();
        while (cut > 0 && name.left(cut).toUtf8().size() > kMaxBytes)
            --cut;
        if (cut > 0 && name.at(cut - 1).isHighSurrogate())
            --cut;
        name = name.left(cut).trimmed();
    }
    return name;
}

QString setExportProgramDir(const QString &dir)
{
    QMutexLocker lock(&programDirMutex);
    QString previous = programDirOverride;
    programDirOverride = dir;
    return previous;
}

QString exportProgramDir()
{
    {
        QMutexLocker lock(&programDirMutex);
        if (!programDirOverride.isEmpty())
            return programDirOverride;
    }
    return QCoreApplication::applicationDirPath();
}

ExportSMSThread::ExportSMSThread(const QList<_MsgMessage *> &messages, const QString &outputPath, int format,
                                 bool ascending, QObject *form, QObject *parent)
    : QThread(parent)
    , m_messages(messages)
    , m_outputPath(outputPath)
    , m_format(format)
    , m_ascending(ascending)
    , m_form(form)
{
    m_messages.removeAll(nullptr);
}

ExportSMSThread::~ExportSMSThread() = default;

int setExportWriterCount(int count)
{
    return writerCountOverride.exchange(qMax(0, count));
}

int exportWriterCount()
{
    const int set = writerCountOverride.load();
    if (set > 0)
        return set;
    return qBound(1, QThread::idealThreadCount(), kMaxWriters);
}

void ExportSMSThread::run()
{
    ProgressForm::postUpdateProgress(m_form, tr("IDS_EXPORTING_MESSAGES_TO_FILE"), -1, QString());
    const bool perConversation = m_format == Pdf || m_format == Html;
    const int total = int(m_messages.size());
    ExportOutput output;
    std::unique_ptr<Exporter> exporter;
    int n = 0;
    try {
        if (perConversation) {
            output.makeFolder(m_outputPath);
            sortByConversation(m_messages, m_ascending);
            n = exportConversations(output);
        } else {
            WorkerProgress pacer(total);
            for (const _MsgMessage *message : std::as_const(m_messages)) {
                if (ProgressForm::isCancelled(m_form))
                    throw kWorkerCancelled;
                ++n;
                if (pacer.due(n))
                    ProgressForm::postUpdateProgress(m_form, QString(), WorkerProgress::percent(n, total),
                                                     tr("Messages: %1/%2").arg(n).arg(total));
                if (m_format != Text && m_format != Csv)
                    throw std::runtime_error("not support export format.");
                if (!exporter) {
                    exporter = makeExporter(m_format, output.stage(m_outputPath));
                    exporter->begin();
                }
                exporter->write(message);
            }
            if (exporter) {
                exporter->end();
                exporter.reset();
            }
        }
        output.commit();
    } catch (int) {
        // The user cancelled; the dialog has closed already.
        exporter.reset();
        if (!output.discard())
            qWarning("ExportSMSThread: the cancelled export could not be removed completely from %s",
                     qUtf8Printable(m_outputPath));
        return;
    } catch (const std::exception &e) {
        exporter.reset();
        QString text = QString::fromUtf8(e.what());
        if (!output.discard())
            qWarning("ExportSMSThread: the failed export could not be removed completely from %s",
                     qUtf8Printable(m_outputPath));
        ProgressForm::postErrorOccurred(m_form, text);
        return;
    }
    ProgressForm::postSucceed(m_form, tr("IDS_SUC_EXPORT_%1_MMS").arg(n));
}

int ExportSMSThread::exportConversations(ExportOutput &output)
{
    const int total = int(m_messages.size());
    // The conversations: runs of messages of one identifier (ignoring case).
    // The messages of one chat come one after the other; only a change of
    // chat may start another conversation.
    std::deque<Conversation> conversations;
    QString currentKey;
    const _MsgChat *currentChat = nullptr;
    for (qsizetype i = 0; i < m_messages.size(); ++i) {
        const _MsgChat *chat = m_messages.at(i)->chat;
        if (i == 0 || chat != currentChat) {
            QString key = chatKey(m_messages.at(i));
            currentChat = chat;
            if (i == 0 || key != currentKey) {
                currentKey = std::move(key);
                conversations.emplace_back().first = i;
            }
        }
        ++conversations.back().count;
    }
    if (conversations.empty())
        return 0;

    const QDir outputDir(m_outputPath);
    const QString ext = m_format == Pdf ? QStringLiteral(".pdf") : QStringLiteral(".html");
    const qsizetype count = qsizetype(conversations.size());
    const int threads = int(qMin<qsizetype>(exportWriterCount(), count));
    // Conversations handed out ahead of the oldest unfinished one: enough to
    // keep every writer busy while it waits, few enough that a cancel or an
    // error wastes little and the files open at once stay few.
    const qsizetype ahead = qsizetype(threads) * 2;
    WorkerProgress pacer(total);
    int posted = 0;
    auto postUpTo = [&](int done) {
        for (int k = posted + 1; k <= done; ++k) {
            if (pacer.due(k))
                ProgressForm::postUpdateProgress(m_form, QString(), WorkerProgress::percent(k, total),
                                                 tr("Messages: %1/%2").arg(k).arg(total));
        }
        posted = qMax(posted, done);
    };

    // The font database and the compiled date pattern are made on first use;
    // made here once, the writers only read them.
    if (threads > 1) {
        MessageDateFormat::systemShort();
        if (m_format == Pdf)
            textHeight(QStringLiteral("0"), 100);
    }
    ConversationWriters writers(m_format, m_form, m_messages, conversations, threads);
    qsizetype next = 0; // the next to hand out
    qsizetype firstFailed = std::numeric_limits<qsizetype>::max();
    for (qsizetype head = 0; head < count;) {
        // Names are given in export order, so that "(n)" goes to the same
        // conversations as when they are written one after the other.
        while (next < count && next < head + ahead && next <= firstFailed) {
            if (next == 0 && m_format == Html) {
                // As before the first message: a cancel comes before any
                // trouble with the picture folders.
                if (ProgressForm::isCancelled(m_form))
                    throw kWorkerCancelled;
                addPictureFolders(output, outputDir);
            }
            Conversation &c = conversations[size_t(next)];
            const QString path = output.freePath(outputDir, conversationFileBase(m_messages.at(c.first)->chat), ext);
            c.path = output.stage(path);
            writers.add(next);
            ++next;
        }
        Conversation &c = conversations[size_t(head)];
        const bool finished = writers.waitFor(head, 50, firstFailed);
        if (firstFailed < count)
            writers.abandonAfter(firstFailed);
        postUpTo(int(c.first + c.written.load(std::memory_order_acquire)));
        if (!finished)
            continue;
        // Everything before head succeeded, so head's failure is the one
        // writing them in order would have met first.
        if (c.failure)
            std::rethrow_exception(c.failure);
        Q_ASSERT(!c.abandoned);
        ++head;
    }
    return total;
}
