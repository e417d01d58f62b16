#include "ExportSMSThread.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QMutex>
#include <QMutexLocker>

#include <algorithm>
#include <memory>
#include <stdexcept>
#include <vector>

#include "AbsFormatExport.h"
#include "ExportMessagesCsv.h"
#include "ExportMessagesTxt.h"
#include "ExportOutput.h"
#include "ExportSMSHtml.h"
#include "ExportSMSPdf.h"
#include "FileUtils.h"
#include "MessageOrder.h"
#include "ProgressForm.h"
#include "WorkerProgress.h"

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

void ExportSMSThread::run()
{
    ProgressForm::postUpdateProgress(m_form, tr("IDS_EXPORTING_MESSAGES_TO_FILE"), -1, QString());
    const bool perConversation = m_format == Pdf || m_format == Html;
    const int total = int(m_messages.size());
    WorkerProgress pacer(total);
    ExportOutput output;
    std::unique_ptr<Exporter> exporter;
    QString currentKey;
    const _MsgChat *currentChat = nullptr;
    bool picturesAdded = false;
    int n = 0;
    try {
        const QDir outputDir(m_outputPath);
        if (perConversation) {
            output.makeFolder(m_outputPath);
            sortByConversation(m_messages, m_ascending);
        }
        for (const _MsgMessage *message : std::as_const(m_messages)) {
            if (ProgressForm::isCancelled(m_form))
                throw -1;
            ++n;
            if (pacer.due(n))
                ProgressForm::postUpdateProgress(m_form, QString(), WorkerProgress::percent(n, total),
                                                 tr("Messages: %1/%2").arg(n).arg(total));
            if (m_format == Text || m_format == Csv) {
                if (!exporter) {
                    exporter = makeExporter(m_format, output.stage(m_outputPath));
                    exporter->begin();
                }
            } else if (perConversation) {
                // The messages of one chat come one after the other; only a
                // change of chat may start another conversation.
                const bool sameChat = exporter && message->chat == currentChat;
                const QString key = sameChat ? currentKey : chatKey(message);
                currentChat = message->chat;
                if (!exporter || key != currentKey) {
                    if (exporter) {
                        exporter->end();
                        exporter.reset();
                    }
                    currentKey = key;
                    if (m_format == Html && !picturesAdded) {
                        addPictureFolders(output, outputDir);
                        picturesAdded = true;
                    }
                    const QString ext = m_format == Pdf ? QStringLiteral(".pdf") : QStringLiteral(".html");
                    const QString path = output.freePath(outputDir, conversationFileBase(message->chat), ext);
                    exporter = makeExporter(m_format, output.stage(path));
                    exporter->begin();
                }
            } else {
                throw std::runtime_error("not support export format.");
            }
            exporter->write(message);
        }
        if (exporter) {
            exporter->end();
            exporter.reset();
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
