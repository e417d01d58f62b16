#include <QByteArray>
#include <QtEndian>
#include <QString>
#include <QStringList>

#include <gtest/gtest.h>

#include <functional>

#include <sys/socket.h>
#include <unistd.h>

#include "AfcProtocol.h"
#include "ServicePeer.h"
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

TEST(AfcProtocolTest, ThePacketNumberIsTheSocket)
{
    EXPECT_EQ(afc_header(7, kAfcReadDir).packetNumber, 7u);
    EXPECT_EQ(afc_header(0, kAfcReadDir).packetNumber, 0xFFFFFFFFu);
    EXPECT_EQ(afc_header(-2, kAfcReadDir).packetNumber, 0xFFFFFFFFFFFFFFFEu);
    const AfcPacketHeader h = afc_header(7, kAfcFileLock);
    EXPECT_EQ(h.magic, QByteArray("CFA6LPAA"));
    EXPECT_EQ(h.operation, 27u);
    EXPECT_EQ(h.entireLength, 0u);
    EXPECT_EQ(h.thisLength, 0u);
}

TEST(AfcProtocolTest, ASocketWithHandle0IsNumberedAllOnes)
{
    ServicePeer peer({ServicePeer::receivePacket(), ServicePeer::sendRaw(status(0))});
    const int saved = dup(0);
    ASSERT_EQ(dup2(peer.socket(), 0), 0);
    const QString error = thrownText([] { afc_make_dir(0, "/x"); });
    // Standard input comes back (or stays closed, when it was).
    if (saved >= 0) {
        dup2(saved, 0);
        ::close(saved);
    } else {
        ::close(0);
    }
    EXPECT_EQ(error, "(no error)");
    ASSERT_EQ(peer.receivedRaw().size(), 1);
    EXPECT_EQ(afcFields(peer.receivedRaw()[0]).packetNumber, 0xFFFFFFFFu);
}

// One request as the device sees it.
struct RequestCase
{
    const char *name;
    std::function<void(int)> call;
    quint64 operation;
    QByteArray parameters;
    QByteArray reply;
};

TEST(AfcProtocolTest, RequestsCarryTheirParametersAndLengths)
{
    const QByteArray path = QStringLiteral("/DCIM/Bild ä.jpg").toUtf8();
    const RequestCase cases[] = {
        {"read folder", [](int s) { afc_read_dir(s, "/DCIM"); }, 3, nul("/DCIM"), data("")},
        {"remove", [&](int s) { afc_remove_path(s, QStringLiteral("/DCIM/Bild ä.jpg")); }, 8, path + '\0', status(0)},
        {"make folder", [](int s) { afc_make_dir(s, "/new"); }, 9, nul("/new"), status(0)},
        {"file info", [](int s) { afc_get_file_info(s, "/a"); }, 10, nul("/a"), data("")},
        {"open", [](int s) { afc_file_open(s, "/a", 3); }, 13, le64(3) + nul("/a"), afcPacket(kAfcFileHandle, le64(9))},
        {"read", [](int s) { char b[10]; afc_file_read(s, 9, b, 10); }, 15, le64(9) + le64(10), data("0123456789")},
        {"close", [](int s) { afc_file_close(s, 9); }, 20, le64(9), status(0)},
        {"rename", [](int s) { afc_rename_path(s, "/a", "/bc"); }, 24, nul("/a") + nul("/bc"), status(0)},
        {"lock", [](int s) { afc_file_lock(s, 9, 2 | 4); }, 27, le64(9) + le64(6), status(0)},
    };
    for (const RequestCase &c : cases) {
        SCOPED_TRACE(c.name);
        ServicePeer peer({ServicePeer::receivePacket(), ServicePeer::sendRaw(c.reply)});
        EXPECT_EQ(thrownText([&] { c.call(peer.socket()); }), "(no error)");
        ASSERT_EQ(peer.receivedRaw().size(), 1);
        const AfcPacketFields f = afcFields(peer.receivedRaw()[0]);
        EXPECT_EQ(f.magic, QByteArray("CFA6LPAA"));
        EXPECT_EQ(f.operation, c.operation);
        EXPECT_EQ(f.parameters, c.parameters);
        EXPECT_EQ(f.thisLength, 40u + quint64(c.parameters.size()));
        EXPECT_EQ(f.entireLength, f.thisLength);
        EXPECT_TRUE(f.data.isEmpty());
        EXPECT_EQ(f.packetNumber, quint64(peer.socket()));
    }
}

TEST(AfcProtocolTest, PathsHoldingNulAreRefusedBeforeAnythingIsSent)
{
    ServicePeer peer({ServicePeer::receiveRaw(1)});
    const QString bad = QStringLiteral("/DCIM") + QChar(0) + QStringLiteral("/../Photos");
    const std::function<void()> calls[] = {
        [&] { afc_remove_path(peer.socket(), bad); },
        [&] { afc_make_dir(peer.socket(), bad); },
        [&] { afc_read_dir(peer.socket(), bad); },
        [&] { afc_get_file_info(peer.socket(), bad); },
        [&] { afc_file_open(peer.socket(), bad, 1); },
        [&] { afc_rename_path(peer.socket(), "/a", bad); },
        [&] { afc_rename_path(peer.socket(), bad, "/a"); },
    };
    for (const auto &call : calls)
        EXPECT_EQ(thrownText(call), "the AFC path holds a NUL character.");
    ::shutdown(peer.socket(), SHUT_WR);
    EXPECT_TRUE(peer.receivedRaw().isEmpty());
}

TEST(AfcProtocolTest, RepliesAreTakenByTheirOperation)
{
    const struct
    {
        const char *name;
        QByteArray reply;
        bool withStatus;
        QByteArray body;
        int status;
        QString error;
    } cases[] = {
        {"data", data("abc"), false, "abc", -1, "(no error)"},
        {"file handle", afcPacket(kAfcFileHandle, le64(42)), false, le64(42), -1, "(no error)"},
        {"operation 19", afcPacket(kAfcReplyData, "xy"), false, "xy", -1, "(no error)"},
        {"parameters and data both count", afcPacket(kAfcData, "ab", "cd"), false, "abcd", -1, "(no error)"},
        {"status 0", status(0), false, le64(0), -1, "(no error)"},
        {"status 0 with more", afcPacket(kAfcStatus, le64(0) + "more"), false, le64(0) + "more", -1, "(no error)"},
        {"a failing status", status(5), false, "", -1, "read AFC failed, received AFC_OP_STATUS, param1=5."},
        {"a failing status asked for", status(5), true, le64(5), 5, "(no error)"},
        {"a 64-bit status asked for", status(0x100000007ull), true, le64(0x100000007ull), 7, "(no error)"},
        {"a 64-bit status", status(0x100000000ull), false, "", -1,
         "read AFC failed, received AFC_OP_STATUS, param1=4294967296."},
        // Too short to hold a code: no success, and nothing read past the body.
        {"a short status", afcPacket(kAfcStatus, QByteArray(4, '\0')), false, "", -1,
         "read AFC failed, received AFC_OP_STATUS of 4 bytes."},
        {"an empty status asked for", afcPacket(kAfcStatus, ""), true, "", -1,
         "read AFC failed, received AFC_OP_STATUS of 0 bytes."},
        {"operation 0", afcPacket(0, le64(3)), false, "", -1, "read AFC failed, Unknown operation code received 0, param1=3."},
        {"an unknown operation with a short body", afcPacket(77, "\x02"), true, "", -1,
         "read AFC failed, Unknown operation code received 77, param1=2."},
        {"an entire length below the header",
         QByteArray("CFA6LPAA") + le64(12) + le64(40) + le64(0) + le64(kAfcData), false, "", -1, "(no error)"},
        // The high bits of the length count.
        {"a length past 32 bits", QByteArray("CFA6LPAA") + le64((quint64(1) << 32) + 44) + le64(40) + le64(0) + le64(kAfcData) + "abcd",
         false, "", -1, "read AFC failed, announced length 4294967300 exceeds 134217728."},
        {"the largest length", QByteArray("CFA6LPAA") + le64(~quint64(0)) + le64(40) + le64(0) + le64(kAfcData), false, "", -1,
         "read AFC failed, announced length 18446744073709551575 exceeds 134217728."},
        {"a cut-off header", data("abc").left(39), false, "", -1, "read AFC header failed."},
        {"a cut-off body", data("abcdef").left(43), false, "", -1, "read AFC file block data failed."},
        {"nothing", QByteArray(), false, "", -1, "read AFC header failed."},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        ServicePeer peer({ServicePeer::sendRaw(c.reply)});
        QByteArray body;
        int code = -1;
        AfcPacketHeader header;
        EXPECT_EQ(thrownText([&] { body = afc_receive(peer.socket(), &header, c.withStatus ? &code : nullptr); }), c.error);
        EXPECT_EQ(body, c.body);
        EXPECT_EQ(code, c.status);
    }
}

TEST(AfcProtocolTest, ReadsGoInChunksAndStopAtTheEnd)
{
    const QByteArray content = [] {
        QByteArray bytes(65537, '\0');
        for (int i = 0; i < bytes.size(); ++i)
            bytes[i] = char(i * 7 + (i >> 9));
        return bytes;
    }();
    const struct
    {
        const char *name;
        unsigned length;
        QList<Step> steps;
        QList<quint64> asked;
        int result;
        QString error;
    } cases[] = {
        {"two chunks", 65537,
         {ServicePeer::receivePacket(), ServicePeer::sendRaw(data(content.left(65536))), ServicePeer::receivePacket(),
          ServicePeer::sendRaw(data(content.mid(65536)))},
         {65536, 1}, 65537, "(no error)"},
        {"the end of the file", 65537,
         {ServicePeer::receivePacket(), ServicePeer::sendRaw(data(content.left(65536))), ServicePeer::receivePacket(),
          ServicePeer::sendRaw(data(""))},
         {65536, 1}, 65536, "(no error)"},
        // A device may answer in smaller pieces; the rest is asked for again.
        {"short answers", 100,
         {ServicePeer::receivePacket(), ServicePeer::sendRaw(data(content.left(60))), ServicePeer::receivePacket(),
          ServicePeer::sendRaw(data(content.mid(60, 40)))},
         {100, 40}, 100, "(no error)"},
        // A status is no content: its code is never taken for file bytes.
        {"a status ends it", 100, {ServicePeer::receivePacket(), ServicePeer::sendRaw(status(0))}, {100}, 0, "(no error)"},
        {"a failing status", 100, {ServicePeer::receivePacket(), ServicePeer::sendRaw(status(7))}, {100}, 0,
         "read AFC failed, received AFC_OP_STATUS, param1=7."},
        {"more than asked", 10, {ServicePeer::receivePacket(), ServicePeer::sendRaw(data(content.left(11)))}, {10}, 0,
         "read AFC file failed, received 11 bytes for 10 asked."},
        {"nothing asked", 0, {}, {}, 0, "(no error)"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        ServicePeer peer(c.steps);
        QByteArray buffer(int(c.length) + 16, '\xEE');
        int result = 0;
        EXPECT_EQ(thrownText([&] { result = afc_file_read(peer.socket(), 5, buffer.data(), c.length); }), c.error);
        if (c.error == "(no error)") {
            EXPECT_EQ(result, c.result);
            EXPECT_EQ(buffer.left(result), content.left(result));
        }
        // Nothing is written past what was asked for.
        EXPECT_EQ(buffer.mid(int(c.length)), QByteArray(16, '\xEE'));
        ::shutdown(peer.socket(), SHUT_WR);
        QList<quint64> asked;
        for (const QByteArray &packet : peer.receivedRaw()) {
            const AfcPacketFields f = afcFields(packet);
            EXPECT_EQ(f.operation, 15u);
            EXPECT_EQ(f.parameters.left(8), le64(5));
            asked << qFromLittleEndian<quint64>(f.parameters.constData() + 8);
        }
        EXPECT_EQ(asked, c.asked);
    }
}

TEST(AfcProtocolTest, WritesGoInChunksEachAnswered)
{
    QByteArray content(32769, '\0');
    for (int i = 0; i < content.size(); ++i)
        content[i] = char(i * 13);
    const struct
    {
        const char *name;
        unsigned length;
        QList<Step> steps;
        QList<int> chunks;
        QString error;
    } cases[] = {
        {"two chunks", 32769,
         {ServicePeer::receivePacket(), ServicePeer::sendRaw(status(0)), ServicePeer::receivePacket(),
          ServicePeer::sendRaw(status(0))},
         {32768, 1}, "(no error)"},
        {"one chunk", 32768, {ServicePeer::receivePacket(), ServicePeer::sendRaw(status(0))}, {32768}, "(no error)"},
        {"refused", 32769, {ServicePeer::receivePacket(), ServicePeer::sendRaw(status(28))}, {32768},
         "read AFC failed, received AFC_OP_STATUS, param1=28."},
        {"no answer", 10, {ServicePeer::receivePacket()}, {10}, "read AFC header failed."},
        {"nothing to write", 0, {}, {}, "(no error)"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        ServicePeer peer(c.steps);
        unsigned written = 0;
        EXPECT_EQ(thrownText([&] { written = afc_file_write(peer.socket(), 6, content.constData(), c.length); }), c.error);
        if (c.error == "(no error)") {
            EXPECT_EQ(written, c.length);
        }
        QList<int> chunks;
        QByteArray sent;
        for (const QByteArray &packet : peer.receivedRaw()) {
            const AfcPacketFields f = afcFields(packet);
            EXPECT_EQ(f.operation, 16u);
            EXPECT_EQ(f.thisLength, 48u);
            EXPECT_EQ(f.entireLength, 48u + quint64(f.data.size()));
            EXPECT_EQ(f.parameters, le64(6));
            chunks << int(f.data.size());
            sent += f.data;
        }
        EXPECT_EQ(chunks, c.chunks);
        EXPECT_EQ(sent, content.left(int(sent.size())));
    }
}

TEST(AfcProtocolTest, AWriteThatCannotGoOutWholeFails)
{
    const QByteArray content(32768, 'w');
    const struct
    {
        const char *name;
        QList<Step> steps;
        QString error;
    } cases[] = {
        {"gone before the header", {}, "send AFC header (16) error."},
        // The device goes after the header and handle: the chunk, larger
        // than the socket's buffer, cannot follow.
        {"gone during the chunk", {ServicePeer::receiveRaw(48)}, "write AFC file error."},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        ServicePeer peer(c.steps);
        const int small = 4096;
        ASSERT_EQ(setsockopt(peer.socket(), SOL_SOCKET, SO_SNDBUF, &small, sizeof small), 0);
        if (c.steps.isEmpty())
            peer.finish();
        EXPECT_EQ(thrownText([&] { afc_file_write(peer.socket(), 6, content.constData(), unsigned(content.size())); }),
                  c.error);
    }
}

TEST(AfcProtocolTest, FolderNamesAndFileInfoAreNulSeparated)
{
    const struct
    {
        const char *name;
        QByteArray reply;
        QStringList names;
    } folders[] = {
        {"names", data(nul("a") + nul("b") + nul(".") + nul("..")), {"a", "b", ".", ".."}},
        {"empty names are kept", data(nul("a") + nul("") + nul("b")), {"a", "", "b"}},
        {"bytes after the last NUL are dropped", data(nul("a") + "partial"), {"a"}},
        {"UTF-8", data(QStringLiteral("Bild ä.jpg").toUtf8() + '\0'), {QStringLiteral("Bild ä.jpg")}},
        {"nothing", data(""), {}},
        {"a status carries no names", status(0), {}},
    };
    for (const auto &c : folders) {
        SCOPED_TRACE(c.name);
        ServicePeer peer({ServicePeer::receivePacket(), ServicePeer::sendRaw(c.reply)});
        EXPECT_EQ(afc_read_dir(peer.socket(), "/"), c.names);
    }

    const struct
    {
        const char *name;
        QByteArray reply;
        QMap<QString, QString> info;
    } infos[] = {
        {"pairs", data(nul("st_size") + nul("1234") + nul("st_ifmt") + nul("S_IFREG")),
         {{"st_size", "1234"}, {"st_ifmt", "S_IFREG"}}},
        {"a later key replaces", data(nul("st_size") + nul("1") + nul("st_size") + nul("2")), {{"st_size", "2"}}},
        {"a key without value is dropped", data(nul("st_size") + nul("1") + nul("st_nlink")), {{"st_size", "1"}}},
        {"an empty key waits for the next piece", data(nul("") + nul("st_size") + nul("3")), {{"st_size", "3"}}},
        {"a status carries none", status(0), {}},
    };
    for (const auto &c : infos) {
        SCOPED_TRACE(c.name);
        ServicePeer peer({ServicePeer::receivePacket(), ServicePeer::sendRaw(c.reply)});
        EXPECT_EQ(afc_get_file_info(peer.socket(), "/a"), c.info);
    }
}

TEST(AfcProtocolTest, OpenGivesTheHandleAndLockTheStatus)
{
    const struct
    {
        const char *name;
        QByteArray reply;
        qint64 handle;
        QString error;
    } opens[] = {
        {"a handle", afcPacket(kAfcFileHandle, le64(0x1122334455667788ull)), 0x1122334455667788ll, "(no error)"},
        {"a status 0", status(0), 0, "(no error)"},
        {"a handle too short", afcPacket(kAfcFileHandle, "\x05\x00"), 0, "(no error)"},
        {"refused", status(8), 0, "read AFC failed, received AFC_OP_STATUS, param1=8."},
    };
    for (const auto &c : opens) {
        SCOPED_TRACE(c.name);
        ServicePeer peer({ServicePeer::receivePacket(), ServicePeer::sendRaw(c.reply)});
        qint64 handle = -1;
        EXPECT_EQ(thrownText([&] { handle = afc_file_open(peer.socket(), "/a", 1); }), c.error);
        if (c.error == "(no error)") {
            EXPECT_EQ(handle, c.handle);
        }
    }

    const struct
    {
        const char *name;
        QByteArray reply;
        int result;
    } locks[] = {
        {"granted", status(0), 0},
        {"busy", status(35), 35},
        {"not a status", data(le64(35)), 0},
    };
    for (const auto &c : locks) {
        SCOPED_TRACE(c.name);
        ServicePeer peer({ServicePeer::receivePacket(), ServicePeer::sendRaw(c.reply)});
        EXPECT_EQ(afc_file_lock(peer.socket(), 9, 2), c.result);
    }
}

} // namespace
