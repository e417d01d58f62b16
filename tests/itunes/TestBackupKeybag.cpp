#include <QElapsedTimer>

#include <gtest/gtest.h>

#include "AesCrypto.h"
#include "BackupGenerator.h"
#include "BackupKeybag.h"

namespace
{

using G = BackupGenerator;

QByteArray item(const char *tag, const QByteArray &value)
{
    return G::keybagItem(tag, value);
}

QByteArray number(quint32 v)
{
    return G::be32(v);
}

// A keybag whose class 1 key unwraps with "pw" and whose class 2 key is
// wrapped with something else entirely.
QByteArray secondClassSpoilt(QByteArray *class1Key)
{
    const QByteArray salt(20, 's');
    const QByteArray kek = G::pbkdf2Sha1("pw", salt, 10);
    *class1Key = QByteArray(32, '1');
    return item("UUID", QByteArray(16, 'u')) + item("WRAP", number(0)) + item("SALT", salt) + item("ITER", number(10))
        + item("UUID", QByteArray(16, 'a')) + item("CLAS", number(1)) + item("WRAP", number(2))
        + item("WPKY", G::rfc3394Wrap(kek, *class1Key)) + item("UUID", QByteArray(16, 'b'))
        + item("CLAS", number(2)) + item("WRAP", number(2)) + item("WPKY", G::rfc3394Wrap(QByteArray(32, 'x'), QByteArray(32, '2')));
}

} // namespace

TEST(BackupKeybag, ItemsLandInTheKeybagOrInTheirClass)
{
    const QByteArray bytes = item("VERS", number(3)) + item("UUID", "header-uuid") + item("WRAP", number(0))
        + item("SALT", "salt") + item("ITER", number(10000)) + item("HMCK", "hmck")
        // a class entry
        + item("UUID", "uuid-3") + item("CLAS", number(3)) + item("WRAP", number(2)) + item("KTYP", number(0))
        + item("WPKY", "wpky-3")
        // a non-class tag between entries still belongs to the keybag
        + item("TKMT", "t")
        // a lower class after a higher one, and an entry without a CLAS
        + item("UUID", "uuid-1") + item("CLAS", number(1)) + item("WRAP", number(1)) + item("PBKY", "pbky-1")
        + item("UUID", "orphan") + item("WPKY", "lost");
    const BackupKeybag kb(bytes);

    const BackupKeybag::TagMap header = {{"VERS", number(3)}, {"UUID", "header-uuid"}, {"WRAP", number(0)},
                                         {"SALT", "salt"},    {"ITER", number(10000)},  {"HMCK", "hmck"},
                                         {"TKMT", "t"}};
    EXPECT_EQ(kb.tags, header);
    ASSERT_EQ(kb.classes.keys(), (QList<int>{1, 3}));
    const BackupKeybag::TagMap class3 = {
        {"UUID", "uuid-3"}, {"CLAS", number(3)}, {"WRAP", number(2)}, {"KTYP", number(0)}, {"WPKY", "wpky-3"}};
    EXPECT_EQ(kb.classes.value(3), class3);
    const BackupKeybag::TagMap class1 = {
        {"UUID", "uuid-1"}, {"CLAS", number(1)}, {"WRAP", number(1)}, {"PBKY", "pbky-1"}};
    EXPECT_EQ(kb.classes.value(1), class1);
}

TEST(BackupKeybag, LaterEntryOfTheSameClassWins)
{
    const BackupKeybag kb(item("UUID", "h") + item("UUID", "first") + item("CLAS", number(5)) + item("UUID", "second")
                          + item("CLAS", number(5)) + item("WPKY", "w"));
    ASSERT_EQ(kb.classes.size(), 1);
    EXPECT_EQ(kb.classes.value(5).value("UUID"), "second");
    EXPECT_EQ(kb.classes.value(5).value("WPKY"), "w");
}

TEST(BackupKeybag, IntValueReadsTheFirstFourBytesBigEndian)
{
    const BackupKeybag::TagMap tags = {
        {"A", QByteArray::fromHex("0000000a")}, {"B", QByteArray::fromHex("01020304ffff")}, {"C", "abc"}, {"D", {}}};
    struct Case
    {
        const char *tag;
        int value;
    };
    const Case cases[] = {{"A", 10}, {"B", 0x01020304}, {"C", 0}, {"D", 0}, {"missing", 0}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.tag);
        EXPECT_EQ(BackupKeybag::intValue(tags, c.tag), c.value);
    }
}

TEST(BackupKeybag, RightPasswordUnlocksAndWrongOneDoesNot)
{
    const G::Keybag generated = G::makeKeybag("correct horse", G::defaultClasses(), 1000, 7);

    BackupKeybag wrong(generated.bytes);
    EXPECT_FALSE(wrong.unlock("correct hors"));
    BackupKeybag empty(generated.bytes);
    EXPECT_FALSE(empty.unlock(QByteArray()));

    BackupKeybag kb(generated.bytes);
    ASSERT_TRUE(kb.unlock("correct horse"));
    ASSERT_EQ(kb.classes.size(), 11);
    for (auto it = generated.classKeys.cbegin(); it != generated.classKeys.cend(); ++it) {
        SCOPED_TRACE(it.key());
        EXPECT_EQ(kb.classes.value(it.key()).value("KEY"), it.value());
    }
}

TEST(BackupKeybag, EmptyPasswordReachesTheKeyDerivation)
{
    const G::Keybag generated = G::makeKeybag(QByteArray(), {{3, 2}}, 10, 1);
    BackupKeybag kb(generated.bytes);
    EXPECT_TRUE(kb.unlock(QByteArray()));
    EXPECT_EQ(kb.classes.value(3).value("KEY"), generated.classKeys.value(3));
}

TEST(BackupKeybag, ClassesNotWrappedWithThePasswordAreSkipped)
{
    const G::Keybag generated = G::makeKeybag("pw", {{1, 1}, {2, 3}, {3, 2}, {4, 0}}, 10, 3);
    BackupKeybag kb(generated.bytes);
    ASSERT_TRUE(kb.unlock("pw"));
    EXPECT_FALSE(kb.classes.value(1).contains("KEY"));
    EXPECT_EQ(kb.classes.value(2).value("KEY"), generated.classKeys.value(2)); // bit 2 of 3 is set
    EXPECT_EQ(kb.classes.value(3).value("KEY"), generated.classKeys.value(3));
    EXPECT_FALSE(kb.classes.value(4).contains("KEY"));
    EXPECT_TRUE(kb.unwrapKeyForClass(1, G::rfc3394Wrap(generated.classKeys.value(1), QByteArray(32, 'f'))).isEmpty());
}

TEST(BackupKeybag, StopsAtTheFirstClassThatDoesNotUnwrap)
{
    QByteArray class1Key;
    BackupKeybag kb(secondClassSpoilt(&class1Key));
    EXPECT_FALSE(kb.unlock("pw"));
    EXPECT_EQ(kb.classes.value(1).value("KEY"), class1Key);
    EXPECT_FALSE(kb.classes.value(2).contains("KEY"));
}

TEST(BackupKeybag, DamagedOrUnprotectedKeybagsNeverUnlock)
{
    const QByteArray salt(20, 's');
    const QByteArray kek = G::pbkdf2Sha1("pw", salt, 10);
    const QByteArray head = item("UUID", QByteArray(16, 'u')) + item("WRAP", number(0)) + item("SALT", salt);
    const QByteArray goodClass = item("UUID", QByteArray(16, 'a')) + item("CLAS", number(1)) + item("WRAP", number(2))
        + item("WPKY", G::rfc3394Wrap(kek, QByteArray(32, 'k')));
    const QByteArray good = head + item("ITER", number(10)) + goodClass;
    ASSERT_TRUE(BackupKeybag(good).unlock("pw"));

    struct Case
    {
        const char *name;
        QByteArray bytes;
    };
    const Case cases[] = {
        {"empty keybag", {}},
        {"no ITER", head + goodClass},
        {"ITER shorter than four bytes", head + item("ITER", "\x0a") + goodClass},
        {"ITER of zero", head + item("ITER", number(0)) + goodClass},
        {"ITER above the bound", head + item("ITER", number(BackupKeybag::MaxIterations + 1)) + goodClass},
        {"ITER of 0xFFFFFFFF", head + item("ITER", number(0xFFFFFFFF)) + goodClass},
        {"no class protected by the password", head + item("ITER", number(10))},
        {"last item cut short", good.left(good.size() - 1)},
        {"trailing bytes after the last item", good + "WPK"},
        {"length past the end", good + QByteArray("PBKY") + number(0xFFFFFFFF) + "x"},
        {"CLAS shorter than four bytes", good + item("UUID", "b") + item("CLAS", "\x02")},
        {"class key wrapped to 16 bytes", head + item("ITER", number(10)) + item("UUID", "c") + item("CLAS", number(1))
                                              + item("WRAP", number(2))
                                              + item("WPKY", G::rfc3394Wrap(kek, QByteArray(16, 'k')))},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        BackupKeybag kb(c.bytes);
        QElapsedTimer timer;
        timer.start();
        EXPECT_FALSE(kb.unlock("pw"));
        EXPECT_LT(timer.elapsed(), 5000);
    }
}

TEST(BackupKeybag, FileKeysUnwrapOnlyFromAnUnlockedClassAnd40Bytes)
{
    const G::Keybag generated = G::makeKeybag("pw", {{3, 2}, {4, 2}}, 10, 5);
    const QByteArray fileKey = QByteArray::fromHex("8899aabbccddeeff00112233445566778899aabbccddeeff0011223344556677");
    const QByteArray wrapped = G::rfc3394Wrap(generated.classKeys.value(4), fileKey);
    ASSERT_EQ(wrapped.size(), 40);

    BackupKeybag locked(generated.bytes);
    EXPECT_TRUE(locked.unwrapKeyForClass(4, wrapped).isEmpty());

    BackupKeybag kb(generated.bytes);
    ASSERT_TRUE(kb.unlock("pw"));
    struct Case
    {
        const char *name;
        int protectionClass;
        QByteArray wrapped;
        QByteArray expected;
    };
    const QByteArray record = QByteArray("\x04\x00\x00\x00", 4) + wrapped; // as stored in the catalogue
    QByteArray spoilt = wrapped;
    spoilt[17] = char(spoilt[17] ^ 1);
    const Case cases[] = {
        {"44-byte record key from offset 4", 4, record.mid(4), fileKey},
        {"whole 44-byte record key", 4, record, {}},
        {"wrong class", 3, wrapped, {}},
        {"unknown class", 9, wrapped, {}},
        {"negative class", -4, wrapped, {}},
        {"spoilt wrapped key", 4, spoilt, {}},
        {"cut to 32 bytes", 4, wrapped.left(32), {}},
        {"no key", 4, {}, {}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(kb.unwrapKeyForClass(c.protectionClass, c.wrapped).toHex(), c.expected.toHex());
    }
}
