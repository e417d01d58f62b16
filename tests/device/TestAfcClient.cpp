#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <gtest/gtest.h>

#include <functional>

#include <sys/socket.h>
#include <unistd.h>

#include "AfcClient.h"
#include "AfcProtocol.h"
#include "CFValues.h"
#include "HouseArrest.h"
#include "ServicePeer.h"
#include "ServiceSocket.h"
#include "SimFramework.h"
#include "ThrownText.h"

namespace
{

using Step = ServicePeer::Step;

QByteArray status(quint64 code)
{
    return afcPacket(kAfcStatus, le64(code));
}

QByteArray data(const QByteArray &bytes)
{
    return afcPacket(kAfcData, QByteArray(), bytes);
}

QByteArray nul(const char *text)
{
    return QByteArray(text).append('\0');
}

QByteArray info(const QByteArray &ifmt, const QByteArray &extra = QByteArray())
{
    return data(nul("st_ifmt") + ifmt + '\0' + extra);
}

// The path of a request that names one.
QString pathOf(const QByteArray &packet)
{
    const AfcPacketFields f = afcFields(packet);
    QByteArray parameters = f.parameters;
    if (f.operation == kAfcFileOpen)
        parameters = parameters.mid(8);
    return QString::fromUtf8(parameters.left(parameters.indexOf('\0')));
}

// The file service played end to end: the simulated device library connects
// the started service to a peer of the test.
class AfcClientTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        scenario.write(QJsonObject{
            {"devices", QJsonArray{QJsonObject{
                            {"id", "phone"},
                            {"services", QJsonObject{{kAfcService, QJsonObject{{"kind", "peer"}, {"path", "afc.sock"}}},
                                                     {kHouseArrestService,
                                                      QJsonObject{{"kind", "peer"}, {"path", "house.sock"}}}}},
                        }}}});
        QString error;
        ASSERT_TRUE(loadSimFramework(&error)) << error.toStdString();
        const QList<void *> devices = subscribeAndWait(receiver, 1);
        ASSERT_EQ(devices.size(), 1);
        phone = devices[0];
    }

    // A client on the media file service whose device plays the steps.
    QString afcPath() const { return scenario.path("afc.sock"); }

    SimScenarioFile scenario;
    DeviceReceiver receiver;
    void *phone = nullptr;
};

TEST_F(AfcClientTest, PathRequestsAnswerTrueOrFalse)
{
    const struct
    {
        const char *name;
        std::function<bool(AfcClient &)> call;
        QByteArray reply;
        bool result;
    } cases[] = {
        {"make", [](AfcClient &c) { return c.makeDir("/Downloads/new"); }, status(0), true},
        {"make refused", [](AfcClient &c) { return c.makeDir("/Downloads/new"); }, status(16), false},
        {"remove", [](AfcClient &c) { return c.removePath("/a"); }, status(0), true},
        {"remove refused", [](AfcClient &c) { return c.removePath("/a"); }, status(8), false},
        {"rename", [](AfcClient &c) { return c.renamePath("/a", "/b"); }, status(0), true},
        {"rename refused", [](AfcClient &c) { return c.renamePath("/a", "/b"); }, status(1), false},
        {"a reply cut off", [](AfcClient &c) { return c.makeDir("/x"); }, status(0).left(30), false},
        {"an unknown reply", [](AfcClient &c) { return c.removePath("/x"); }, afcPacket(99, le64(0)), false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        ServicePeer peer(afcPath(), {ServicePeer::receivePacket(), ServicePeer::sendRaw(c.reply)});
        AfcClient client(phone);
        ASSERT_NO_THROW(client.afc_start(QString()));
        ASSERT_NE(client.socket(), 0);
        EXPECT_EQ(c.call(client), c.result);
        client.close();
        EXPECT_EQ(client.socket(), 0);
        ASSERT_EQ(peer.receivedRaw().size(), 1);
    }
    EXPECT_EQ(scenario.journalOf("phone").filter("AMDeviceStartService"),
              QStringList(8, QStringLiteral("AMDeviceStartService com.apple.afc")));
}

TEST_F(AfcClientTest, AFileIsReadWrittenAndClosedOnItsHandle)
{
    ServicePeer peer(afcPath(), {
                                    ServicePeer::receivePacket(), ServicePeer::sendRaw(status(0)), // open: no handle
                                    ServicePeer::receivePacket(), ServicePeer::sendRaw(afcPacket(kAfcFileHandle, le64(31))),
                                    ServicePeer::receivePacket(), ServicePeer::sendRaw(data("hello")),
                                    ServicePeer::receivePacket(), ServicePeer::sendRaw(data("")),
                                    ServicePeer::receivePacket(), ServicePeer::sendRaw(status(0)), // write
                                    ServicePeer::receivePacket(), ServicePeer::sendRaw(status(9)), // write refused
                                    ServicePeer::receivePacket(), ServicePeer::sendRaw(status(0)), // close
                                });
    AfcClient client(phone);
    client.afc_start(QString());
    AfcFile file;
    EXPECT_FALSE(client.openForRead("/missing", file));
    EXPECT_FALSE(file.isOpen());
    ASSERT_TRUE(client.openForWrite("/notes.txt", file));
    EXPECT_EQ(file.fileHandle, 31);
    EXPECT_EQ(file.socket, client.socket());

    char buffer[16] = {};
    EXPECT_EQ(file.read(buffer, 16), 5);
    EXPECT_EQ(QByteArray(buffer, 5), QByteArray("hello"));
    EXPECT_EQ(file.write("abc", 3), 3);
    EXPECT_EQ(file.write("def", 3), -1);
    EXPECT_EQ(file.read(buffer, -1), -1);
    file.close();
    EXPECT_FALSE(file.isOpen());
    file.close(); // a second close sends nothing

    const QList<QByteArray> packets = peer.receivedRaw();
    QList<quint64> operations;
    for (const QByteArray &p : packets)
        operations << afcFields(p).operation;
    EXPECT_EQ(operations, (QList<quint64>{13, 13, 15, 15, 16, 16, 20}));
    EXPECT_EQ(afcFields(packets[0]).parameters.left(8), le64(1));
    EXPECT_EQ(pathOf(packets[0]), "/missing");
    EXPECT_EQ(afcFields(packets[1]).parameters.left(8), le64(3));
    EXPECT_EQ(pathOf(packets[1]), "/notes.txt");
    EXPECT_EQ(afcFields(packets[4]).data, QByteArray("abc"));
    EXPECT_EQ(afcFields(packets[6]).parameters, le64(31));
    for (const QByteArray &p : packets)
        EXPECT_EQ(afcFields(p).packetNumber, quint64(client.socket()));
}

TEST_F(AfcClientTest, AFileOutlivingItsClientSendsNothing)
{
    ServicePeer peer(afcPath(), {ServicePeer::receivePacket(), ServicePeer::sendRaw(afcPacket(kAfcFileHandle, le64(4))),
                                 ServicePeer::receivePacket()});
    AfcFile file;
    {
        AfcClient client(phone);
        client.afc_start(QString());
        ASSERT_TRUE(client.openForRead("/a", file));
    }
    // The socket's number now belongs to another connection of this process.
    int other[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, other), 0);
    char buffer[4];
    EXPECT_EQ(file.read(buffer, 4), -1);
    EXPECT_EQ(file.write("x", 1), -1);
    file.close();
    EXPECT_FALSE(file.isOpen());
    EXPECT_EQ(socket_wait(other[1], 100, true), 0) << "bytes went to the connection that took the number";
    ::close(other[0]);
    ::close(other[1]);
    // The device saw the open and then the end of the stream.
    EXPECT_EQ(peer.receivedRaw().size(), 1);
    EXPECT_EQ(peer.error(), "step 2 failed");
}

TEST_F(AfcClientTest, OpeningIntoAnOpenFileClosesTheOldHandle)
{
    ServicePeer peer(afcPath(), {ServicePeer::receivePacket(), ServicePeer::sendRaw(afcPacket(kAfcFileHandle, le64(4))),
                                 ServicePeer::receivePacket(), ServicePeer::sendRaw(afcPacket(kAfcFileHandle, le64(5))),
                                 ServicePeer::receivePacket(), ServicePeer::sendRaw(status(0)),
                                 ServicePeer::receivePacket(), ServicePeer::sendRaw(status(0))});
    AfcClient client(phone);
    client.afc_start(QString());
    AfcFile file;
    ASSERT_TRUE(client.openForRead("/a", file));
    ASSERT_TRUE(client.openForRead("/b", file));
    EXPECT_EQ(file.fileHandle, 5);
    AfcFile moved = std::move(file);
    EXPECT_FALSE(file.isOpen());
    moved.close();
    QList<QByteArray> closes;
    for (const QByteArray &p : peer.receivedRaw()) {
        if (afcFields(p).operation == kAfcFileClose)
            closes << afcFields(p).parameters;
    }
    EXPECT_EQ(closes, (QList<QByteArray>{le64(4), le64(5)}));
}

TEST_F(AfcClientTest, StatReadsSizeTypeAndTime)
{
    const struct
    {
        const char *name;
        QByteArray reply;
        qint64 size;
        QString ifmt;
        qint64 mtimeMs; // -1: invalid
        bool isFile;
        bool isDir;
    } cases[] = {
        {"a regular file", info("S_IFREG", nul("st_size") + nul("1234") + nul("st_mtime") + nul("2999999")), 1234, "S_IFREG", 2,
         true, false},
        {"a folder without time", info("S_IFDIR", nul("st_size") + nul("102")), 102, "S_IFDIR", -1, false, true},
        {"a type in small letters", info("s_ifreg"), 0, "s_ifreg", -1, true, false},
        {"a link", info("S_IFLNK", nul("st_mtime") + nul("1700000000123456789")), 0, "S_IFLNK", 1700000000123, false, false},
        {"a size that is no number", info("S_IFREG", nul("st_size") + nul("12ab")), 0, "S_IFREG", -1, true, false},
        {"a negative size", info("S_IFREG", nul("st_size") + nul("-5")), 0, "S_IFREG", -1, true, false},
        {"a time that is no number", info("S_IFREG", nul("st_mtime") + nul("soon")), 0, "S_IFREG", -1, true, false},
        {"nothing", data(""), 0, "", -1, false, false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        ServicePeer peer(afcPath(), {ServicePeer::receivePacket(), ServicePeer::sendRaw(c.reply)});
        AfcClient client(phone);
        client.afc_start(QString());
        const AfcFileInfo got = client.stat("/x");
        EXPECT_EQ(got.path, "/x");
        EXPECT_EQ(got.size, c.size);
        EXPECT_EQ(got.ifmt, c.ifmt);
        EXPECT_EQ(got.exists(), !c.ifmt.isEmpty());
        EXPECT_EQ(got.isFile(), c.isFile);
        EXPECT_EQ(got.isDir(), c.isDir);
        if (c.mtimeMs < 0) {
            EXPECT_FALSE(got.mtime.isValid());
        } else {
            EXPECT_EQ(got.mtime.toMSecsSinceEpoch(), c.mtimeMs);
        }
    }
}

TEST_F(AfcClientTest, StatAndListLetFailuresThrough)
{
    ServicePeer peer(afcPath(), {ServicePeer::receivePacket(), ServicePeer::sendRaw(status(8)), ServicePeer::receivePacket(),
                                 ServicePeer::sendRaw(status(8))});
    AfcClient client(phone);
    client.afc_start(QString());
    EXPECT_EQ(thrownText([&] { client.stat("/gone"); }), "read AFC failed, received AFC_OP_STATUS, param1=8.");
    EXPECT_EQ(thrownText([&] { client.list("/gone"); }), "read AFC failed, received AFC_OP_STATUS, param1=8.");
}

TEST_F(AfcClientTest, AListingStatsEachEntryOfTheFolder)
{
    const struct
    {
        const char *name;
        QString folder;
        QByteArray names;
        QList<QByteArray> infos; // answers to the stats, in order
        QStringList stated;
        QStringList listed;
    } cases[] = {
        {"files and folders", "/DCIM", nul("a") + nul("b") + nul(".") + nul(".."), {info("S_IFREG"), info("S_IFDIR")},
         {"/DCIM/a", "/DCIM/b"}, {"/DCIM/a", "/DCIM/b"}},
        {"links and others are left out", "/DCIM", nul("l") + nul("f") + nul("s"),
         {info("S_IFLNK"), info("S_IFREG"), info("S_IFSOCK")}, {"/DCIM/l", "/DCIM/f", "/DCIM/s"}, {"/DCIM/f"}},
        // Names that are no entry of this folder would be a path elsewhere.
        {"names that are no entry", "/DCIM", nul("") + nul("../etc") + nul("x/y") + nul("ok"), {info("S_IFREG")}, {"/DCIM/ok"},
         {"/DCIM/ok"}},
        {"the root", "/", nul("Books"), {info("S_IFDIR")}, {"/Books"}, {"/Books"}},
        {"a folder ending in a slash", "/DCIM/", nul("a"), {info("S_IFREG")}, {"/DCIM/a"}, {"/DCIM/a"}},
        {"an empty folder", "/Empty", nul(".") + nul(".."), {}, {}, {}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        QList<Step> steps{ServicePeer::receivePacket(), ServicePeer::sendRaw(data(c.names))};
        for (const QByteArray &answer : c.infos)
            steps << ServicePeer::receivePacket() << ServicePeer::sendRaw(answer);
        ServicePeer peer(afcPath(), steps);
        AfcClient client(phone);
        client.afc_start(QString());
        QStringList listed;
        for (const AfcFileInfo &entry : client.list(c.folder))
            listed << entry.path;
        EXPECT_EQ(listed, c.listed);
        client.close();
        const QList<QByteArray> packets = peer.receivedRaw();
        ASSERT_GE(packets.size(), 1);
        EXPECT_EQ(afcFields(packets[0]).operation, quint64(kAfcReadDir));
        EXPECT_EQ(pathOf(packets[0]), c.folder);
        QStringList stated;
        for (qsizetype i = 1; i < packets.size(); ++i) {
            EXPECT_EQ(afcFields(packets[i]).operation, quint64(kAfcGetFileInfo));
            stated << pathOf(packets[i]);
        }
        EXPECT_EQ(stated, c.stated);
    }
}

TEST_F(AfcClientTest, AnApplicationsContainerIsVendedOnTheSameSocket)
{
    const QString vend = R"({"Command": "VendContainer", "Identifier": "com.example.notes"})";
    {
        ServicePeer peer(scenario.path("house.sock"),
                         {ServicePeer::receive(), ServicePeer::send(cfDict({{"Status", cfStr("Complete")}})),
                          ServicePeer::receivePacket(), ServicePeer::sendRaw(status(0))});
        AfcClient client(phone);
        ASSERT_NO_THROW(client.afc_start("com.example.notes"));
        EXPECT_TRUE(client.makeDir("/Documents/new"));
        EXPECT_EQ(peer.received(), QStringList(vend));
        ASSERT_EQ(peer.receivedRaw().size(), 1);
        EXPECT_EQ(pathOf(peer.receivedRaw()[0]), "/Documents/new");
    }
    {
        ServicePeer peer(scenario.path("house.sock"),
                         {ServicePeer::receive(), ServicePeer::send(cfDict({{"Error", cfStr("InstallationLookupFailed")}})),
                          ServicePeer::receive()});
        AfcClient client(phone);
        EXPECT_EQ(thrownText([&] { client.afc_start("com.example.notes"); }), "can not find com.example.notes.");
        // The started service stays with the client until it closes it.
        EXPECT_NE(client.socket(), 0);
        QElapsedTimer timer;
        timer.start();
        client.close();
        EXPECT_EQ(peer.error(), "step 2 failed");
        EXPECT_LT(timer.elapsed(), 5000);
    }
    EXPECT_EQ(scenario.journalOf("phone").filter("AMDeviceStartService"),
              QStringList(2, QStringLiteral("AMDeviceStartService com.apple.mobile.house_arrest")));
}

TEST_F(AfcClientTest, StartingAgainClosesTheFormerSocket)
{
    ServicePeer first(afcPath(), {ServicePeer::receivePacket()});
    ServicePeer second(scenario.path("house.sock"),
                       {ServicePeer::receive(), ServicePeer::send(cfDict({{"Status", cfStr("Complete")}}))});
    AfcClient client(phone);
    client.afc_start(QString());
    QElapsedTimer timer;
    timer.start();
    client.afc_start("com.example.notes");
    // The first conversation ended at once, not at the peer's time-out.
    EXPECT_EQ(first.error(), "step 0 failed");
    EXPECT_LT(timer.elapsed(), 5000);
    EXPECT_EQ(second.error(), "");
}

} // namespace
