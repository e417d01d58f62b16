#include "PlistBounds.h"

#include <QByteArrayView>
#include <QSet>
#include <QStringDecoder>

#include <cstdlib>
#include <cstring>

#include <algorithm>
#include <vector>

namespace
{

constexpr qint64 kTrailerSize = 32;
constexpr qint64 kHeaderSize = 8;

class BinaryPlist
{
public:
    explicit BinaryPlist(const QByteArray &bytes)
        : m_data(reinterpret_cast<const uchar *>(bytes.constData()))
        , m_size(bytes.size())
    {
    }

    bool check();

private:
    struct Object {
        bool container = false;
        qint64 childrenAt = 0; // offset of the first reference
        quint64 children = 0;  // number of references
        quint64 payload = 0;   // bytes the parser copies for a leaf
    };
    struct Frame {
        quint64 id;
        Object object;
        quint64 next = 0;
        quint64 nodes = 0;
        quint64 payload = 0;
        int height = 0;
    };
    enum State : quint8 { Unseen, Open, Done };

    quint64 be(qint64 at, int width) const
    {
        quint64 v = 0;
        for (int i = 0; i < width; ++i)
            v = (v << 8) | m_data[at + i];
        return v;
    }
    // True when the 'count' characters of 'width' bytes from 'at' hold
    // U+0000, or are UTF-16 with a surrogate out of its pair (which the
    // parser would decode into some other character).
    bool textUnfit(qint64 at, quint64 count, int width) const
    {
        bool wantLow = false;
        for (quint64 i = 0; i < count; ++i) {
            const qint64 c = at + qint64(i) * width;
            const uint unit = width == 1 ? m_data[c] : (uint(m_data[c]) << 8) | m_data[c + 1];
            if (unit == 0)
                return true;
            if (width == 1)
                continue;
            const bool high = unit >= 0xD800 && unit <= 0xDBFF;
            const bool low = unit >= 0xDC00 && unit <= 0xDFFF;
            if (low != wantLow)
                return true;
            wantLow = high;
        }
        return wantLow;
    }
    bool readObject(quint64 id, Object &object) const;
    bool readCount(qint64 at, quint64 &count, qint64 &payloadAt) const;
    bool addChild(Frame &parent, quint64 nodes, quint64 payload, int height, size_t depth) const;

    const uchar *m_data;
    qint64 m_size;
    int m_offsetSize = 0;
    int m_refSize = 0;
    quint64 m_objects = 0;
    qint64 m_table = 0; // the offset table; every object lies before it
    quint64 m_payloadLimit = 0;
};

bool BinaryPlist::readCount(qint64 at, quint64 &count, qint64 &payloadAt) const
{
    const uchar low = m_data[at] & 0x0F;
    if (low != 0x0F) {
        count = low;
        payloadAt = at + 1;
        return true;
    }
    if (at + 2 > m_table)
        return false;
    const uchar marker = m_data[at + 1];
    if ((marker >> 4) != 0x1 || (marker & 0x0F) > 4)
        return false;
    const int width = 1 << (marker & 0x0F);
    if (at + 2 + width > m_table)
        return false;
    if (width == 16) {
        if (be(at + 2, 8) != 0)
            return false;
        count = be(at + 10, 8);
    } else {
        count = be(at + 2, width);
    }
    payloadAt = at + 2 + width;
    return true;
}

bool BinaryPlist::readObject(quint64 id, Object &object) const
{
    const quint64 offset = be(m_table + qint64(id) * m_offsetSize, m_offsetSize);
    if (offset < quint64(kHeaderSize) || offset >= quint64(m_table))
        return false;
    const qint64 at = qint64(offset);
    const uchar type = m_data[at] >> 4;
    quint64 count = 0;
    qint64 payloadAt = 0;
    switch (type) {
    case 0x4: // data
    case 0x5: // ASCII string
    case 0x6: // UTF-16 string
        if (!readCount(at, count, payloadAt))
            return false;
        if (count > quint64(m_table - payloadAt) / (type == 0x6 ? 2 : 1))
            return false;
        if (type != 0x4 && textUnfit(payloadAt, count, type == 0x6 ? 2 : 1))
            return false;
        // UTF-16 text grows by up to half again when it becomes UTF-8.
        object.payload = type == 0x6 ? count * 3 : count;
        return true;
    case 0xA: // array
    case 0xC: // set, read as an array
    case 0xD: { // dictionary: the key references, then the value references
        if (!readCount(at, count, payloadAt))
            return false;
        const quint64 refs = quint64(m_refSize) * (type == 0xD ? 2 : 1);
        if (count > quint64(m_table - payloadAt) / refs)
            return false;
        object.container = true;
        object.childrenAt = payloadAt;
        object.children = type == 0xD ? count * 2 : count;
        return true;
    }
    default:
        return true;
    }
}

bool BinaryPlist::addChild(Frame &parent, quint64 nodes, quint64 payload, int height, size_t depth) const
{
    parent.nodes += nodes;
    parent.payload += payload;
    parent.height = std::max(parent.height, height);
    return parent.nodes <= kPlistMaxNodes && parent.payload <= m_payloadLimit
        && depth + size_t(height) <= size_t(kPlistMaxNesting);
}

bool BinaryPlist::check()
{
    if (m_size < kHeaderSize + kTrailerSize)
        return false;
    const qint64 trailer = m_size - kTrailerSize;
    m_offsetSize = m_data[trailer + 6];
    m_refSize = m_data[trailer + 7];
    m_objects = be(trailer + 8, 8);
    const quint64 top = be(trailer + 16, 8);
    const quint64 table = be(trailer + 24, 8);
    if (m_offsetSize < 1 || m_offsetSize > 8 || m_refSize < 1 || m_refSize > 8)
        return false;
    if (m_objects == 0 || top >= m_objects)
        return false;
    if (table < quint64(kHeaderSize + 1) || table >= quint64(trailer))
        return false;
    m_table = qint64(table);
    if (m_objects > quint64(trailer - m_table) / quint64(m_offsetSize))
        return false;
    m_payloadLimit = (quint64(64) << 20) + 2 * quint64(m_size);

    // One state per object; the offset table bounds their number by the
    // file's size.
    std::vector<quint8> state(m_objects, Unseen);
    std::vector<quint64> doneNodes(m_objects, 0);
    std::vector<quint64> donePayload(m_objects, 0);
    std::vector<quint16> doneHeight(m_objects, 0);

    Object root;
    if (!readObject(top, root))
        return false;
    if (!root.container)
        return root.payload <= m_payloadLimit;

    std::vector<Frame> stack;
    stack.reserve(size_t(kPlistMaxNesting) + 1);
    stack.push_back(Frame{top, root});
    state[top] = Open;
    while (!stack.empty()) {
        Frame &frame = stack.back();
        if (frame.next == frame.object.children) {
            const quint64 nodes = frame.nodes + 1;
            const quint64 payload = frame.payload;
            const int height = frame.height + 1;
            const quint64 id = frame.id;
            state[id] = Done;
            doneNodes[id] = nodes;
            donePayload[id] = payload;
            doneHeight[id] = quint16(height);
            stack.pop_back();
            if (stack.empty())
                return nodes <= kPlistMaxNodes;
            if (!addChild(stack.back(), nodes, payload, height, stack.size()))
                return false;
            continue;
        }
        const quint64 child = be(frame.object.childrenAt + qint64(frame.next) * m_refSize, m_refSize);
        ++frame.next;
        if (child >= m_objects)
            return false;
        if (state[child] == Open)
            return false; // a container inside itself
        if (state[child] == Done) {
            if (!addChild(frame, doneNodes[child], donePayload[child], doneHeight[child], stack.size()))
                return false;
            continue;
        }
        Object object;
        if (!readObject(child, object))
            return false;
        if (!object.container) {
            state[child] = Done;
            doneNodes[child] = 1;
            donePayload[child] = object.payload;
            if (!addChild(frame, 1, object.payload, 0, stack.size()))
                return false;
            continue;
        }
        if (stack.size() >= size_t(kPlistMaxNesting))
            return false;
        state[child] = Open;
        stack.push_back(Frame{child, object}); // 'frame' is not used past this point
    }
    return true;
}

bool startsAt(const QByteArray &bytes, qsizetype at, const char *text)
{
    return QByteArrayView(bytes).sliced(at).startsWith(QByteArrayView(text));
}

// Skips from 'at' past the first occurrence of 'end'; -1 when there is none.
qsizetype skipPast(const QByteArray &bytes, qsizetype at, const char *end)
{
    const qsizetype found = bytes.indexOf(end, at);
    return found < 0 ? -1 : found + qsizetype(qstrlen(end));
}

// Skips a tag or declaration from its '<' past its closing '>', stepping over
// quoted values (and bracketed internal subsets of a declaration). Sets
// selfClosing when the tag ends in "/>". -1 when it does not end.
qsizetype skipTag(const QByteArray &bytes, qsizetype at, bool &selfClosing)
{
    char quote = 0;
    int brackets = 0;
    char last = 0;
    for (qsizetype i = at + 1; i < bytes.size(); ++i) {
        const char c = bytes.at(i);
        if (quote) {
            if (c == quote)
                quote = 0;
            continue;
        }
        if (c == '"' || c == '\'') {
            quote = c;
        } else if (c == '[') {
            ++brackets;
        } else if (c == ']') {
            brackets = std::max(0, brackets - 1);
        } else if (c == '>' && brackets == 0) {
            selfClosing = last == '/';
            return i + 1;
        }
        if (c != ' ' && c != '\t' && c != '\r' && c != '\n')
            last = c;
    }
    return -1;
}

} // namespace

bool binaryPlistWithinBounds(const QByteArray &bytes)
{
    return BinaryPlist(bytes).check();
}

bool xmlPlistWithinBounds(const QByteArray &bytes)
{
    // XML has no way to hold U+0000, not even as a character reference, and
    // the parser would take a raw one into the text it builds. NUL bytes after
    // the document's last tag (a terminator some writers add) are harmless.
    const qsizetype nul = bytes.indexOf('\0');
    if (nul >= 0 && nul < bytes.lastIndexOf('>'))
        return false;
    int depth = 0;
    qsizetype at = bytes.indexOf('<');
    while (at >= 0) {
        qsizetype next;
        if (startsAt(bytes, at, "<!--")) {
            next = skipPast(bytes, at + 4, "-->");
        } else if (startsAt(bytes, at, "<![CDATA[")) {
            next = skipPast(bytes, at + 9, "]]>");
        } else if (startsAt(bytes, at, "<?")) {
            next = skipPast(bytes, at + 2, "?>");
        } else {
            bool selfClosing = false;
            next = skipTag(bytes, at, selfClosing);
            const char second = at + 1 < bytes.size() ? bytes.at(at + 1) : 0;
            if (second == '/') {
                depth = std::max(0, depth - 1);
            } else if (second != '!' && !selfClosing) {
                if (++depth > kPlistMaxNesting)
                    return false;
            }
        }
        if (next < 0)
            return false;
        at = bytes.indexOf('<', next);
    }
    return true;
}

namespace
{

// Strict UTF-8: no overlong forms, no surrogates, nothing past U+10FFFF.
bool isWellFormedUtf8(const uchar *p, size_t n)
{
    size_t i = 0;
    while (i < n) {
        const uchar c = p[i];
        if (c < 0x80) {
            ++i;
            continue;
        }
        int more = 0;
        uint cp = 0;
        uint least = 0;
        if ((c & 0xE0) == 0xC0) {
            more = 1;
            cp = c & 0x1F;
            least = 0x80;
        } else if ((c & 0xF0) == 0xE0) {
            more = 2;
            cp = c & 0x0F;
            least = 0x800;
        } else if ((c & 0xF8) == 0xF0) {
            more = 3;
            cp = c & 0x07;
            least = 0x10000;
        } else {
            return false;
        }
        if (n - i <= size_t(more))
            return false;
        for (int k = 1; k <= more; ++k) {
            const uchar d = p[i + size_t(k)];
            if ((d & 0xC0) != 0x80)
                return false;
            cp = (cp << 6) | (d & 0x3F);
        }
        if (cp < least || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        i += size_t(more) + 1;
    }
    return true;
}

bool textsWellFormed(plist_t node)
{
    switch (plist_get_node_type(node)) {
    case PLIST_STRING: {
        uint64_t length = 0;
        const char *text = plist_get_string_ptr(node, &length);
        return text && strnlen(text, size_t(length)) == size_t(length)
            && isWellFormedUtf8(reinterpret_cast<const uchar *>(text), size_t(length));
    }
    case PLIST_ARRAY: {
        const uint32_t size = plist_array_get_size(node);
        for (uint32_t i = 0; i < size; ++i) {
            if (!textsWellFormed(plist_array_get_item(node, i)))
                return false;
        }
        return true;
    }
    case PLIST_DICT: {
        plist_dict_iter iter = nullptr;
        plist_dict_new_iter(node, &iter);
        if (!iter)
            return false;
        QSet<QByteArray> keys;
        bool ok = true;
        while (ok) {
            // The bound checks keep NULs out of keys, so the iterator's
            // copies are whole.
            char *key = nullptr;
            plist_t value = nullptr;
            plist_dict_next_item(node, iter, &key, &value);
            if (!key)
                break;
            const QByteArray text(key);
            std::free(key);
            ok = value && isWellFormedUtf8(reinterpret_cast<const uchar *>(text.constData()), size_t(text.size()))
                && !keys.contains(text) && textsWellFormed(value);
            keys.insert(text);
        }
        std::free(iter);
        return ok;
    }
    default:
        return true;
    }
}

} // namespace

bool plistTextsWellFormed(plist_t root)
{
    return root && textsWellFormed(root);
}

namespace
{

quint64 beAt(const uchar *p, int width)
{
    quint64 v = 0;
    for (int i = 0; i < width; ++i)
        v = (v << 8) | p[i];
    return v;
}

} // namespace

// The date as the library keeps it: seconds since 2001 as a double. Its
// getter hands a date out as int32 seconds cut toward zero and the fraction
// as a magnitude, which loses the sign of a date less than one second before
// 2001 and cannot hold a date before 1933 or after 2069 at all (such as the
// far-future dates some lists carry). Its binary form keeps the value as it
// is, so the value is read from there.
bool plistDateSeconds(plist_t date, double &seconds)
{
    char *buffer = nullptr;
    uint32_t length = 0;
    plist_to_bin(date, &buffer, &length);
    if (!buffer)
        return false;
    bool found = false;
    const auto *p = reinterpret_cast<const uchar *>(buffer);
    if (length >= 8 + 9 + 1 + 32) {
        const uchar *trailer = p + length - 32;
        const int offsetSize = trailer[6];
        const quint64 top = beAt(trailer + 16, 8);
        const quint64 table = beAt(trailer + 24, 8);
        if (offsetSize >= 1 && offsetSize <= 8 && table < length - 32
            && top < (length - 32 - table) / quint64(offsetSize)) {
            const quint64 at = beAt(p + table + top * quint64(offsetSize), offsetSize);
            if (at + 9 <= table && p[at] == 0x33) {
                const quint64 bits = beAt(p + at + 1, 8);
                std::memcpy(&seconds, &bits, sizeof seconds);
                found = true;
            }
        }
    }
    plist_to_bin_free(buffer);
    return found;
}

QString decodePlistText(const char *text, qsizetype length)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
    return decoder.decode(QByteArrayView(text, length));
}
