#include <QByteArray>
#include <QDateTime>
#include <QFile>
#include <QTemporaryDir>
#include <QTimeZone>

#include <gtest/gtest.h>

#include <functional>
#include <limits>

#include "BplistBuilder.h"
#include "CFType.h"
#include "CaseName.h"
#include "MobileDeviceFramework.h"
#include "SimFramework.h"

namespace
{

class CFTypeTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        QString error;
        ASSERT_TRUE(loadSimFramework(&error)) << error.toStdString();
    }
};

struct TypeFlags
{
    bool number, boolean, string, data, date, dictionary, array;
};

TypeFlags flagsOf(const CFType &v)
{
    return {v.isNumber(), v.isBool(), v.isString(), v.isData(), v.isDate(), v.isDictionary(), v.isArray()};
}

bool operator==(const TypeFlags &a, const TypeFlags &b)
{
    return a.number == b.number && a.boolean == b.boolean && a.string == b.string && a.data == b.data && a.date == b.date &&
           a.dictionary == b.dictionary && a.array == b.array;
}

// --- type tests ---------------------------------------------------------

TEST_F(CFTypeTest, EachValueAnswersOnlyItsOwnTypeTest)
{
    const struct
    {
        const char *name;
        std::function<CFType()> make;
        TypeFlags flags;
    } cases[] = {
        {"empty", [] { return CFType(); }, {false, false, false, false, false, false, false}},
        {"wrapped null", [] { return CFType(nullptr, true); }, {false, false, false, false, false, false, false}},
        {"number", [] { return CFType::fromInt32(1); }, {true, false, false, false, false, false, false}},
        {"boolean", [] { return CFType::fromBool(true); }, {false, true, false, false, false, false, false}},
        {"string", [] { return CFType::fromString(QStringLiteral("x")); }, {false, false, true, false, false, false, false}},
        {"data", [] { return CFType::fromData(QByteArray("x")); }, {false, false, false, true, false, false, false}},
        {"date", [] { return CFType::fromDateTime(QDateTime(QDate(2013, 1, 2), QTime(3, 4, 5))); },
         {false, false, false, false, true, false, false}},
        {"dictionary", [] { return CFType::makeDictionary(); }, {false, false, false, false, false, true, false}},
        {"array", [] { return CFType::makeArray(); }, {false, false, false, false, false, false, true}},
    };
    using NullType = CFTypeID (*)();
    const auto nullType = reinterpret_cast<NullType>(cf_resolve("CFNullGetTypeID"));
    ASSERT_NE(nullType, nullptr);
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const CFType v = c.make();
        EXPECT_TRUE(flagsOf(v) == c.flags);
        EXPECT_EQ(v.typeId() == nullType(), v.ref() == nullptr);
    }
}

TEST_F(CFTypeTest, AnEmptyValueReadsAsDefaults)
{
    const CFType v;
    EXPECT_EQ(v.ref(), nullptr);
    EXPECT_TRUE(v.toString().isEmpty());
    EXPECT_EQ(v.toInt(7), 7);
    EXPECT_EQ(v.toLongLong(-7), -7);
    EXPECT_EQ(v.toDouble(2.5), 2.5);
    EXPECT_TRUE(v.toBool(true));
    EXPECT_FALSE(v.toBool(false));
    EXPECT_EQ(v.stringLength(), 0);
    EXPECT_TRUE(v.stringValue().isEmpty());
    EXPECT_FALSE(v.stringValue().isNull());
    EXPECT_TRUE(v.dataValue().isNull());
    EXPECT_FALSE(v.dateValue(nullptr).isValid());
    EXPECT_EQ(v.dictionaryCount(), 0);
    EXPECT_EQ(v.arrayCount(), 0);
    EXPECT_EQ(v.value(QStringLiteral("a")).ref(), nullptr);
    EXPECT_EQ(v.item(0).ref(), nullptr);
    EXPECT_TRUE(v.keys().isEmpty());
}

// --- numbers ------------------------------------------------------------

struct NumberCase
{
    const char *name;
    std::function<CFType()> make;
    int asInt;         // with default 7
    qint64 asLongLong; // with default -7
    double asDouble;   // with default 0.25
    const char *text;
};

class NumberReaders : public CFTypeTest, public ::testing::WithParamInterface<NumberCase>
{
};

TEST_P(NumberReaders, ReadEachNumberTypeAndPrintIt)
{
    const NumberCase &c = GetParam();
    const CFType v = c.make();
    ASSERT_TRUE(v.isNumber());
    EXPECT_EQ(v.toInt(7), c.asInt);
    EXPECT_EQ(v.toLongLong(-7), c.asLongLong);
    EXPECT_DOUBLE_EQ(v.toDouble(0.25), c.asDouble);
    EXPECT_EQ(v.toString(), QString::fromLatin1(c.text));
    EXPECT_TRUE(v.toBool(true)) << "a number is no boolean: the default comes back";
}

const qint64 kFiveBillion = 5000000000LL;

INSTANTIATE_TEST_SUITE_P(
    Types, NumberReaders,
    ::testing::Values(NumberCase{"Int8", [] { return CFType::fromInt8(-5); }, -5, -5, -5, "-5"},
                      NumberCase{"Int16", [] { return CFType::fromInt16(-30000); }, -30000, -30000, -30000, "-30000"},
                      NumberCase{"Int32Min", [] { return CFType::fromInt32(std::numeric_limits<qint32>::min()); },
                                 std::numeric_limits<qint32>::min(), std::numeric_limits<qint32>::min(),
                                 double(std::numeric_limits<qint32>::min()), "-2147483648"},
                      // Too wide for 32 bits: the default, not a truncated value.
                      NumberCase{"Int64Wide", [] { return CFType::fromInt64(kFiveBillion); }, 7, kFiveBillion,
                                 double(kFiveBillion), "5000000000"},
                      NumberCase{"Int64Small", [] { return CFType::fromInt64(-12); }, -12, -12, -12, "-12"},
                      NumberCase{"IndexSmall", [] { return CFType::fromIndex(12); }, 12, 12, 12, "12"},
                      // An index is 64 bits wide here and prints whole.
                      NumberCase{"IndexWide", [] { return CFType::fromIndex(kFiveBillion); }, 7, kFiveBillion,
                                 double(kFiveBillion), "5000000000"},
                      NumberCase{"Float64Fraction", [] { return CFType::fromFloat64(3.14159265); }, 7, -7, 3.14159265,
                                 "3.14159"},
                      NumberCase{"Float64Whole", [] { return CFType::fromFloat64(42.0); }, 42, 42, 42, "42"},
                      NumberCase{"Float64Huge", [] { return CFType::fromFloat64(1e20); }, 7, -7, 1e20, "1e+20"},
                      NumberCase{"Float32Half", [] { return CFType::fromFloat32(0.5f); }, 7, -7, 0.5, "0.5"}),
    CaseName());

// --- booleans -----------------------------------------------------------

TEST_F(CFTypeTest, BooleansAreTheLibrarysConstants)
{
    const auto trueConstant = static_cast<const CFTypeRef *>(cf_resolve("kCFBooleanTrue"));
    const auto falseConstant = static_cast<const CFTypeRef *>(cf_resolve("kCFBooleanFalse"));
    ASSERT_NE(trueConstant, nullptr);
    ASSERT_NE(falseConstant, nullptr);

    const struct
    {
        bool value;
        CFTypeRef constant;
        const char *text;
    } cases[] = {{true, *trueConstant, "1"}, {false, *falseConstant, "0"}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text);
        const CFType v = CFType::fromBool(c.value);
        EXPECT_EQ(v.ref(), c.constant);
        EXPECT_TRUE(v.isBool());
        EXPECT_EQ(v.toBool(!c.value), c.value);
        EXPECT_EQ(v.toBool(c.value), c.value);
        EXPECT_EQ(v.toString(), QString::fromLatin1(c.text));
        // A boolean is no number.
        EXPECT_EQ(v.toInt(7), 7);
    }
}

// --- strings and data ---------------------------------------------------

TEST_F(CFTypeTest, StringsKeepEveryCharacter)
{
    const struct
    {
        QString text;
        CFIndex units;
    } cases[] = {
        {QStringLiteral(""), 0},
        {QStringLiteral("ProductVersion"), 14},
        {QStringLiteral("Kim’s iPhone ünïcödé"), 20},
        {QString::fromUtf8("\xF0\x9F\x98\x80 smile"), 8}, // a surrogate pair counts two units
        {QStringLiteral("line\nbreak\ttab <b>&amp;</b>"), 27},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text.toStdString());
        const CFType v = CFType::fromString(c.text);
        ASSERT_TRUE(v.isString());
        EXPECT_EQ(v.stringLength(), c.units);
        EXPECT_EQ(v.stringValue(), c.text);
        EXPECT_FALSE(v.stringValue().isNull());
        EXPECT_EQ(v.toString(), c.text);
    }
    EXPECT_TRUE(CFType::fromInt32(5).stringValue().isEmpty());
    EXPECT_FALSE(CFType::fromInt32(5).stringValue().isNull());
    EXPECT_EQ(CFType::fromInt32(5).stringLength(), 0);
}

TEST_F(CFTypeTest, DataKeepsEveryByte)
{
    const QByteArray binary("\x00\x01\xff\x00zz", 6);
    const CFType v = CFType::fromData(binary);
    ASSERT_TRUE(v.isData());
    EXPECT_EQ(v.dataLength(), 6);
    EXPECT_EQ(v.dataValue(), binary);

    const CFType empty = CFType::fromData(QByteArray());
    EXPECT_TRUE(empty.isData());
    EXPECT_EQ(empty.dataLength(), 0);
    EXPECT_TRUE(empty.dataValue().isNull());

    EXPECT_EQ(CFType::fromData(QByteArray("caf\xc3\xa9")).toString(), QStringLiteral("café"));
    EXPECT_TRUE(CFType::fromString(QStringLiteral("x")).dataValue().isNull());
}

// --- dates --------------------------------------------------------------

TEST_F(CFTypeTest, DatesGiveTheirFieldsInTheZoneAsked)
{
    // Stored as 2013-05-06 07:08:09 GMT; milliseconds are dropped.
    const CFType v = CFType::fromDateTime(QDateTime(QDate(2013, 5, 6), QTime(7, 8, 9, 500), Qt::LocalTime));
    ASSERT_TRUE(v.isDate());
    const auto local = [](int day, int hour) { return QDateTime(QDate(2013, 5, day), QTime(hour, 8, 9), Qt::LocalTime); };

    EXPECT_EQ(v.dateValue(nullptr), local(6, 7));
    EXPECT_EQ(v.dateValue(nullptr).timeSpec(), Qt::LocalTime);
    EXPECT_EQ(v.dateValueAtOffset(0), local(6, 7));
    EXPECT_EQ(v.dateValueAtOffset(3600), local(6, 8));
    EXPECT_EQ(v.dateValueAtOffset(-8 * 3600), local(5, 23));
    EXPECT_EQ(v.dateValueInZone(QString()), local(6, 7));
    EXPECT_EQ(v.dateValueInZone(QStringLiteral("Europe/Berlin")), local(6, 9)); // summer time
    EXPECT_EQ(v.dateValueInZone(QStringLiteral("Asia/Tokyo")), local(6, 16));
    // A zone the library does not know reads as GMT.
    EXPECT_EQ(v.dateValueInZone(QStringLiteral("Nowhere/Atlantis")), local(6, 7));
    EXPECT_EQ(v.toString(), local(6, 7).toString(Qt::TextDate));
}

TEST_F(CFTypeTest, DatesRoundTripAcrossTheEpochs)
{
    const QDateTime times[] = {
        QDateTime(QDate(2001, 1, 1), QTime(0, 0, 0), Qt::LocalTime),
        QDateTime(QDate(2000, 12, 31), QTime(23, 59, 59), Qt::LocalTime),
        QDateTime(QDate(1970, 1, 1), QTime(0, 0, 0), Qt::LocalTime),
        QDateTime(QDate(2024, 2, 29), QTime(12, 30, 45), Qt::LocalTime),
        QDateTime(QDate(2037, 12, 31), QTime(23, 59, 59), Qt::LocalTime),
    };
    for (const QDateTime &t : times) {
        SCOPED_TRACE(t.toString(Qt::ISODate).toStdString());
        EXPECT_EQ(CFType::fromDateTime(t).dateValue(nullptr), t);
    }
    EXPECT_EQ(CFType::fromDateTime(QDateTime()).ref(), nullptr);
    EXPECT_FALSE(CFType::fromString(QStringLiteral("2013")).dateValue(nullptr).isValid());
}

// A received date is read as the list stores it, even where the library's
// own date getter (int32 seconds) cannot give it.
TEST_F(CFTypeTest, ReceivedDatesOutsideInt32SecondsReadWhole)
{
    const struct
    {
        double secs;
        QDateTime expected;
    } cases[] = {
        {63113904000.0, QDateTime(QDate(4001, 1, 1), QTime(0, 0, 0), Qt::LocalTime)},
        {-3187296000.0, QDateTime(QDate(1900, 1, 1), QTime(0, 0, 0), Qt::LocalTime)},
        {389779689.0, QDateTime(QDate(2013, 5, 9), QTime(8, 8, 9), Qt::LocalTime)},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.secs);
        BplistBuilder b;
        const CFType v = CFType::fromPropertyListData(b.build(b.addDate(c.secs)));
        ASSERT_TRUE(v.isDate());
        EXPECT_EQ(v.dateValue(nullptr), c.expected);
    }
}

// --- containers ---------------------------------------------------------

TEST_F(CFTypeTest, DictionariesFindValuesByKeyContent)
{
    CFType dict = CFType::makeDictionary();
    dict.set(CFType::fromString(QStringLiteral("DeviceName")), CFType::fromString(QStringLiteral("Kim")));
    dict.set(CFType::fromString(QStringLiteral("Count")), CFType::fromInt32(3));
    dict.set(CFType::fromString(QStringLiteral("Flag")), CFType::fromBool(true));
    ASSERT_EQ(dict.dictionaryCount(), 3);

    EXPECT_EQ(dict.value(QStringLiteral("DeviceName")).stringValue(), QStringLiteral("Kim"));
    EXPECT_EQ(dict.value(CFType::fromString(QStringLiteral("Count"))).toInt(), 3);
    EXPECT_TRUE(dict.value(QStringLiteral("Flag")).toBool(false));
    EXPECT_EQ(dict.value(QStringLiteral("missing")).ref(), nullptr);
    EXPECT_EQ(dict.value(QStringLiteral("devicename")).ref(), nullptr);
    EXPECT_EQ(dict.value(CFType()).ref(), nullptr);

    QStringList keys;
    for (const CFType &k : dict.keys())
        keys << k.stringValue();
    keys.sort();
    EXPECT_EQ(keys, (QStringList{QStringLiteral("Count"), QStringLiteral("DeviceName"), QStringLiteral("Flag")}));

    // A second value under an equal key replaces the first.
    dict.set(CFType::fromString(QStringLiteral("Count")), CFType::fromInt32(4));
    EXPECT_EQ(dict.dictionaryCount(), 3);
    EXPECT_EQ(dict.value(QStringLiteral("Count")).toInt(), 4);

    // Copies share the one dictionary.
    CFType copy = dict;
    copy.set(CFType::fromString(QStringLiteral("New")), CFType::fromInt32(1));
    EXPECT_EQ(dict.dictionaryCount(), 4);
    EXPECT_EQ(copy.ref(), dict.ref());
}

TEST_F(CFTypeTest, ArraysKeepOrderAndRefuseIndexesOutside)
{
    CFType array = CFType::makeArray();
    for (int i = 0; i < 3; ++i)
        array.append(CFType::fromInt32(10 * i));
    ASSERT_EQ(array.arrayCount(), 3);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(array.item(i).toInt(-1), 10 * i);
    for (const int outside : {-1, 3, 1000, std::numeric_limits<int>::min(), std::numeric_limits<int>::max()}) {
        SCOPED_TRACE(outside);
        EXPECT_EQ(array.item(outside).ref(), nullptr);
    }
}

TEST_F(CFTypeTest, ContainerOperationsOfTheOtherKindDoNothing)
{
    CFType dict = CFType::makeDictionary();
    CFType array = CFType::makeArray();
    CFType number = CFType::fromInt32(1);

    dict.append(CFType::fromInt32(1));
    array.set(CFType::fromString(QStringLiteral("k")), CFType::fromInt32(1));
    number.set(CFType::fromString(QStringLiteral("k")), CFType::fromInt32(1));
    number.append(CFType::fromInt32(1));
    dict.set(CFType::fromString(QStringLiteral("k")), CFType()); // no value to store

    EXPECT_EQ(dict.dictionaryCount(), 0);
    EXPECT_EQ(array.arrayCount(), 0);
    EXPECT_EQ(array.value(QStringLiteral("k")).ref(), nullptr);
    EXPECT_EQ(dict.item(0).ref(), nullptr);
    EXPECT_EQ(number.toInt(), 1);
}

TEST_F(CFTypeTest, ValuesReadOutOfAContainerStayValidAfterIt)
{
    CFType name;
    CFType element;
    CFType replaced;
    QList<CFType> keys;
    {
        CFType dict = CFType::makeDictionary();
        CFType list = CFType::makeArray();
        dict.set(CFType::fromString(QStringLiteral("name")), CFType::fromString(QStringLiteral("Kim's phone")));
        dict.set(CFType::fromString(QStringLiteral("old")), CFType::fromString(QStringLiteral("first value")));
        list.append(CFType::fromString(QStringLiteral("element")));
        dict.set(CFType::fromString(QStringLiteral("list")), list);
        name = dict.value(QStringLiteral("name"));
        replaced = dict.value(QStringLiteral("old"));
        element = dict.value(QStringLiteral("list")).item(0);
        keys = dict.keys();
        // The entry's value goes out of the dictionary while a reader holds it.
        dict.set(CFType::fromString(QStringLiteral("old")), CFType::fromString(QStringLiteral("second value")));
    }
    // Under the address sanitizer any of these would be a use after free.
    EXPECT_EQ(name.stringValue(), QStringLiteral("Kim's phone"));
    EXPECT_EQ(element.stringValue(), QStringLiteral("element"));
    EXPECT_EQ(replaced.stringValue(), QStringLiteral("first value"));
    EXPECT_EQ(keys.size(), 3);
    for (const CFType &k : keys)
        EXPECT_FALSE(k.stringValue().isEmpty());
}

// --- property lists -----------------------------------------------------

CFType sampleTree()
{
    CFType dict = CFType::makeDictionary();
    dict.set(CFType::fromString(QStringLiteral("Status")), CFType::fromString(QStringLiteral("Acknowledged ✓")));
    dict.set(CFType::fromString(QStringLiteral("Size")), CFType::fromInt64(kFiveBillion));
    dict.set(CFType::fromString(QStringLiteral("Negative")), CFType::fromInt32(-3));
    dict.set(CFType::fromString(QStringLiteral("Ratio")), CFType::fromFloat64(0.125));
    dict.set(CFType::fromString(QStringLiteral("On")), CFType::fromBool(true));
    dict.set(CFType::fromString(QStringLiteral("Bytes")), CFType::fromData(QByteArray("\x00\x01\x02", 3)));
    dict.set(CFType::fromString(QStringLiteral("When")),
             CFType::fromDateTime(QDateTime(QDate(2013, 5, 6), QTime(7, 8, 9), Qt::LocalTime)));
    CFType sources = CFType::makeArray();
    sources.append(CFType::fromString(QStringLiteral("UserDatabases")));
    sources.append(CFType::fromString(QStringLiteral("")));
    dict.set(CFType::fromString(QStringLiteral("Sources")), sources);
    return dict;
}

void expectSampleTree(const CFType &v)
{
    ASSERT_TRUE(v.isDictionary());
    EXPECT_EQ(v.dictionaryCount(), 8);
    EXPECT_EQ(v.value(QStringLiteral("Status")).stringValue(), QStringLiteral("Acknowledged ✓"));
    EXPECT_EQ(v.value(QStringLiteral("Size")).toLongLong(), kFiveBillion);
    EXPECT_EQ(v.value(QStringLiteral("Negative")).toInt(), -3);
    EXPECT_EQ(v.value(QStringLiteral("Ratio")).toDouble(), 0.125);
    EXPECT_TRUE(v.value(QStringLiteral("On")).toBool(false));
    EXPECT_EQ(v.value(QStringLiteral("Bytes")).dataValue(), QByteArray("\x00\x01\x02", 3));
    EXPECT_EQ(v.value(QStringLiteral("When")).dateValue(nullptr),
              QDateTime(QDate(2013, 5, 6), QTime(7, 8, 9), Qt::LocalTime));
    const CFType sources = v.value(QStringLiteral("Sources"));
    ASSERT_EQ(sources.arrayCount(), 2);
    EXPECT_EQ(sources.item(0).stringValue(), QStringLiteral("UserDatabases"));
    EXPECT_TRUE(sources.item(1).isString());
}

TEST_F(CFTypeTest, PropertyListsRoundTripInBothFormats)
{
    const CFType tree = sampleTree();
    const struct
    {
        int format;
        QByteArray start;
    } cases[] = {{kCFPropertyListFormatXml, "<?xml"}, {kCFPropertyListFormatBinary, "bplist00"}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.format);
        const CFType data = CFType::createPropertyListData(tree, c.format);
        ASSERT_TRUE(data.isData());
        const QByteArray bytes = CFType::toPropertyListData(tree, c.format);
        EXPECT_TRUE(bytes.startsWith(c.start)) << bytes.left(40).toStdString();
        expectSampleTree(CFType::fromPropertyListData(bytes));
    }
    EXPECT_TRUE(CFType::toPropertyListData(tree, 300).isEmpty());
}

TEST_F(CFTypeTest, DeepCopyIsEqualAndIndependent)
{
    CFType tree = sampleTree();
    const CFType copy = CFType::deepCopy(tree);
    EXPECT_NE(copy.ref(), tree.ref());
    expectSampleTree(copy);
    tree.set(CFType::fromString(QStringLiteral("Later")), CFType::fromInt32(1));
    EXPECT_EQ(copy.dictionaryCount(), 8);
}

TEST_F(CFTypeTest, ValuesWithoutPropertyListFormWriteNothing)
{
    CFType numberKeyed = CFType::makeDictionary();
    numberKeyed.set(CFType::fromInt32(1), CFType::fromInt32(2));
    CFType nested = CFType::makeArray();
    nested.append(numberKeyed);

    // A property list holds no text with U+0000.
    const QString withNul = QStringLiteral("a") + QChar(u'\0') + "b";
    CFType nulKeyed = CFType::makeDictionary();
    nulKeyed.set(CFType::fromString(withNul), CFType::fromInt32(2));
    CFType nulValue = CFType::makeDictionary();
    nulValue.set(CFType::fromString("k"), CFType::fromString(withNul));

    for (const CFType &v : {CFType(), numberKeyed, nested, CFType::fromString(withNul), nulKeyed, nulValue}) {
        EXPECT_EQ(CFType::createPropertyListData(v, kCFPropertyListFormatXml).ref(), nullptr);
        EXPECT_TRUE(CFType::toPropertyListData(v, kCFPropertyListFormatBinary).isEmpty());
        EXPECT_EQ(CFType::deepCopy(v).ref(), nullptr);
    }
}

TEST_F(CFTypeTest, BytesThatDoNotParseGiveAnEmptyValue)
{
    const QByteArray binary = CFType::toPropertyListData(sampleTree(), kCFPropertyListFormatBinary);
    QByteArray deepXml = "<?xml version=\"1.0\"?><plist version=\"1.0\">";
    for (int i = 0; i < 2000; ++i)
        deepXml += "<array>";
    for (int i = 0; i < 2000; ++i)
        deepXml += "</array>";
    deepXml += "</plist>";
    QByteArray badOffsets = binary;
    // The trailer's offset-table position now points past the end.
    for (int i = badOffsets.size() - 8; i < badOffsets.size(); ++i)
        badOffsets[i] = char(0x7f);

    const struct
    {
        const char *name;
        QByteArray bytes;
    } cases[] = {
        {"empty", QByteArray()},
        {"text", QByteArray("not a property list")},
        {"binary magic only", QByteArray("bplist00")},
        {"binary cut in half", binary.left(binary.size() / 2)},
        {"binary without its last byte", binary.left(binary.size() - 1)},
        {"binary offset table outside", badOffsets},
        {"xml unterminated", QByteArray("<?xml version=\"1.0\"?><plist><dict><key>a</key>")},
        {"xml nested too deep", deepXml},
        // Texts the property-list library would hand out differently by path
        // (or abort on): a NUL inside, bytes that are no UTF-8, lone surrogates.
        {"binary string with a NUL", [] {
             BplistBuilder b;
             return b.build(b.addDict({b.addAscii("k")}, {b.addAscii(QByteArray("\xc3\xa9\0bbbb", 7))}));
         }()},
        {"binary key with a NUL", [] {
             BplistBuilder b;
             return b.build(b.addDict({b.addAscii(QByteArray("k\0z", 3))}, {b.addAscii("v")}));
         }()},
        {"binary key with a byte above 127", [] {
             BplistBuilder b;
             return b.build(b.addDict({b.addAscii("Encr\xbcpted")}, {b.addBool(true)}));
         }()},
        {"binary UTF-16 with a lone surrogate", [] {
             BplistBuilder b;
             return b.build(b.addRaw(QByteArray("\x61\xd8\x00", 3)));
         }()},
        {"xml key with a NUL",
         QByteArray("<?xml version=\"1.0\"?><plist><dict><key>k") + QByteArray(1, '\0')
             + "z</key><true/></dict></plist>"},
        {"xml string that is no UTF-8", QByteArray("<?xml version=\"1.0\"?><plist><string>\xff</string></plist>")},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(CFType::fromPropertyListData(c.bytes).ref(), nullptr);
    }
}

TEST_F(CFTypeTest, PropertyListFilesAreReadWithinTheLimit)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString good = dir.filePath(QStringLiteral("good.plist"));
    const QString huge = dir.filePath(QStringLiteral("huge.plist"));
    {
        QFile f(good);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(CFType::toPropertyListData(sampleTree(), kCFPropertyListFormatXml));
    }
    {
        // Sparse: its size is past the limit without the bytes on disk.
        QFile f(huge);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(CFType::toPropertyListData(sampleTree(), kCFPropertyListFormatXml));
        ASSERT_TRUE(f.resize(CFType::kMaxPropertyListFileSize + 1));
    }
    expectSampleTree(CFType::fromPropertyListFile(good));
    EXPECT_EQ(CFType::fromPropertyListFile(huge).ref(), nullptr);
    EXPECT_EQ(CFType::fromPropertyListFile(dir.filePath(QStringLiteral("missing.plist"))).ref(), nullptr);
    EXPECT_EQ(CFType::fromPropertyListFile(dir.path()).ref(), nullptr);
}

// --- without the library ------------------------------------------------

TEST(CFTypeWithoutLibraryTest, MakersGiveEmptyValuesAndReadersDefaults)
{
    ASSERT_FALSE(mobiledevice_frameworks_loaded());
    const CFType values[] = {CFType::fromInt32(1), CFType::fromBool(true), CFType::fromString(QStringLiteral("x")),
                             CFType::makeDictionary(), CFType::makeArray(),
                             CFType::fromPropertyListData(QByteArray("<plist><true/></plist>"))};
    for (const CFType &v : values) {
        EXPECT_EQ(v.ref(), nullptr);
        EXPECT_FALSE(v.isNumber() || v.isBool() || v.isString() || v.isDictionary() || v.isArray());
        EXPECT_EQ(v.toInt(9), 9);
        EXPECT_TRUE(v.toString().isEmpty());
    }
    // A reference of unknown origin is never looked into without the library.
    int notAValue = 0;
    const CFType foreign(&notAValue, true);
    EXPECT_FALSE(foreign.isString());
    EXPECT_EQ(foreign.typeId(), 0u);
    EXPECT_TRUE(foreign.stringValue().isEmpty());
}

} // namespace
