#include <QFile>
#include <QJsonArray>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <archive.h>
#include <archive_entry.h>

#include <stdexcept>

#include "CFType.h"
#include "FileRelay.h"
#include "ServiceSocket.h"
#include "SimFramework.h"

namespace
{

struct Entry
{
    QString name;
    bool folder = false;
    QByteArray content;
};

bool operator==(const Entry &a, const Entry &b)
{
    return a.name == b.name && a.folder == b.folder && a.content == b.content;
}

void PrintTo(const Entry &e, std::ostream *os)
{
    *os << e.name.toStdString() << (e.folder ? " (folder)" : "") << " " << e.content.size() << " bytes";
}

// Everything up to the end of the stream, as the device loader reads it.
QByteArray readStream(int socket)
{
    QByteArray all;
    QByteArray block(524288, '\0');
    for (;;) {
        const int n = receive_data(socket, block.data(), int(block.size()), 60000);
        if (n <= 0)
            break;
        all.append(block.constData(), n);
    }
    return all;
}

QList<Entry> entriesOf(const QByteArray &archiveBytes)
{
    QList<Entry> entries;
    struct archive *a = archive_read_new();
    archive_read_support_filter_all(a);
    archive_read_support_format_all(a);
    EXPECT_EQ(archive_read_open_memory(a, archiveBytes.constData(), size_t(archiveBytes.size())), ARCHIVE_OK);
    struct archive_entry *entry = nullptr;
    while (archive_read_next_header(a, &entry) == ARCHIVE_OK) {
        Entry e;
        e.name = QString::fromUtf8(archive_entry_pathname(entry));
        e.folder = archive_entry_filetype(entry) == AE_IFDIR;
        char buffer[4096];
        la_ssize_t n;
        while ((n = archive_read_data(a, buffer, sizeof buffer)) > 0)
            e.content.append(buffer, qsizetype(n));
        entries << e;
    }
    archive_read_free(a);
    return entries;
}

QJsonObject relayDevice(const char *id, const QJsonObject &answer = {})
{
    QJsonObject service{{"sources", QJsonObject{{"UserDatabases", "relay-data"}}}};
    if (!answer.isEmpty())
        service.insert("answer", answer);
    return QJsonObject{{"id", id}, {"services", QJsonObject{{kFileRelayService, service}}}};
}

class FileRelayTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        scenario.writeFile(QStringLiteral("relay-data/var/mobile/Library/SMS/sms.db"), smsDb);
        scenario.writeFile(QStringLiteral("relay-data/var/mobile/Library/SMS/empty.db"), QByteArray());
        scenario.writeFile(QStringLiteral("relay-data/var/mobile/Library/AddressBook/AddressBook.sqlitedb"), addressBook);
        ASSERT_TRUE(QFile::link(QStringLiteral("/etc/passwd"), scenario.path(QStringLiteral("relay-data/var/mobile/link"))));
        scenario.write(QJsonObject{{"devices", QJsonArray{relayDevice("relay"), relayDevice("lower", {{"Status", "acknowledged"}}),
                                                          relayDevice("nostatus", {{"Result", "Busy"}}),
                                                          relayDevice("denied", {{"Status", "Denied"}})}}});
        QString error;
        ASSERT_TRUE(loadSimFramework(&error)) << error.toStdString();
        const QList<void *> arrived = subscribeAndWait(receiver, 4);
        ASSERT_EQ(arrived.size(), 4);
        relay = arrived[0];
        lower = arrived[1];
        noStatus = arrived[2];
        denied = arrived[3];
    }

    int start(void *device)
    {
        int socket = -1;
        file_relay_start(device, &socket);
        EXPECT_GE(socket, 0);
        return socket;
    }

    QString requestError(void *device, const QStringList &sources)
    {
        const int socket = start(device);
        QString error = QStringLiteral("(no error)");
        try {
            file_relay_request(socket, sources);
        } catch (const std::runtime_error &e) {
            error = QString::fromUtf8(e.what());
        }
        mobiledevice_closesocket(socket);
        return error;
    }

    const QByteArray smsDb = QByteArray("SQLite format 3\0", 16) + QByteArray(5000, 's');
    const QByteArray addressBook = QByteArray(70000, 'a');
    SimScenarioFile scenario;
    DeviceReceiver receiver;
    void *relay = nullptr;
    void *lower = nullptr;
    void *noStatus = nullptr;
    void *denied = nullptr;
};

TEST_F(FileRelayTest, TheArchiveFollowsAnAcknowledgedRequest)
{
    for (void *device : {relay, lower}) {
        const int socket = start(device);
        ASSERT_NO_THROW(file_relay_request(socket, {QStringLiteral("UserDatabases")}));
        const QList<Entry> entries = entriesOf(readStream(socket));
        EXPECT_EQ(mobiledevice_closesocket(socket), 0);

        // Folders come before what they hold; the link is left out.
        const QList<Entry> expected = {
            {QStringLiteral("./var"), true, {}},
            {QStringLiteral("./var/mobile"), true, {}},
            {QStringLiteral("./var/mobile/Library"), true, {}},
            {QStringLiteral("./var/mobile/Library/AddressBook"), true, {}},
            {QStringLiteral("./var/mobile/Library/AddressBook/AddressBook.sqlitedb"), false, addressBook},
            {QStringLiteral("./var/mobile/Library/SMS"), true, {}},
            {QStringLiteral("./var/mobile/Library/SMS/empty.db"), false, {}},
            {QStringLiteral("./var/mobile/Library/SMS/sms.db"), false, smsDb},
        };
        EXPECT_EQ(entries, expected);
    }
    EXPECT_TRUE(scenario.journal().contains(QStringLiteral("file_relay relay UserDatabases")));
}

TEST_F(FileRelayTest, AnAnswerThatDoesNotAcknowledgeFailsWithTheWholeAnswer)
{
    const auto answerXml = [](const QJsonObject &answer) {
        CFType dict = CFType::makeDictionary();
        for (auto it = answer.begin(); it != answer.end(); ++it)
            dict.set(CFType::fromString(it.key()), CFType::fromString(it.value().toString()));
        return QString::fromUtf8(CFType::toPropertyListData(dict, kCFPropertyListFormatXml));
    };
    const struct
    {
        const char *name;
        void *device;
        QStringList sources;
        QJsonObject answer;
    } cases[] = {
        {"no status", noStatus, {QStringLiteral("UserDatabases")}, {{"Result", "Busy"}}},
        {"denied", denied, {QStringLiteral("UserDatabases")}, {{"Status", "Denied"}}},
        {"unknown source", relay, {QStringLiteral("UserDatabases"), QStringLiteral("Everything")}, {{"Error", "InvalidSource"}}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(requestError(c.device, c.sources), QStringLiteral("invalid feedback.\n") + answerXml(c.answer));
    }
}

TEST_F(FileRelayTest, AnEmptySourceListIsStillARequest)
{
    const int socket = start(relay);
    ASSERT_NO_THROW(file_relay_request(socket, {}));
    EXPECT_TRUE(entriesOf(readStream(socket)).isEmpty());
    mobiledevice_closesocket(socket);
    EXPECT_TRUE(scenario.journal().contains(QStringLiteral("file_relay relay ")));
}

} // namespace
