#pragma once

#include <QByteArray>
#include <QNetworkAccessManager>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>

class QLabel;
class QNetworkReply;
class QWidget;

// The once-a-day question to the web service whether a newer build exists,
// and the one-line news link shown in the main window's status bar.
//
// Two small files of the application-data folder carry the state between
// runs: "last-check-version-time" (seconds since 1970 UTC of the last answer
// of the update service, decimal digits) and "last-adv" (the styled news
// anchor as shown, UTF-8). Both are replaced whole when written.
//
// Everything runs in the GUI thread; a reply is read once it has finished.
class UpdateChecker : public QObject
{
    Q_OBJECT
public:
    // A check is due once this many seconds have passed since the stored time.
    static constexpr quint32 RecheckSeconds = 86401;
    // Replies are one line; anything longer than this is not read.
    static constexpr qint64 MaxReplyBytes = 64 * 1024;

    // window: closed when the user accepts an offered download (which ends the
    // program); may be null. Not owned.
    explicit UpdateChecker(QWidget *window = nullptr, QObject *parent = nullptr);
    ~UpdateChecker() override;

    // Takes the status-bar label that shows the news link: rich text whose
    // links never open by themselves (see openNewsLink), filled from
    // "last-adv" when that file can be read. Not owned.
    void attachNewsLabel(QLabel *label);

    // Sends the update check and the news request, unless the time stored in
    // "last-check-version-time" is less than RecheckSeconds old. True when
    // they were sent.
    bool sendRequests();

    // The rule of sendRequests on the stored file content (bytes up to the
    // first NUL, decimal; not a number counts as 0, which is always due). The
    // difference is taken modulo 2^32, so a stored time in the future is due.
    static bool isCheckDue(const QByteArray &storedTime, qint64 nowSecs);

    // The download an update reply offers: its text up to the first NUL,
    // trimmed, when that is a whole http or https URL with a host and nothing
    // but printable ASCII; otherwise an invalid URL (no newer version).
    static QUrl offeredDownload(const QByteArray &body);

    // The news link a news reply carries, restyled for the status bar: the
    // leading anchor tag of the text (up to the first NUL) and everything up
    // to its closing tag, with "<a" replaced by the link style. Empty when
    // the text does not begin with an anchor tag.
    static QString styledNewsLink(const QByteArray &body);

    // The update page that the Tools menu opens: the check without "q".
    static QUrl updatePageUrl();

    // Hands a link of the news label to the browser when it is an http or
    // https URL; anything else is refused (false).
    static bool openNewsLink(const QString &link);

signals:
    // Emitted when the last outstanding reply of sendRequests has been handled.
    void repliesHandled();

protected slots:
    void onCheckVersionReadyRead(QNetworkReply *reply);
    void onGetAdvLinkRead(QNetworkReply *reply);

private:
    class HandledAtExit;
    void send(QNetworkAccessManager &client, const QString &pathAndQuery);
    void replyHandled(QNetworkReply *reply);

    QPointer<QWidget> m_window;
    QPointer<QLabel> m_advLabel;
    int m_pending = 0;
    // Declared in this order so that the news client goes first.
    QNetworkAccessManager m_httpCheckVersion;
    QNetworkAccessManager m_httpAdv;
};
