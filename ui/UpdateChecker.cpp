#include "UpdateChecker.h"

#include <QFile>
#include <QLabel>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QRegularExpression>
#include <QSaveFile>
#include <QWidget>

#include "AppFolders.h"
#include "Clock.h"
#include "DesktopOpening.h"
#include "LarkspanConfig.h"
#include "MessageBoxes.h"
#include "ServiceUrl.h"

namespace
{

const char kCheckTimeFile[] = "last-check-version-time";
const char kNewsFile[] = "last-adv";
const char kLinkColour[] = "#FF6016";

// A service that accepts the connection and then says nothing must not keep
// the request for the rest of the run.
constexpr int kTransferTimeoutMs = 30000;

QByteArray upToNul(const QByteArray &bytes)
{
    const qsizetype nul = bytes.indexOf('\0');
    return nul < 0 ? bytes : bytes.left(nul);
}

// The body of a finished reply, or nothing when it is longer than any answer
// the service gives (a cut-off text must not pass for the whole one).
QByteArray replyBody(QNetworkReply *reply)
{
    const QByteArray body = reply->read(UpdateChecker::MaxReplyBytes + 1);
    return body.size() > UpdateChecker::MaxReplyBytes ? QByteArray() : body;
}

QString appDataFilePath(const char *name)
{
    return appDataDir().filePath(QLatin1String(name));
}

// Replaces the file whole, or leaves the old one when it cannot be written.
bool replaceFile(const QString &path, const QByteArray &content)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(content);
    return file.commit();
}

bool isWebUrl(const QUrl &url)
{
    const QString scheme = url.scheme().toLower();
    return url.isValid() && !url.host().isEmpty() && (scheme == QLatin1String("http") || scheme == QLatin1String("https"));
}

} // namespace

UpdateChecker::UpdateChecker(QWidget *window, QObject *parent)
    : QObject(parent)
    , m_window(window)
{
    connect(&m_httpCheckVersion, &QNetworkAccessManager::finished, this, &UpdateChecker::onCheckVersionReadyRead);
    connect(&m_httpAdv, &QNetworkAccessManager::finished, this, &UpdateChecker::onGetAdvLinkRead);
}

UpdateChecker::~UpdateChecker()
{
    // Replies still under way are dropped with their clients below; none of
    // them may reach the slots of a checker that is going.
    m_httpCheckVersion.disconnect(this);
    m_httpAdv.disconnect(this);
}

void UpdateChecker::attachNewsLabel(QLabel *label)
{
    m_advLabel = label;
    if (!label)
        return;
    // The text comes from the web service: shown as rich text, but a click
    // on a link goes through openNewsLink, never straight to the desktop.
    label->setTextFormat(Qt::RichText);
    label->setOpenExternalLinks(false);
    label->setTextInteractionFlags(Qt::LinksAccessibleByMouse);
    connect(label, &QLabel::linkActivated, label, [](const QString &link) { openNewsLink(link); });

    QFile file(appDataFilePath(kNewsFile));
    if (file.open(QIODevice::ReadOnly))
        label->setText(QString::fromUtf8(file.readAll()));
}

bool UpdateChecker::isCheckDue(const QByteArray &storedTime, qint64 nowSecs)
{
    bool ok = false;
    const quint32 stored = QString::fromLatin1(upToNul(storedTime)).toUInt(&ok, 10);
    if (!ok || stored == 0)
        return true;
    const quint32 elapsed = quint32(nowSecs) - stored;
    return elapsed >= RecheckSeconds;
}

bool UpdateChecker::sendRequests()
{
    QFile file(appDataFilePath(kCheckTimeFile));
    if (file.open(QIODevice::ReadOnly)) {
        const QByteArray stored = file.read(64);
        if (!isCheckDue(stored, Clock::currentSecsSinceEpoch()))
            return false;
    }
    send(m_httpCheckVersion,
        QStringLiteral("/sms_check_update.php?pid=%1&ver=%2&q=1").arg(QLatin1String(kProductId)).arg(LARKSPAN_BUILD_NUMBER));
    send(m_httpAdv, QStringLiteral("/adv.php?pid=%1").arg(QLatin1String(kProductId)));
    return true;
}

void UpdateChecker::send(QNetworkAccessManager &client, const QString &pathAndQuery)
{
    const QUrl url = serviceUrl(pathAndQuery);
    if (!url.isValid())
        return;
    QNetworkRequest request(url);
    request.setTransferTimeout(kTransferTimeoutMs);
    QNetworkReply *reply = client.get(request);
    ++m_pending;
    // Read only when finished; a reply that grows beyond any one-line answer
    // is cut off instead of being buffered whole.
    connect(reply, &QNetworkReply::downloadProgress, reply, [reply](qint64 received, qint64) {
        if (received > MaxReplyBytes)
            reply->abort();
    });
}

void UpdateChecker::replyHandled(QNetworkReply *reply)
{
    reply->deleteLater();
    if (m_pending > 0 && --m_pending == 0)
        emit repliesHandled();
}

// Marks a reply handled on every way out of its slot.
class UpdateChecker::HandledAtExit
{
public:
    HandledAtExit(UpdateChecker *checker, QNetworkReply *reply)
        : m_checker(checker)
        , m_reply(reply)
    {
    }
    ~HandledAtExit() { m_checker->replyHandled(m_reply); }
    HandledAtExit(const HandledAtExit &) = delete;
    HandledAtExit &operator=(const HandledAtExit &) = delete;

private:
    UpdateChecker *m_checker;
    QNetworkReply *m_reply;
};

QUrl UpdateChecker::offeredDownload(const QByteArray &body)
{
    const QString text = QString::fromLatin1(upToNul(body)).trimmed();
    if (!text.startsWith(QLatin1String("http://"), Qt::CaseInsensitive)
        && !text.startsWith(QLatin1String("https://"), Qt::CaseInsensitive))
        return QUrl();
    for (const QChar c : text) {
        if (c.unicode() <= 0x20 || c.unicode() >= 0x7F)
            return QUrl();
    }
    const QUrl url(text, QUrl::StrictMode);
    return isWebUrl(url) ? url : QUrl();
}

QString UpdateChecker::styledNewsLink(const QByteArray &body)
{
    // An anchor tag, not just any tag whose name begins with "a".
    static const QRegularExpression anchorStart(QStringLiteral("^<a(?=[\\s>])"), QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression anchorEnd(QStringLiteral("</a\\s*>"), QRegularExpression::CaseInsensitiveOption);

    QString text = QString::fromUtf8(upToNul(body));
    if (!anchorStart.match(text).hasMatch())
        return QString();
    // The label shows one link: whatever a reply puts after it would be
    // further markup in the status bar, and is dropped.
    const QRegularExpressionMatch end = anchorEnd.match(text);
    if (end.hasMatch())
        text.truncate(end.capturedEnd());
    text.replace(anchorStart, QStringLiteral("<a style=\"color:%1;text-decoration:none;\"").arg(QLatin1String(kLinkColour)));
    return text;
}

QUrl UpdateChecker::updatePageUrl()
{
    return serviceUrl(QStringLiteral("/sms_check_update.php?pid=%1&ver=%2").arg(QLatin1String(kProductId)).arg(LARKSPAN_BUILD_NUMBER));
}

bool UpdateChecker::openNewsLink(const QString &link)
{
    const QUrl url(link, QUrl::StrictMode);
    if (!isWebUrl(url))
        return false;
    return openPageOrTell(url.toString(QUrl::FullyEncoded));
}

void UpdateChecker::onCheckVersionReadyRead(QNetworkReply *reply)
{
    const HandledAtExit handled(this, reply);
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    // Only an answer of the service counts as a check; without network the
    // next start asks again.
    if (!status.isValid())
        return;
    replaceFile(appDataFilePath(kCheckTimeFile), QByteArray::number(quint32(Clock::currentSecsSinceEpoch())));
    if (status.toInt() != 200 || reply->error() != QNetworkReply::NoError)
        return;
    const QUrl download = offeredDownload(replyBody(reply));
    if (!download.isValid())
        return;

    const QString question = tr("A new version of %1 is available. Would you like to download it now?")
                                 .arg(QObject::tr("Quenmarvile Larkspan"));
    if (!askQuestion(question))
        return;
    // The program ends for the new version only once its download is on
    // its way; otherwise the user is told and the program stays.
    if (!openPageOrTell(download.toString(QUrl::FullyEncoded)))
        return;
    if (m_window)
        m_window->close();
}

void UpdateChecker::onGetAdvLinkRead(QNetworkReply *reply)
{
    const HandledAtExit handled(this, reply);
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (!status.isValid() || status.toInt() != 200 || reply->error() != QNetworkReply::NoError)
        return;
    const QString link = styledNewsLink(replyBody(reply));
    if (link.isEmpty())
        return;
    if (m_advLabel)
        m_advLabel->setText(link);
    replaceFile(appDataFilePath(kNewsFile), link.toUtf8());
}
