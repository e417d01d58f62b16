#include <QByteArray>
#include <QElapsedTimer>
#include <QString>

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>

#include <sys/socket.h>
#include <unistd.h>

#include "CFType.h"
#include "ServiceSocket.h"
#include "SimFramework.h"

namespace
{

class ServiceSocketTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        QString error;
        ASSERT_TRUE(loadSimFramework(&error)) << error.toStdString();
        ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, ends), 0);
    }
    void TearDown() override
    {
        closeEnd(0);
        closeEnd(1);
    }
    void closeEnd(int i)
    {
        if (ends[i] >= 0)
            ::close(ends[i]);
        ends[i] = -1;
    }
    // Writes raw bytes as the peer would.
    void peerWrite(const QByteArray &bytes)
    {
        ASSERT_EQ(::write(ends[1], bytes.constData(), size_t(bytes.size())), bytes.size());
    }
    QByteArray peerReadAvailable()
    {
        QByteArray all;
        char buffer[65536];
        while (socket_wait(ends[1], 50, true) == 1) {
            const ssize_t n = ::recv(ends[1], buffer, sizeof buffer, MSG_DONTWAIT);
            if (n <= 0)
                break;
            all.append(buffer, qsizetype(n));
        }
        return all;
    }
    QString recmsgError(const CFType &request = CFType(), int timeoutMs = 1000)
    {
        try {
            mobiledevice_recmsg(ends[0], request, timeoutMs);
        } catch (const std::runtime_error &e) {
            return QString::fromUtf8(e.what());
        }
        return QStringLiteral("(no error)");
    }

    int ends[2] = {-1, -1};
};

QByteArray beLength(quint32 n)
{
    const char b[4] = {char(n >> 24), char(n >> 16), char(n >> 8), char(n)};
    return QByteArray(b, 4);
}

CFType request(const QString &text)
{
    CFType dict = CFType::makeDictionary();
    dict.set(CFType::fromString(QStringLiteral("Request")), CFType::fromString(text));
    return dict;
}

TEST_F(ServiceSocketTest, MessagesRoundTripInBothFormats)
{
    const struct
    {
        bool binary;
        QByteArray start;
    } cases[] = {{false, "<?xml"}, {true, "bplist00"}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.binary);
        mobiledevice_sendmsg(ends[0], request(QStringLiteral("Ping ✓")), c.binary, 1000);
        const QByteArray wire = peerReadAvailable();
        ASSERT_GE(wire.size(), 4);
        EXPECT_EQ(wire.left(4), beLength(quint32(wire.size() - 4)));
        EXPECT_TRUE(wire.mid(4).startsWith(c.start));

        // The other way round, as the peer would answer.
        peerWrite(wire);
        const CFType back = mobiledevice_recmsg(ends[0], CFType(), 1000);
        EXPECT_EQ(back.value(QStringLiteral("Request")).stringValue(), QStringLiteral("Ping ✓"));
    }
}

TEST_F(ServiceSocketTest, ALargeMessageIsSentWholeWhileThePeerReads)
{
    // Far more than a socket buffer holds, so the sender must go on after
    // partial sends.
    QByteArray payload(6 * 1024 * 1024, '\0');
    for (int i = 0; i < payload.size(); ++i)
        payload[i] = char(i * 31 + (i >> 13));
    CFType dict = CFType::makeDictionary();
    dict.set(CFType::fromString(QStringLiteral("Data")), CFType::fromData(payload));

    CFType received;
    std::thread reader([&] { received = mobiledevice_recmsg(ends[1], CFType(), 10000); });
    mobiledevice_sendmsg(ends[0], dict, true, 10000);
    reader.join();
    EXPECT_EQ(received.value(QStringLiteral("Data")).dataValue(), payload);
}

TEST_F(ServiceSocketTest, AnEmptyOrUnparsableBodyIsAnEmptyValue)
{
    peerWrite(beLength(0));
    EXPECT_EQ(mobiledevice_recmsg(ends[0], CFType(), 1000).ref(), nullptr);
    peerWrite(beLength(5) + QByteArray("hello"));
    EXPECT_EQ(mobiledevice_recmsg(ends[0], CFType(), 1000).ref(), nullptr);
    // The stream stays in step: the next message reads normally.
    mobiledevice_sendmsg(ends[1], request(QStringLiteral("next")), false, 1000);
    EXPECT_EQ(mobiledevice_recmsg(ends[0], CFType(), 1000).value(QStringLiteral("Request")).stringValue(), QStringLiteral("next"));
}

TEST_F(ServiceSocketTest, ShortMessagesNameWhatArrived)
{
    const struct
    {
        const char *name;
        QByteArray bytes;
        QString error;
    } cases[] = {
        {"nothing", QByteArray(), QStringLiteral("mobiledevice_recmsg(msg-length) error, received length: 0.")},
        {"half a length", QByteArray("\x00\x00", 2), QStringLiteral("mobiledevice_recmsg(msg-length) error, received length: 2.")},
        {"length only", beLength(10), QStringLiteral("mobiledevice_recmsg(msg) error, received length: 0.")},
        {"part of the body", beLength(10) + QByteArray("abc"), QStringLiteral("mobiledevice_recmsg(msg) error, received length: 3.")},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        closeEnd(0);
        closeEnd(1);
        ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, ends), 0);
        peerWrite(c.bytes);
        closeEnd(1);
        EXPECT_EQ(recmsgError(), c.error);
    }
}

TEST_F(ServiceSocketTest, TheRequestAnsweredIsNamedAndCutAt800Characters)
{
    const CFType shortRequest = request(QStringLiteral("short"));
    const QString shortXml = QString::fromUtf8(CFType::toPropertyListData(shortRequest, kCFPropertyListFormatXml));
    ASSERT_LT(shortXml.size(), 800);
    const CFType longRequest = request(QString(2000, QLatin1Char('x')));
    const QString longXml = QString::fromUtf8(CFType::toPropertyListData(longRequest, kCFPropertyListFormatXml));
    ASSERT_GT(longXml.size(), 800);

    closeEnd(1);
    const QString base = QStringLiteral("mobiledevice_recmsg(msg-length) error, received length: 0.");
    EXPECT_EQ(recmsgError(CFType()), base);
    EXPECT_EQ(recmsgError(shortRequest), base + QLatin1Char('\n') + shortXml);
    EXPECT_EQ(recmsgError(longRequest), base + QLatin1Char('\n') + longXml.left(800));
}

// Under the address sanitizer, the largest single allocation while recording.
extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*)(const volatile void *, size_t),
                                                         void (*)(const volatile void *)) __attribute__((weak));
std::atomic<bool> g_recording{false};
std::atomic<size_t> g_largest{0};

void recordAllocation(const volatile void *, size_t size)
{
    if (!g_recording.load(std::memory_order_relaxed))
        return;
    size_t seen = g_largest.load(std::memory_order_relaxed);
    while (size > seen && !g_largest.compare_exchange_weak(seen, size))
        ;
}

void ignoreFree(const volatile void *)
{
}

TEST_F(ServiceSocketTest, AnnouncedLengthsAreNotTrusted)
{
    // Past the limit: refused before anything is read or allocated.
    for (const quint32 length : {kMaxServiceMessageLength + 1, 0x80000000u, 0xFFFFFFFFu}) {
        SCOPED_TRACE(length);
        peerWrite(beLength(length));
        EXPECT_EQ(recmsgError(),
                  QStringLiteral("mobiledevice_recmsg(msg) error, announced length %1 exceeds 134217728.").arg(length));
    }

    // Within the limit, a peer that sends little costs little.
    static const bool hooked = __sanitizer_install_malloc_and_free_hooks &&
                               __sanitizer_install_malloc_and_free_hooks(recordAllocation, ignoreFree) != 0;
    peerWrite(beLength(kMaxServiceMessageLength) + QByteArray(100, 'x'));
    closeEnd(1);
    g_largest = 0;
    g_recording = true;
    const QString error = recmsgError();
    g_recording = false;
    EXPECT_EQ(error, QStringLiteral("mobiledevice_recmsg(msg) error, received length: 100."));
    if (!hooked)
        GTEST_SKIP() << "allocations are only seen under the address sanitizer";
    EXPECT_LE(g_largest.load(), size_t(4 * 1024 * 1024)) << "the announced 128 MiB were allocated up front";
}

TEST_F(ServiceSocketTest, TheBodyTimeOutAppliesAndZeroWaitsWithoutLimit)
{
    const QByteArray wire = [&] {
        mobiledevice_sendmsg(ends[0], request(QStringLiteral("late")), false, 1000);
        return peerReadAvailable();
    }();

    // The body comes 300 ms after its length.
    const auto sendLate = [&] {
        peerWrite(wire.left(4));
        return std::thread([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            EXPECT_EQ(::write(ends[1], wire.constData() + 4, size_t(wire.size() - 4)), wire.size() - 4);
        });
    };

    std::thread late = sendLate();
    EXPECT_EQ(recmsgError(CFType(), 50), QStringLiteral("mobiledevice_recmsg(msg) error, received length: 0."));
    late.join();
    peerReadAvailable();
    // What arrived after the time-out is the rest of that message: start over
    // on a fresh pair.
    closeEnd(0);
    closeEnd(1);
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, ends), 0);

    late = sendLate();
    const CFType got = mobiledevice_recmsg(ends[0], CFType(), 0);
    late.join();
    EXPECT_EQ(got.value(QStringLiteral("Request")).stringValue(), QStringLiteral("late"));
}

TEST_F(ServiceSocketTest, AMessageWithoutPropertyListFormIsAnErrorAndSendsNothing)
{
    CFType numberKeyed = CFType::makeDictionary();
    numberKeyed.set(CFType::fromInt32(1), CFType::fromInt32(2));
    for (const CFType &message : {CFType(), numberKeyed}) {
        for (const bool binary : {false, true}) {
            try {
                mobiledevice_sendmsg(ends[0], message, binary, 1000);
                ADD_FAILURE() << "no error";
            } catch (const std::runtime_error &e) {
                EXPECT_STREQ(e.what(), "mobiledevice_sendmsg(msg) error: the message cannot be written as a property list.");
            }
        }
    }
    EXPECT_TRUE(peerReadAvailable().isEmpty());
}

TEST_F(ServiceSocketTest, SendingToAClosedPeerFailsWithoutASignal)
{
    closeEnd(1);
    const CFType message = request(QStringLiteral("anyone?"));
    try {
        mobiledevice_sendmsg(ends[0], message, false, 1000);
        FAIL() << "no error";
    } catch (const std::runtime_error &e) {
        EXPECT_EQ(QString::fromUtf8(e.what()),
                  QStringLiteral("mobiledevice_sendmsg(msg-length) error.\n") +
                      QString::fromUtf8(CFType::toPropertyListData(message, kCFPropertyListFormatXml)));
    }
}

TEST_F(ServiceSocketTest, RawTransfersCountWhatMoved)
{
    EXPECT_EQ(send_data(ends[0], "abc", 0, 100), 0);
    EXPECT_EQ(send_data(ends[0], "abc", -1, 100), 0);
    EXPECT_EQ(socket_wait(ends[0], 1, false), 1);
    EXPECT_EQ(socket_wait(ends[1], 50, true), 0);
    EXPECT_EQ(send_data(ends[0], "abcdef", 6, 100), 6);
    EXPECT_EQ(socket_wait(ends[1], 50, true), 1);

    char buffer[16] = {};
    QElapsedTimer timer;
    timer.start();
    EXPECT_EQ(receive_data(ends[1], buffer, 10, 100), 6); // the wait for the rest times out
    EXPECT_GE(timer.elapsed(), 90);
    EXPECT_EQ(QByteArray(buffer, 6), QByteArray("abcdef"));
    EXPECT_EQ(receive_data(ends[1], buffer, 0, 100), 0);

    send_data(ends[0], "xy", 2, 100);
    closeEnd(0);
    EXPECT_EQ(receive_data(ends[1], buffer, 10, 1000), 2); // the end of the stream ends it at once
    EXPECT_EQ(mobiledevice_closesocket(ends[1]), 0);
    ends[1] = -1;
}

} // namespace
