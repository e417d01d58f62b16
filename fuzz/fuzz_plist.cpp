// Property lists as every reader takes them: the value class parses the
// bytes, and every path that reads a tree (getters, views, the map, copies,
// insertion into another tree, both serialisations and their re-reading)
// must agree and stay inside the library's buffers.

#include <QMap>

#include <cstring>

#include "FuzzSupport.h"
#include "PlistNode.h"

namespace
{

// Reads every value once, through each getter, whatever its type.
void readAll(const PlistNode &n)
{
    (void)n.isNull();
    (void)n.toBool();
    (void)n.toUInt();
    (void)n.toReal();
    (void)n.toString();
    (void)n.keyText();
    (void)n.toByteArray();
    (void)n.toDateTime();
    if (n.isString()) {
        uint64_t length = 0;
        const char *text = plist_get_string_ptr(n.node(), &length);
        FUZZ_CHECK(text && strnlen(text, size_t(length)) == size_t(length), QStringLiteral("a string holds a NUL"));
    }
}

// Two values that must read the same.
void expectSame(const PlistNode &a, const PlistNode &b, const char *path)
{
    FUZZ_CHECK(a.toXml() == b.toXml(), QString::fromLatin1(path));
    FUZZ_CHECK(a.toString() == b.toString(), QString::fromLatin1(path));
    FUZZ_CHECK(a.toByteArray() == b.toByteArray(), QString::fromLatin1(path));
}

void walk(const PlistNode &n, int depth)
{
    readAll(n);
    if (n.isArray()) {
        const int size = n.arraySize();
        for (int i = 0; i < size; ++i)
            walk(n.arrayItem(i), depth + 1);
        FUZZ_CHECK(n.arrayItem(size).isNull());
    } else if (n.isDict()) {
        // No list with a key twice is let through, so the map and the
        // look-ups see the same entries.
        const QMap<QString, PlistNode> map = n.toMap();
        FUZZ_CHECK(map.size() == n.dictSize());
        for (auto it = map.begin(); it != map.end(); ++it) {
            const PlistNode entry = n.dictItem(it.key());
            FUZZ_CHECK(!entry.isNull(), it.key());
            expectSame(entry, it.value(), "map entry");
            walk(entry, depth + 1);
        }
    }
    if (depth > 2 || n.isNull())
        return;
    // A copy, and the node put into trees of another owner, read the same.
    expectSame(n, n.copy(true), "copy");
    PlistNode array = PlistNode::newArray(true);
    array.arrayAppend(n);
    expectSame(n, array.arrayItem(0), "array insertion");
    PlistNode dict = PlistNode::newDict(true);
    dict.dictSet(QStringLiteral("k"), n);
    expectSame(n, dict.dictItem(QStringLiteral("k")), "dictionary insertion");
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    fuzzInit(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const PlistNode root = PlistNode::fromData(fuzzBytes(data, size), true);
    if (root.isNull())
        return 0;
    walk(root, 0);

    // What is written reads back as the same tree.
    const QString xml = root.toXml();
    const QByteArray binary = root.toBinary();
    FUZZ_CHECK(!xml.isEmpty() && !binary.isEmpty());
    const PlistNode fromBinary = PlistNode::fromData(binary, true);
    FUZZ_CHECK(!fromBinary.isNull(), QStringLiteral("the binary form does not read back"));
    FUZZ_CHECK(fromBinary.toXml() == xml, QStringLiteral("the binary form reads back as another tree"));
    const PlistNode fromXml = PlistNode::fromData(xml.toUtf8(), true);
    FUZZ_CHECK(!fromXml.isNull(), QStringLiteral("the XML form does not read back"));
    walk(fromXml, 0);
    return 0;
}
