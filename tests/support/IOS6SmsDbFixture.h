#pragma once

#include <QDir>
#include <QString>

#include <memory>

class Sqlite3DB;

// Writes sms.db files in the iOS 6 layout with plain SQL, sharing no code
// with the program's writers, so that readers and writers are tested against
// files whose shape is known:
//
// - Device: a phone's own file. None of the program's columns (chat._last,
//   chat.group_id, handle._ct_name, handle._photo, message.logic_hash), and
//   attachment triggers that call the phone's delete_attachment_path and
//   before_delete_attachment_path functions. With laterColumns the message
//   table also has the columns later iOS versions added (is_audio_message to
//   message_action_type) and attachment has user_info, transfer_name and
//   total_bytes.
// - OldLocal: a local database written before the later columns existed: the
//   program's _last, _ct_name and _photo, but no group_id, none of the later
//   message columns and no logic_hash.
//
// Used by the tests and by the benchmark, so it must not depend on the test
// framework.
class IOS6SmsDbFixture
{
public:
    enum Shape { Device, OldLocal };

    // Creates the file (and its folders) and its schema; throws
    // std::runtime_error on failure. An existing file is replaced.
    // guidColumn, when given, declares the message table's guid column in
    // place of "TEXT UNIQUE NOT NULL".
    IOS6SmsDbFixture(const QString &path, Shape shape, bool laterColumns = false,
                     const QString &guidColumn = QString());
    ~IOS6SmsDbFixture();

    // root/"file-relay/var/mobile/Library/SMS/sms.db".
    static QString smsDbPath(const QDir &root);

    Sqlite3DB &db();
    void begin();
    void commit();

    qint64 addHandle(const QString &id, const QString &service = QStringLiteral("SMS"),
                     const QString &country = QString());
    // style 45 one-to-one, 43 group.
    qint64 addChat(const QString &guid, const QString &identifier, const QString &service = QStringLiteral("SMS"),
                   int style = 45, const QString &displayName = QString());
    void joinChatHandle(qint64 chat, qint64 handle);
    // A message joined to chat (when chat > 0). itemType and otherHandle are
    // written only where the table has the columns.
    qint64 addMessage(qint64 chat, qint64 handle, const QString &guid, const QString &text, int date, int isFromMe,
                      int itemType = 0, qint64 otherHandle = -1, const QString &service = QStringLiteral("SMS"));
    void joinChatMessage(qint64 chat, qint64 message);
    // An attachment row joined to message (when message > 0).
    qint64 addAttachment(qint64 message, const QString &guid, const QString &filename, const QString &mimeType);
    void joinMessageAttachment(qint64 message, qint64 attachment);

    // Writes a file of the device's file system into the source folder root,
    // where a device's copy keeps it: devicePath "/var/mobile/x" lands at
    // root/"file-relay/var/mobile/x". Returns the path written; throws
    // std::runtime_error when it cannot be written.
    static QString writeDeviceFile(const QDir &root, const QString &devicePath, const QByteArray &bytes);

    bool laterColumns() const { return m_later; }

private:
    std::unique_ptr<Sqlite3DB> m_db;
    bool m_later;
};
