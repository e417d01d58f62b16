#include "LocalDbUpdateThread.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <climits>
#include <stdexcept>

#include "AppFolders.h"
#include "ExportMessagesDb.h"
#include "FileUtils.h"
#include "IOS5MessageDefaults.h"
#include "MessageIdentity.h"
#include "PhoneNumber.h"
#include "ProgressForm.h"
#include "Rc4.h"
#include "Sqlite3DB.h"
#include "WorkerProgress.h"

namespace
{

const char kTmpSuffix[] = "__tmp";

int appleDate(qint64 unixSeconds)
{
    // A damaged row must not wrap around into some other date.
    return int(qBound(qint64(INT_MIN), unixSeconds - kAppleEpochOffset, qint64(INT_MAX)));
}

} // namespace

LocalDbUpdateThread::LocalDbUpdateThread(QObject *form, QObject *parent)
    : QThread(parent)
    , m_form(form)
{
}

LocalDbUpdateThread::~LocalDbUpdateThread() = default;

QByteArray LocalDbUpdateThread::bodyKey()
{
    return QByteArrayLiteral("3F9C2E71B08D46A5E1C7092B5DA4F816");
}

void LocalDbUpdateThread::run()
{
    const QDir folder = localDatabasesDir();
    const QFileInfoList files = folder.entryInfoList(QDir::Files | QDir::NoDotAndDotDot, QDir::Name);
    try {
        for (const QFileInfo &file : files) {
            ProgressForm::postUpdateProgress(m_form, tr("IDS_UPDATING_LOCALDB_%1").arg(file.fileName()), 0,
                                             QString());
            QString path = file.absoluteFilePath();
            if (file.suffix().compare(QLatin1String(kTmpSuffix), Qt::CaseInsensitive) != 0) {
                const QString tmp = path + QStringLiteral(".") + QLatin1String(kTmpSuffix);
                if (!QFile::rename(path, tmp)) {
                    ProgressForm::postErrorOccurred(m_form, QStringLiteral("can not rename %1.").arg(path));
                    return;
                }
                path = tmp;
            }
            convert(path, path.left(path.lastIndexOf(QLatin1Char('.'))));
        }
    } catch (const std::exception &e) {
        ProgressForm::postErrorOccurred(m_form, QString::fromUtf8(e.what()));
        return;
    }

    const QStringList leftovers =
        folder.entryList({QStringLiteral("*.") + QLatin1String(kTmpSuffix)}, QDir::Files | QDir::NoDotAndDotDot);
    for (const QString &name : leftovers)
        QFile::remove(folder.absoluteFilePath(name));
    ProgressForm::postSucceed(m_form, tr("IDS_LOCALDB_UPDATE_SUC_RESTART_REFRESH"));
}

void LocalDbUpdateThread::convert(const QString &path, const QString &folder)
{
    // The old file is read before anything of the new database is made, so
    // that a file which is no old database leaves no empty database behind.
    Sqlite3DB old;
    old.openThrow(path, Sqlite3DB::ReadWrite);
    int total = 0;
    {
        Sqlite3Cursor c = old.queryThrow(Sqlite3Sql("select count(*) from view_sms"));
        if (c.moveNext())
            total = int(c.getInt64(0));
    }

    const bool folderExisted = QFileInfo::exists(folder);
    ExportMessagesDb exporter{QDir(folder), QString()};
    const QByteArray key = bodyKey();
    WorkerProgress progress(total);
    try {
        exporter.begin();
        const Country country = exporter.db().countryLib().currentCountry();
        Sqlite3Cursor rows = old.queryThrow(Sqlite3Sql("select * from view_sms"));
        int n = 0;
        while (rows.moveNext()) {
            ++n;
            if (progress.due(n))
                ProgressForm::postUpdateProgress(m_form, QString(), WorkerProgress::percent(n, total),
                                                 tr("SMS: %1/%2").arg(n).arg(total));

            const QString address = normalizePhoneNumber(country, rows.getText(QStringLiteral("address")));
            const QByteArray body = rows.getBlob(QStringLiteral("body"));

            _MsgHandle handle;
            handle.id = address;
            handle.service = QStringLiteral("SMS");
            handle._ct_name = rows.getText(QStringLiteral("person"));

            _MsgChat chat;
            chat.guid = QStringLiteral("SMS;-;") + address;
            chat.style = 45;
            chat.state = 3;
            chat.chat_identifier = address;
            chat.service_name = QStringLiteral("SMS");
            chat.account_login = QStringLiteral("E:");
            chat.handles.insert(address, &handle);

            _MsgMessage m;
            m.sender = &handle;
            m.chat = &chat;
            m.text = body.isEmpty() ? QString() : QString::fromUtf8(rc4(key, body));
            IOS5MessageDefaults::apply(m);
            IOS5MessageDefaults::applySms(m, appleDate(rows.getInt64(QStringLiteral("date"))));
            m.is_from_me = rows.getInt64(QStringLiteral("is_send")) != 0 ? 1 : 0;
            // The same old message always gets the same guid.
            m.guid = guidFromData(messageFingerprint(&m).toUtf8());

            exporter.write(&m);
        }
        rows = Sqlite3Cursor();
        exporter.end();
    } catch (...) {
        exporter.abort();
        // A folder made by this attempt holds only part of the file; the
        // file itself stays under its temporary name and is converted again
        // next time.
        if (!folderExisted)
            removeDirRecursively(folder);
        throw;
    }
    old.close();
    QFile::remove(path);
}
