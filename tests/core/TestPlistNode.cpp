#include <QDateTime>
#include <QElapsedTimer>

#include <gtest/gtest.h>

#include <functional>
#include <limits>

#include "BplistBuilder.h"
#include "PlistBounds.h"
#include "PlistNode.h"

namespace
{

const QByteArray kXmlHead = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                            "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
                            "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
                            "<plist version=\"1.0\">\n";

QByteArray xmlPlist(const QByteArray &body)
{
    return kXmlHead + body + "\n</plist>\n";
}

// One of each kind of value, nested.
const QByteArray kSample = xmlPlist(
    "<dict>\n"
    "  <key>Name</key><string>Zoë's iPhone</string>\n"
    "  <key>Encrypted</key><true/>\n"
    "  <key>Count</key><integer>4294967301</integer>\n"
    "  <key>Ratio</key><real>0.25</real>\n"
    "  <key>Blob</key><data>AAEC/w==</data>\n"
    "  <key>Date</key><date>2013-05-06T07:08:09Z</date>\n"
    "  <key>List</key><array><string>a</string><integer>2</integer><dict><key>deep</key><false/></dict></array>\n"
    "</dict>");

// Reads a byte of the node from instrumented code: the library is not built
// with the address sanitizer, so only a read from here reports a node whose
// memory has been freed.
void expectAlive(const PlistNode &n)
{
    const volatile char *p = static_cast<const volatile char *>(n.node());
    ASSERT_NE(p, nullptr);
    (void)*p;
}

QDateTime utcMs(int y, int mo, int d, int h, int mi, int s, int ms)
{
    return QDateTime(QDate(y, mo, d), QTime(h, mi, s, ms), Qt::UTC);
}

TEST(PlistNodeParse, BinaryOnlyFromNineBytesThatBeginWithTheMagic)
{
    BplistBuilder b;
    const QByteArray binary = b.build(b.addAscii("hi"));
    QByteArray otherVersion = binary;
    otherVersion[7] = '1';

    struct Case {
        const char *name;
        QByteArray bytes;
        bool parses;
    };
    const Case cases[] = {
        {"empty", "", false},
        {"the magic alone (8 bytes) is no binary list", "bplist00", false},
        {"9 bytes of broken binary list", "bplist00x", false},
        {"a binary list", binary, true},
        {"another version goes to the XML parser", otherVersion, false},
        {"an XML list", xmlPlist("<string>hi</string>"), true},
        {"text that is no list", "hello, world", false},
        {"unterminated XML", kXmlHead + "<array><string>hi</string>", false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const PlistNode n = PlistNode::fromData(c.bytes, true);
        EXPECT_EQ(!n.isNull(), c.parses);
        if (c.parses) {
            EXPECT_TRUE(n.isString());
            EXPECT_EQ(n.toString(), "hi");
        } else {
            EXPECT_EQ(n.node(), nullptr);
            EXPECT_EQ(n.toString(), "");
            EXPECT_FALSE(n.toBool());
            EXPECT_TRUE(n.toXml().isEmpty());
            EXPECT_TRUE(n.toBinary().isEmpty());
        }
    }
}

TEST(PlistNodeDate, BinaryDatesKeepTheirMilliseconds)
{
    struct Case {
        double secs;
        QDateTime expected;
    };
    const Case cases[] = {
        {0.0, utcMs(2001, 1, 1, 0, 0, 0, 0)},
        {1.5, utcMs(2001, 1, 1, 0, 0, 1, 500)},
        {100.123, utcMs(2001, 1, 1, 0, 1, 40, 123)},
        {0.999, utcMs(2001, 1, 1, 0, 0, 0, 999)},
        {389779689.0, utcMs(2013, 5, 9, 8, 8, 9, 0)},
        {389779689.25, utcMs(2013, 5, 9, 8, 8, 9, 250)},
        // Before 2001 the fraction counts backwards too.
        {-1.5, utcMs(2000, 12, 31, 23, 59, 58, 500)},
        {-0.25, utcMs(2000, 12, 31, 23, 59, 59, 750)},
        {-86400.0, utcMs(2000, 12, 31, 0, 0, 0, 0)},
        // Far outside what the library's own getter can give (int32 seconds).
        {63113904000.0, utcMs(4001, 1, 1, 0, 0, 0, 0)},
        {-2209075200.5, utcMs(1930, 12, 31, 23, 59, 59, 500)},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.secs);
        BplistBuilder b;
        const PlistNode n = PlistNode::fromData(b.build(b.addDate(c.secs)), true);
        ASSERT_TRUE(n.isDate());
        const QDateTime got = n.toDateTime();
        EXPECT_EQ(got.timeSpec(), Qt::LocalTime);
        EXPECT_EQ(got.toMSecsSinceEpoch(), c.expected.toMSecsSinceEpoch()) << got.toUTC().toString(Qt::ISODateWithMs).toStdString();
    }
}

TEST(PlistNodeDate, WholeSecondsConvertExactlyBothWays)
{
    struct Case {
        QDateTime when;
        int32_t storedSecs;
    };
    const Case cases[] = {
        {utcMs(2013, 5, 9, 8, 8, 9, 0), 389779689},
        {utcMs(2001, 1, 1, 0, 0, 0, 0), 0},
        {utcMs(2000, 1, 1, 0, 0, 0, 0), -31622400},
        // Milliseconds are not kept on the way in.
        {utcMs(2013, 5, 9, 8, 8, 9, 999), 389779689},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.when.toString(Qt::ISODateWithMs).toStdString());
        const PlistNode n = PlistNode::fromDateTime(c.when, true);
        ASSERT_TRUE(n.isDate());
        int32_t secs = -1, usecs = -1;
        plist_get_date_val(n.node(), &secs, &usecs);
        EXPECT_EQ(secs, c.storedSecs);
        EXPECT_EQ(usecs, 0);
        EXPECT_EQ(n.toDateTime().toSecsSinceEpoch(), qint64(c.storedSecs) + 978307200);
        // Through a binary list and back.
        EXPECT_EQ(PlistNode::fromData(n.toBinary(), true).toDateTime(), n.toDateTime());
    }
}

TEST(PlistNodeDate, DatesBeyondAnyCalendarReadAsNoDate)
{
    const double cases[] = {1e28, -1e28, std::numeric_limits<double>::infinity(),
                            std::numeric_limits<double>::quiet_NaN()};
    for (double secs : cases) {
        SCOPED_TRACE(secs);
        BplistBuilder b;
        const PlistNode n = PlistNode::fromData(b.build(b.addDate(secs)), true);
        ASSERT_TRUE(n.isDate());
        EXPECT_FALSE(n.toDateTime().isValid());
    }
}

TEST(PlistNodeDate, DatesAPropertyListCannotHoldGiveNoNode)
{
    EXPECT_TRUE(PlistNode::fromDateTime(QDateTime(), true).isNull());
    EXPECT_TRUE(PlistNode::fromDateTime(utcMs(2100, 1, 1, 0, 0, 0, 0), true).isNull());
    EXPECT_TRUE(PlistNode::fromDateTime(utcMs(1900, 1, 1, 0, 0, 0, 0), true).isNull());
}

TEST(PlistNodeAccess, LookUpsOnTheWrongTypeGiveNullNodes)
{
    const PlistNode root = PlistNode::fromData(kSample, true);
    ASSERT_TRUE(root.isDict());

    struct Case {
        const char *name;
        std::function<PlistNode()> lookUp;
    };
    const Case cases[] = {
        {"missing key", [&] { return root.dictItem("NoSuchKey"); }},
        {"dictItem on a string", [&] { return root.dictItem("Name").dictItem("x"); }},
        {"dictItem on an array", [&] { return root.dictItem("List").dictItem("a"); }},
        {"dictItem on nothing", [&] { return PlistNode().dictItem("Name"); }},
        {"dictItem on a failed parse", [&] { return PlistNode::fromData("junk", true).dictItem("Name"); }},
        {"arrayItem on a dictionary", [&] { return root.arrayItem(0); }},
        {"arrayItem past the end", [&] { return root.dictItem("List").arrayItem(3); }},
        {"negative index", [&] { return root.dictItem("List").arrayItem(-1); }},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const PlistNode n = c.lookUp();
        EXPECT_TRUE(n.isNull());
        EXPECT_EQ(n.node(), nullptr);
        EXPECT_EQ(n.toString(), "");
        EXPECT_FALSE(n.toString().isNull());
        EXPECT_FALSE(n.toBool());
        EXPECT_EQ(n.toUInt(), 0u);
        EXPECT_TRUE(n.toByteArray().isNull());
        EXPECT_FALSE(n.toDateTime().isValid());
        EXPECT_EQ(n.arraySize(), 0);
        EXPECT_EQ(n.dictSize(), 0);
        EXPECT_TRUE(n.toMap().isEmpty());
    }
}

TEST(PlistNodeAccess, GettersReadTheirOwnTypeOnly)
{
    const PlistNode root = PlistNode::fromData(kSample, true);
    EXPECT_EQ(root.dictSize(), 7);
    EXPECT_EQ(root.dictItem("Name").toString(), QStringLiteral("Zoë's iPhone"));
    EXPECT_TRUE(root.dictItem("Encrypted").toBool());
    EXPECT_EQ(root.dictItem("Count").toUInt(), Q_UINT64_C(4294967301));
    EXPECT_DOUBLE_EQ(root.dictItem("Ratio").toReal(), 0.25);
    EXPECT_EQ(root.dictItem("Blob").toByteArray(), QByteArray("\x00\x01\x02\xff", 4));
    EXPECT_EQ(root.dictItem("Date").toDateTime(), utcMs(2013, 5, 6, 7, 8, 9, 0));
    EXPECT_EQ(root.dictItem("List").arraySize(), 3);
    EXPECT_FALSE(root.dictItem("List").arrayItem(2).dictItem("deep").toBool());
    EXPECT_TRUE(root.dictItem("List").arrayItem(2).dictItem("deep").isBool());

    // Each getter refuses every other type.
    EXPECT_EQ(root.dictItem("Count").toString(), "");
    EXPECT_FALSE(root.dictItem("Name").toBool());
    EXPECT_EQ(root.dictItem("Name").toUInt(), 0u);
    EXPECT_EQ(root.dictItem("Count").toReal(), 0.0);
    EXPECT_TRUE(root.dictItem("Name").toByteArray().isNull());
    EXPECT_FALSE(root.dictItem("Count").toDateTime().isValid());
    EXPECT_EQ(root.dictItem("Name").keyText(), "");

    // An empty data value is empty, not missing.
    const PlistNode empty = PlistNode::fromData(xmlPlist("<data></data>"), true);
    ASSERT_TRUE(empty.isData());
    EXPECT_FALSE(empty.toByteArray().isNull());
    EXPECT_TRUE(empty.toByteArray().isEmpty());
}

TEST(PlistNodeAccess, MakersGiveTheirTypes)
{
    struct Case {
        const char *name;
        PlistNode node;
        std::function<bool(const PlistNode &)> check;
    };
    const Case cases[] = {
        {"bool", PlistNode::fromBool(true), [](const PlistNode &n) { return n.isBool() && n.toBool(); }},
        {"uint", PlistNode::fromUInt(Q_UINT64_C(1) << 40),
         [](const PlistNode &n) { return n.isUInt() && n.toUInt() == Q_UINT64_C(1) << 40; }},
        {"real", PlistNode::fromReal(-2.5), [](const PlistNode &n) { return n.isReal() && n.toReal() == -2.5; }},
        {"string", PlistNode::fromString(QStringLiteral("ü")),
         [](const PlistNode &n) { return n.isString() && n.toString() == QStringLiteral("ü"); }},
        {"data", PlistNode::fromByteArray(QByteArray("a\0b", 3)),
         [](const PlistNode &n) { return n.isData() && n.toByteArray() == QByteArray("a\0b", 3); }},
        {"key", PlistNode::newKey(QStringLiteral("ké")),
         [](const PlistNode &n) { return n.isKey() && n.keyText() == QStringLiteral("ké") && n.toString() == ""; }},
        {"array", PlistNode::newArray(), [](const PlistNode &n) { return n.isArray() && n.arraySize() == 0; }},
        {"dict", PlistNode::newDict(), [](const PlistNode &n) { return n.isDict() && n.dictSize() == 0; }},
        {"null", PlistNode::makeNull(), [](const PlistNode &n) { return n.isNull() && !n.isDict(); }},
        {"default", PlistNode(), [](const PlistNode &n) { return n.isNull() && n.node() == nullptr; }},
    };
    for (const Case &c : cases)
        EXPECT_TRUE(c.check(c.node)) << c.name;
}

TEST(PlistNodeSerialise, RoundTripsBetweenXmlAndBinary)
{
    const PlistNode fromXml = PlistNode::fromData(kSample, true);
    ASSERT_TRUE(fromXml.isDict());
    const QByteArray binary = fromXml.toBinary();
    ASSERT_TRUE(binary.startsWith("bplist00"));

    const PlistNode fromBinary = PlistNode::fromData(binary, true);
    ASSERT_TRUE(fromBinary.isDict());
    EXPECT_EQ(fromBinary.toXml(), fromXml.toXml());
    EXPECT_EQ(fromBinary.dictItem("Name").toString(), QStringLiteral("Zoë's iPhone"));
    EXPECT_EQ(fromBinary.dictItem("Blob").toByteArray(), QByteArray("\x00\x01\x02\xff", 4));

    const PlistNode again = PlistNode::fromData(fromBinary.toXml().toUtf8(), true);
    EXPECT_EQ(again.toBinary(), binary);

    // A single value serialises as well.
    EXPECT_EQ(PlistNode::fromData(PlistNode::fromString("x").toBinary(), true).toString(), "x");
    EXPECT_EQ(PlistNode::fromData(PlistNode::fromString("x").toXml().toUtf8(), true).toString(), "x");
}

TEST(PlistNodeLifetime, ValuesTakenOutOfADictionaryOutliveIt)
{
    PlistNode name;
    PlistNode list;
    PlistNode deep;
    QMap<QString, PlistNode> map;
    {
        const PlistNode root = PlistNode::fromData(kSample, true);
        name = root.dictItem("Name");
        list = root.dictItem("List");
        deep = list.arrayItem(2).dictItem("deep");
        map = root.toMap();
    }
    expectAlive(name);
    expectAlive(list);
    expectAlive(deep);
    expectAlive(map.value("List"));
    EXPECT_EQ(name.toString(), QStringLiteral("Zoë's iPhone"));
    EXPECT_EQ(list.arraySize(), 3);
    EXPECT_EQ(list.arrayItem(0).toString(), "a");
    EXPECT_TRUE(deep.isBool());
    ASSERT_EQ(map.size(), 7);
    EXPECT_EQ(map.value("Count").toUInt(), Q_UINT64_C(4294967301));
    EXPECT_EQ(map.value("List").arrayItem(1).toUInt(), 2u);
    // The map's values are trees of their own.
    EXPECT_EQ(plist_get_parent(map.value("List").node()), nullptr);
}

TEST(PlistNodeLifetime, FreeingATreeEmptiesEveryValueOfIt)
{
    PlistNode root = PlistNode::fromData(kSample, true);
    const PlistNode sameTree = root;
    const PlistNode name = root.dictItem("Name");
    root.free();
    EXPECT_TRUE(root.isNull());
    EXPECT_TRUE(sameTree.isNull());
    EXPECT_TRUE(name.isNull());
    EXPECT_EQ(name.node(), nullptr);
    EXPECT_EQ(name.toString(), "");
    root.free();
}

TEST(PlistNodeLifetime, FreeingAViewLeavesItInItsContainer)
{
    const PlistNode root = PlistNode::fromData(kSample, true);
    PlistNode name = root.dictItem("Name");
    name.free();
    EXPECT_TRUE(name.isNull());
    EXPECT_EQ(root.dictItem("Name").toString(), QStringLiteral("Zoë's iPhone"));
    EXPECT_EQ(root.dictSize(), 7);
}

TEST(PlistNodeBuild, DictSetReplacesAnEntryOfTheSameKey)
{
    PlistNode dict = PlistNode::newDict();
    dict.dictSet("a", PlistNode::fromString("one")).dictSet("b", PlistNode::fromUInt(2));
    const PlistNode oldA = dict.dictItem("a");
    EXPECT_EQ(dict.dictSize(), 2);

    dict.dictSet("a", PlistNode::fromString("uno"));
    EXPECT_EQ(dict.dictSize(), 2);
    EXPECT_EQ(dict.dictItem("a").toString(), "uno");
    EXPECT_EQ(dict.dictItem("b").toUInt(), 2u);
    // The replaced entry is gone; a view of it holds nothing rather than
    // freed memory.
    EXPECT_EQ(oldA.node(), nullptr);
    EXPECT_TRUE(oldA.isNull());
    EXPECT_EQ(oldA.toString(), "");
}

TEST(PlistNodeBuild, ANestedDictionaryKeepsWorkingAfterItReplacesAnEntry)
{
    PlistNode root = PlistNode::newDict();
    root.dictSet("inner", PlistNode::newDict());
    PlistNode inner = root.dictItem("inner");
    inner.dictSet("x", PlistNode::fromUInt(1));
    const PlistNode oldX = inner.dictItem("x");
    inner.dictSet("x", PlistNode::fromUInt(2));
    inner.dictSet("y", PlistNode::fromUInt(3));
    EXPECT_EQ(oldX.node(), nullptr);
    EXPECT_EQ(inner.dictSize(), 2);
    EXPECT_EQ(root.dictItem("inner").dictItem("x").toUInt(), 2u);
    EXPECT_EQ(root.dictItem("inner").dictItem("y").toUInt(), 3u);
}

TEST(PlistNodeBuild, ANodeOfAnotherTreeGoesInAsACopy)
{
    PlistNode target = PlistNode::newArray();
    {
        const PlistNode source = PlistNode::fromData(kSample, true);
        target.arrayAppend(source.dictItem("Name"));
        target.arrayAppend(source.dictItem("List"));
        PlistNode dict = PlistNode::newDict();
        dict.dictSet("n", source.dictItem("Name"));
        target.arrayAppend(dict);
        // The source is intact and frees only what is its own.
        EXPECT_EQ(source.dictItem("Name").toString(), QStringLiteral("Zoë's iPhone"));
        EXPECT_EQ(source.dictItem("List").arraySize(), 3);
    }
    ASSERT_EQ(target.arraySize(), 3);
    expectAlive(target.arrayItem(0));
    expectAlive(target.arrayItem(1).arrayItem(0));
    EXPECT_EQ(target.arrayItem(0).toString(), QStringLiteral("Zoë's iPhone"));
    EXPECT_EQ(target.arrayItem(1).arrayItem(0).toString(), "a");
    EXPECT_EQ(target.arrayItem(2).dictItem("n").toString(), QStringLiteral("Zoë's iPhone"));
}

TEST(PlistNodeBuild, ATreeOfItsOwnIsTakenOverOnce)
{
    PlistNode first = PlistNode::newArray();
    PlistNode second = PlistNode::newArray();
    const PlistNode item = PlistNode::fromString("x");
    first.arrayAppend(item);
    // Now the item lives in the first array; the second gets a copy, and so
    // does the first when it is appended again.
    second.arrayAppend(item);
    first.arrayAppend(item);
    EXPECT_EQ(first.arraySize(), 2);
    EXPECT_EQ(second.arraySize(), 1);
    EXPECT_NE(first.arrayItem(0).node(), first.arrayItem(1).node());
    EXPECT_NE(first.arrayItem(0).node(), second.arrayItem(0).node());
    EXPECT_EQ(plist_get_parent(item.node()), first.node());

    // The item is a view into the first array now and keeps it alive.
    first = PlistNode();
    expectAlive(item);
    EXPECT_EQ(item.toString(), "x");
}

TEST(PlistNodeBuild, AContainerPutIntoItselfGoesInAsACopy)
{
    PlistNode dict = PlistNode::newDict();
    dict.dictSet("a", PlistNode::fromUInt(1));
    dict.dictSet("self", dict);
    EXPECT_EQ(dict.dictSize(), 2);
    EXPECT_EQ(dict.dictItem("self").dictItem("a").toUInt(), 1u);
    EXPECT_EQ(dict.dictItem("self").dictSize(), 1);

    PlistNode inner = dict.dictItem("self");
    inner.dictSet("outer", dict);
    EXPECT_EQ(dict.dictItem("self").dictItem("outer").dictSize(), 2);

    // An entry set again under its own key.
    dict.dictSet("a", dict.dictItem("a"));
    EXPECT_EQ(dict.dictItem("a").toUInt(), 1u);

    PlistNode array = PlistNode::newArray();
    array.arrayAppend(PlistNode::fromUInt(7));
    array.arrayAppend(array);
    EXPECT_EQ(array.arraySize(), 2);
    EXPECT_EQ(array.arrayItem(1).arrayItem(0).toUInt(), 7u);
}

TEST(PlistNodeBuild, ItemsWithoutANodeAndContainersOfAnotherTypeChangeNothing)
{
    PlistNode array = PlistNode::newArray();
    array.arrayAppend(PlistNode());
    array.arrayAppend(PlistNode::fromData("junk", true));
    EXPECT_EQ(array.arraySize(), 0);

    PlistNode text = PlistNode::fromString("t");
    const PlistNode item = PlistNode::fromUInt(1);
    text.arrayAppend(item);
    text.dictSet("k", item);
    EXPECT_EQ(text.toString(), "t");
    // The item was not taken and still owns itself.
    EXPECT_EQ(plist_get_parent(item.node()), nullptr);
    EXPECT_EQ(item.toUInt(), 1u);
}

TEST(PlistNodeBuild, CopiesAreIndependent)
{
    const PlistNode root = PlistNode::fromData(kSample, true);
    PlistNode copy = root.copy(true);
    copy.dictSet("Name", PlistNode::fromString("other"));
    EXPECT_EQ(root.dictItem("Name").toString(), QStringLiteral("Zoë's iPhone"));
    EXPECT_EQ(copy.dictItem("Name").toString(), "other");
    EXPECT_TRUE(PlistNode().copy(true).isNull());
}

// Binary lists whose tree would be far larger or deeper than the file.
TEST(PlistNodeBounds, BinaryListsBeyondTheLimitsAreRefused)
{
    struct Case {
        const char *name;
        std::function<QByteArray()> make;
        bool parses;
    };
    auto nested = [](int depth) {
        BplistBuilder b;
        int id = b.addArray({});
        for (int i = 1; i < depth; ++i)
            id = b.addArray({id});
        return b.build(id);
    };
    const Case cases[] = {
        {"nesting at the limit", [&] { return nested(kPlistMaxNesting); }, true},
        {"nesting past the limit", [&] { return nested(kPlistMaxNesting + 1); }, false},
        {"nesting that would exhaust the stack", [&] { return nested(200000); }, false},
        {"a few hundred bytes that expand to 2^40 nodes",
         [] {
             BplistBuilder b;
             int id = b.addArray({});
             for (int i = 0; i < 40; ++i)
                 id = b.addArray({id, id});
             return b.build(id);
         },
         false},
        {"one key shared by many dictionaries",
         [] {
             BplistBuilder b;
             const int key = b.addAscii("Path");
             const int value = b.addInt(1);
             QList<int> dicts;
             for (int i = 0; i < 5000; ++i)
                 dicts << b.addDict({key}, {value});
             return b.build(b.addArray(dicts));
         },
         true},
        {"large data referenced again and again",
         [] {
             BplistBuilder b;
             const int blob = b.addData(QByteArray(1 << 20, 'z'));
             QList<int> refs(200, blob);
             return b.build(b.addArray(refs));
         },
         false},
        {"an array that holds itself",
         [] {
             BplistBuilder b;
             b.addArray({0});
             return b.build(0);
         },
         false},
        {"a reference past the last object",
         [] {
             BplistBuilder b;
             const int leaf = b.addBool(true);
             return b.build(b.addArray({leaf, 9}));
         },
         false},
        {"a count larger than the file",
         [] {
             BplistBuilder b;
             const int leaf = b.addBool(true);
             QByteArray huge("\xAF\x13", 2);
             huge += QByteArray("\x40\x00\x00\x00\x00\x00\x00\x01", 8);
             huge += QByteArray(4, '\0') + char(leaf);
             return b.build(b.addRaw(huge));
         },
         false},
        {"a string longer than the file",
         [] {
             BplistBuilder b;
             return b.build(b.addRaw(QByteArray("\x5F\x13\x7F\xFF\xFF\xFF\xFF\xFF\xFF\xFF", 10)));
         },
         false},
        {"more objects than the offset table holds",
         [] {
             BplistBuilder b;
             const int id = b.addBool(true);
             return b.build(id, quint64(1) << 61, 9);
         },
         false},
        {"the offset table outside the file",
         [] {
             BplistBuilder b;
             const int id = b.addBool(true);
             return b.build(id, 1, quint64(1) << 40);
         },
         false},
        {"top object past the last one",
         [] {
             BplistBuilder b;
             b.addBool(true);
             return b.build(5);
         },
         false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const QByteArray bytes = c.make();
        QElapsedTimer timer;
        timer.start();
        const PlistNode n = PlistNode::fromData(bytes, true);
        EXPECT_EQ(!n.isNull(), c.parses);
        EXPECT_LT(timer.elapsed(), 20000);
    }
}

TEST(PlistNodeBounds, XmlNestingBeyondTheLimitIsRefused)
{
    auto nested = [](int depth, const QByteArray &inside = {}) {
        // The <plist> element counts as one level.
        return kXmlHead + QByteArray("<array>").repeated(depth - 1) + inside + QByteArray("</array>").repeated(depth - 1)
            + "</plist>";
    };
    const QByteArray manyInComments = QByteArray("<!-- <array> -->").repeated(2000)
        + QByteArray("<string><![CDATA[<array><dict>]]></string>").repeated(2000)
        + QByteArray("<array/><dict />").repeated(2000);
    struct Case {
        const char *name;
        QByteArray bytes;
        bool parses;
    };
    const Case cases[] = {
        {"nesting at the limit", nested(kPlistMaxNesting), true},
        {"nesting past the limit", nested(kPlistMaxNesting + 1), false},
        {"nesting that would exhaust the stack", nested(1000000), false},
        {"comments, sections and empty elements do not nest", nested(3, manyInComments), true},
        {"a quoted '>' stays inside its tag",
         kXmlHead + "<array a=\"x>y\"><string>q</string></array></plist>", true},
        {"an internal subset in the document type",
         "<?xml version=\"1.0\"?><!DOCTYPE plist [ <!ENTITY e \"v\"> ]><plist><string>s</string></plist>", true},
        {"an unterminated comment", kXmlHead + "<array><!-- <array>", false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(!PlistNode::fromData(c.bytes, true).isNull(), c.parses);
    }
}

// A UTF-16 string object of a binary list: marker, count, big-endian units.
QByteArray utf16Object(const QString &text)
{
    QByteArray out;
    const qsizetype n = text.size();
    if (n < 15) {
        out.append(char(0x60 | n));
    } else {
        out.append(char(0x6F));
        out.append(char(0x11));
        out.append(char((n >> 8) & 0xFF));
        out.append(char(n & 0xFF));
    }
    for (QChar c : text) {
        out.append(char(c.unicode() >> 8));
        out.append(char(c.unicode() & 0xFF));
    }
    return out;
}

QByteArray binaryDict(const QByteArray &keyObject, const QByteArray &valueObject)
{
    BplistBuilder b;
    const int key = b.addRaw(keyObject);
    const int value = b.addRaw(valueObject);
    return b.build(b.addDict({key}, {value}));
}

// A short ASCII string object: marker with the count, then the bytes.
QByteArray asciiObject(const QByteArray &text)
{
    return QByteArray(1, char(0x50 | text.size())) + text;
}

// A string or key holding U+0000 cannot be read the same way by every path
// (the library's copies stop at the NUL and keep the full length; its key and
// string getters abort on the difference), and XML cannot hold it at all, so
// such a list is refused whichever way it arrives. So is a text that is not
// UTF-8, or a dictionary with a key twice: the map and the look-ups would
// disagree on them.
TEST(PlistNodeNul, ListsWhoseTextsReadDifferentlyByPathAreRefused)
{
    const QString longValue = QStringLiteral("é") + QChar(u'\0') + QString(4000, u'b');
    struct Case {
        const char *name;
        QByteArray bytes;
        bool parses;
    };
    const Case cases[] = {
        {"binary: UTF-16 value with a NUL and a long tail",
         binaryDict(asciiObject("k"), utf16Object(longValue)), false},
        {"binary: ASCII value with a NUL", binaryDict(asciiObject("k"), asciiObject(QByteArray("a\0b", 3))), false},
        {"binary: ASCII key with a NUL", binaryDict(asciiObject(QByteArray("k\0z", 3)), asciiObject("v")), false},
        {"binary: UTF-16 key with a NUL",
         binaryDict(utf16Object(QStringLiteral("é") + QChar(u'\0') + "z"), asciiObject("v")), false},
        {"binary: a NUL alone as the whole list", [] {
             BplistBuilder b;
             return b.build(b.addAscii(QByteArray(1, '\0')));
         }(), false},
        {"binary: UTF-16 text with a zero byte that is no NUL",
         binaryDict(asciiObject("k"), utf16Object(QStringLiteral("\u0100\u0001"))), true},
        {"binary: data may hold zero bytes", [] {
             BplistBuilder b;
             return b.build(b.addDict({b.addAscii("k")}, {b.addData(QByteArray(16, '\0'))}));
         }(), true},
        {"XML: raw NUL in a string", xmlPlist(QByteArray("<dict><key>k</key><string>a\0b</string></dict>", 45)), false},
        {"XML: raw NUL in a key", xmlPlist(QByteArray("<dict><key>k\0z</key><string>v</string></dict>", 45)), false},
        {"XML: NUL as a character reference", xmlPlist("<dict><key>k</key><string>a&#0;b</string></dict>"), false},
        {"XML: NUL bytes after the document", xmlPlist("<dict><key>k</key><string>v</string></dict>") + QByteArray(2, '\0'),
         true},
        // Texts that would read differently through the map and a look-up.
        {"binary: an ASCII key with a byte above 127",
         binaryDict(asciiObject("Encr\xbcpted"), asciiObject("v")), false},
        {"binary: an ASCII value with a byte above 127", binaryDict(asciiObject("k"), asciiObject("\xe9")), false},
        {"binary: an ASCII value holding UTF-8 text", binaryDict(asciiObject("k"), asciiObject("\xc3\xa9")), true},
        {"binary: UTF-16 with a lone surrogate",
         binaryDict(asciiObject("k"), utf16Object(QString(QChar(0xD800)) + "x")), false},
        {"binary: UTF-16 with a surrogate pair",
         binaryDict(asciiObject("k"), utf16Object(QString::fromUcs4(U"\U0001F600"))), true},
        {"XML: a key that is no UTF-8", xmlPlist("<dict><key>\xff</key><string>v</string></dict>"), false},
        {"XML: a surrogate as a character reference", xmlPlist("<dict><key>k</key><string>&#xD800;</string></dict>"),
         false},
        {"binary: a key beginning with U+FEFF",
         binaryDict(utf16Object(QString(QChar(0xFEFF)) + "k"), asciiObject("v")), true},
        {"XML: a key beginning with U+FEFF", xmlPlist("<dict><key>\xef\xbb\xbfk</key><string>v</string></dict>"), true},
        // The map keeps the last of two equal keys, a look-up finds the first.
        {"binary: one key twice", [] {
             BplistBuilder b;
             const int key = b.addAscii("k");
             return b.build(b.addDict({key, b.addAscii("k")}, {b.addAscii("first"), b.addInt(2)}));
         }(), false},
        // The XML reader itself keeps only the last, so every path agrees.
        {"XML: one key twice", xmlPlist("<dict><key>k</key><string>a</string><key>k</key><true/></dict>"), true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const PlistNode root = PlistNode::fromData(c.bytes, true);
        EXPECT_EQ(!root.isNull(), c.parses);
        if (!c.parses)
            continue;
        // What is read is the same through the tree, a copy, the map and a
        // node put into another tree.
        const QMap<QString, PlistNode> map = root.toMap();
        ASSERT_EQ(map.size(), 1);
        const QString key = map.firstKey();
        const PlistNode direct = root.dictItem(key);
        PlistNode other = PlistNode::newArray(true);
        other.arrayAppend(direct);
        for (const PlistNode &n : {root.copy(true).dictItem(key), map.first(), other.arrayItem(0)}) {
            EXPECT_EQ(n.toString(), direct.toString());
            EXPECT_EQ(n.toByteArray(), direct.toByteArray());
        }
        EXPECT_EQ(PlistNode::fromData(root.toBinary(), true).toXml(), root.toXml());
    }
}

// Every character of a text is read, a leading U+FEFF too.
TEST(PlistNodeNul, ALeadingByteOrderMarkIsPartOfTheText)
{
    const QString text = QString(QChar(0xFEFF)) + "x";
    const PlistNode root = PlistNode::fromData(binaryDict(utf16Object(text), utf16Object(text)), true);
    ASSERT_TRUE(root.isDict());
    EXPECT_EQ(root.toMap().keys(), QStringList{text});
    EXPECT_EQ(root.dictItem(text).toString(), text);
    EXPECT_EQ(PlistNode::newKey(text).keyText(), text);
}

// The makers and the key look-ups keep to the same rule: a text with U+0000
// never enters a tree.
TEST(PlistNodeNul, TextsWithANulNeverEnterATree)
{
    const QString withNul = QStringLiteral("a") + QChar(u'\0') + "b";
    PlistNode dict = PlistNode::newDict(true);
    dict.dictSet("a", PlistNode::fromString("kept"));
    struct Case {
        const char *name;
        std::function<bool()> holds;
    };
    const Case cases[] = {
        {"fromString gives no node", [&] { return PlistNode::fromString(withNul).isNull(); }},
        {"newKey gives no node", [&] { return PlistNode::newKey(withNul).isNull(); }},
        {"fromString without a NUL still gives a string",
         [&] { return PlistNode::fromString("ab").toString() == "ab"; }},
        {"dictItem of a key with a NUL finds nothing, not the text before it",
         [&] { return dict.dictItem(withNul).isNull() && !dict.dictItem("a").isNull(); }},
        {"dictSet with a key with a NUL changes nothing",
         [&] {
             dict.dictSet(QStringLiteral("a") + QChar(u'\0'), PlistNode::fromString("other"));
             return dict.dictSize() == 1 && dict.dictItem("a").toString() == "kept";
         }},
        {"the map keeps the one key", [&] { return dict.toMap().keys() == QStringList{"a"}; }},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_TRUE(c.holds());
    }
}

} // namespace
