#include "PlistNode.h"


#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "MessageIdentity.h"
#include "PlistBounds.h"

namespace
{

// A text that holds U+0000 cannot live in a tree: the library keeps texts
// as NUL-terminated strings (its copies stop at the first NUL but keep the
// full length, its getters assert on the difference), so such a text would
// read differently in every path. Parsing refuses it, and so do the makers.
bool holdsNul(const QString &text)
{
    return text.contains(QChar(u'\0'));
}

int clampToInt(quint64 value)
{
    return value > quint64(std::numeric_limits<int>::max()) ? std::numeric_limits<int>::max() : int(value);
}

bool isAncestorOrSelf(plist_t ancestor, plist_t node)
{
    for (plist_t n = node; n; n = plist_get_parent(n)) {
        if (n == ancestor)
            return true;
    }
    return false;
}

} // namespace

PlistNode::_NodeOwner::_NodeOwner(plist_t node, bool owned)
    : node(node)
    , owned(owned)
{
}

PlistNode::_NodeOwner::~_NodeOwner()
{
    // A node that sits in a container belongs to the container.
    if (owned && node && !anchor && !plist_get_parent(node))
        plist_free(node);
}

plist_t PlistNode::_NodeOwner::live() const
{
    if (!node)
        return nullptr;
    if (anchor && (takenAt != anchor->generation || !anchor->live()))
        return nullptr;
    return node;
}

void PlistNode::_NodeOwner::free()
{
    if (node && !anchor && !plist_get_parent(node)) {
        plist_free(node);
        ++generation;
    }
    node = nullptr;
}

PlistNode::PlistNode()
    : PlistNode(nullptr, true)
{
}

PlistNode::PlistNode(plist_t node, bool owned)
    : m_owner(QSharedPointer<_NodeOwner>::create(node, owned))
{
}

PlistNode::PlistNode(QSharedPointer<_NodeOwner> owner)
    : m_owner(std::move(owner))
{
}

plist_t PlistNode::node() const
{
    return m_owner ? m_owner->live() : nullptr;
}

void PlistNode::free()
{
    if (m_owner)
        m_owner->free();
}

bool PlistNode::hasType(plist_type type) const
{
    const plist_t n = node();
    return n && plist_get_node_type(n) == type;
}

bool PlistNode::isBool() const { return hasType(PLIST_BOOLEAN); }
bool PlistNode::isUInt() const { return hasType(PLIST_UINT); }
bool PlistNode::isReal() const { return hasType(PLIST_REAL); }
bool PlistNode::isString() const { return hasType(PLIST_STRING); }
bool PlistNode::isArray() const { return hasType(PLIST_ARRAY); }
bool PlistNode::isDict() const { return hasType(PLIST_DICT); }
bool PlistNode::isDate() const { return hasType(PLIST_DATE); }
bool PlistNode::isData() const { return hasType(PLIST_DATA); }
bool PlistNode::isKey() const { return hasType(PLIST_KEY); }

bool PlistNode::isNull() const
{
    const plist_t n = node();
    return !n || plist_get_node_type(n) == PLIST_NONE;
}

bool PlistNode::toBool() const
{
    if (!isBool())
        return false;
    uint8_t value = 0;
    plist_get_bool_val(node(), &value);
    return value != 0;
}

quint64 PlistNode::toUInt() const
{
    if (!isUInt())
        return 0;
    uint64_t value = 0;
    plist_get_uint_val(node(), &value);
    return value;
}

double PlistNode::toReal() const
{
    if (!isReal())
        return 0.0;
    double value = 0.0;
    plist_get_real_val(node(), &value);
    return value;
}

QString PlistNode::toString() const
{
    if (isString()) {
        uint64_t length = 0;
        const char *text = plist_get_string_ptr(node(), &length);
        // Only a tree made outside this class could hold a NUL inside the
        // length; reading stops there, never past the library's buffer.
        if (text && length > 0 && length <= quint64(std::numeric_limits<qsizetype>::max())
            && strnlen(text, size_t(length)) == size_t(length))
            return decodePlistText(text, qsizetype(length));
    }
    return QStringLiteral("");
}

QString PlistNode::keyText() const
{
    QString result = QStringLiteral("");
    // Key nodes reach a value only through newKey, which refuses U+0000, so
    // the library's length check on the text holds.
    if (isKey()) {
        char *text = nullptr;
        plist_get_key_val(node(), &text);
        if (text) {
            result = decodePlistText(text, qsizetype(std::strlen(text)));
            std::free(text);
        }
    }
    return result;
}

QByteArray PlistNode::toByteArray() const
{
    if (!isData())
        return {};
    uint64_t length = 0;
    const char *bytes = plist_get_data_ptr(node(), &length);
    if (!bytes || length == 0 || length > quint64(std::numeric_limits<qsizetype>::max()))
        return QByteArray("", 0);
    return QByteArray(bytes, qsizetype(length));
}

QDateTime PlistNode::toDateTime() const
{
    double secs = 0;
    if (!isDate() || !plistDateSeconds(node(), secs))
        return {};
    // Far beyond any date a list has held (about 300 000 years) there is no
    // date to give.
    if (!std::isfinite(secs) || std::fabs(secs) > 1e13)
        return {};
    // Whole milliseconds, cut toward 2001 as the library cuts microseconds.
    const double whole = std::trunc(secs);
    const qint64 msecs = qint64(whole) * 1000 + qint64(std::trunc((secs - whole) * 1e6)) / 1000;
    return QDateTime::fromMSecsSinceEpoch(kAppleEpochOffset * 1000 + msecs);
}

QString PlistNode::toXml() const
{
    if (isNull())
        return QStringLiteral("");
    char *text = nullptr;
    uint32_t length = 0;
    plist_to_xml(node(), &text, &length);
    if (!text)
        return QStringLiteral("");
    const QString result = QString::fromUtf8(text, qsizetype(length));
    plist_to_xml_free(text);
    return result;
}

QByteArray PlistNode::toBinary() const
{
    if (isNull())
        return QByteArray("", 0);
    char *bytes = nullptr;
    uint32_t length = 0;
    plist_to_bin(node(), &bytes, &length);
    if (!bytes)
        return QByteArray("", 0);
    const QByteArray result(bytes, qsizetype(length));
    plist_to_bin_free(bytes);
    return result;
}

QSharedPointer<PlistNode::_NodeOwner> PlistNode::treeOwner() const
{
    QSharedPointer<_NodeOwner> owner = m_owner;
    while (owner->anchor)
        owner = owner->anchor;
    return owner;
}

PlistNode PlistNode::viewOf(plist_t child) const
{
    if (!child)
        return PlistNode(nullptr, false);
    auto view = QSharedPointer<_NodeOwner>::create(child, false);
    view->anchor = treeOwner();
    view->takenAt = view->anchor->generation;
    return PlistNode(view);
}

int PlistNode::arraySize() const
{
    return isArray() ? clampToInt(plist_array_get_size(node())) : 0;
}

PlistNode PlistNode::arrayItem(int index) const
{
    if (index < 0 || index >= arraySize())
        return PlistNode(nullptr, false);
    return viewOf(plist_array_get_item(node(), uint32_t(index)));
}

plist_t PlistNode::nodeToInsert(const PlistNode &item, bool &takeOver) const
{
    takeOver = false;
    const plist_t n = item.node();
    if (!n)
        return nullptr;
    // Only a tree of its own can change hands; a node inside some tree, or
    // one this container sits in, would end up in two places.
    if (!item.m_owner->anchor && !plist_get_parent(n) && !isAncestorOrSelf(n, node())) {
        takeOver = true;
        return n;
    }
    return plist_copy(n);
}

void PlistNode::adopt(const PlistNode &item) const
{
    const QSharedPointer<_NodeOwner> top = treeOwner();
    item.m_owner->owned = false;
    item.m_owner->anchor = top;
    item.m_owner->takenAt = top->generation;
}

PlistNode &PlistNode::arrayAppend(const PlistNode &item)
{
    if (!isArray())
        return *this;
    bool takeOver = false;
    const plist_t child = nodeToInsert(item, takeOver);
    if (!child)
        return *this;
    plist_array_append_item(node(), child);
    if (takeOver)
        adopt(item);
    return *this;
}

int PlistNode::dictSize() const
{
    return isDict() ? clampToInt(plist_dict_get_size(node())) : 0;
}

PlistNode PlistNode::dictItem(const QString &key) const
{
    if (!isDict() || holdsNul(key))
        return PlistNode(nullptr, false);
    return viewOf(plist_dict_get_item(node(), key.toUtf8().constData()));
}

PlistNode &PlistNode::dictSet(const QString &key, const PlistNode &item)
{
    if (!isDict() || holdsNul(key))
        return *this;
    bool takeOver = false;
    const plist_t child = nodeToInsert(item, takeOver);
    if (!child)
        return *this;
    const plist_t dict = node();
    const QByteArray utf8 = key.toUtf8();
    if (plist_dict_get_item(dict, utf8.constData())) {
        // The old entry is freed: every view taken of this tree so far stops
        // seeing its node, and this dictionary starts afresh as a view.
        const QSharedPointer<_NodeOwner> top = treeOwner();
        ++top->generation;
        if (m_owner != top) {
            ++m_owner->generation;
            m_owner->anchor = top;
            m_owner->takenAt = top->generation;
        }
    }
    plist_dict_set_item(dict, utf8.constData(), child);
    if (takeOver)
        adopt(item);
    return *this;
}

QMap<QString, PlistNode> PlistNode::toMap() const
{
    QMap<QString, PlistNode> map;
    if (!isDict())
        return map;
    // Every key in a tree came through fromData or dictSet, both of which
    // refuse U+0000, so the iterator's key copies are whole.
    const plist_t dict = node();
    plist_dict_iter iter = nullptr;
    plist_dict_new_iter(dict, &iter);
    if (!iter)
        return map;
    for (;;) {
        char *key = nullptr;
        plist_t value = nullptr;
        plist_dict_next_item(dict, iter, &key, &value);
        if (!key)
            break;
        if (value)
            map.insert(decodePlistText(key, qsizetype(std::strlen(key))), PlistNode(plist_copy(value), true));
        std::free(key);
    }
    std::free(iter);
    return map;
}

PlistNode PlistNode::copy(bool owned) const
{
    const plist_t n = node();
    return PlistNode(n ? plist_copy(n) : nullptr, owned);
}

PlistNode PlistNode::makeNull(bool owned)
{
    return PlistNode(nullptr, owned);
}

PlistNode PlistNode::fromBool(bool value, bool owned)
{
    return PlistNode(plist_new_bool(value ? 1 : 0), owned);
}

PlistNode PlistNode::fromUInt(quint64 value, bool owned)
{
    return PlistNode(plist_new_uint(value), owned);
}

PlistNode PlistNode::fromReal(double value, bool owned)
{
    return PlistNode(plist_new_real(value), owned);
}

PlistNode PlistNode::fromByteArray(const QByteArray &value, bool owned)
{
    return PlistNode(plist_new_data(value.constData(), uint64_t(value.size())), owned);
}

PlistNode PlistNode::fromDateTime(const QDateTime &value, bool owned)
{
    if (!value.isValid())
        return PlistNode(nullptr, owned);
    const qint64 secs = value.toSecsSinceEpoch() - kAppleEpochOffset;
    if (secs < std::numeric_limits<int32_t>::min() || secs > std::numeric_limits<int32_t>::max())
        return PlistNode(nullptr, owned);
    return PlistNode(plist_new_date(int32_t(secs), 0), owned);
}

PlistNode PlistNode::fromString(const QString &value, bool owned)
{
    if (holdsNul(value))
        return PlistNode(nullptr, owned);
    return PlistNode(plist_new_string(value.toUtf8().constData()), owned);
}

PlistNode PlistNode::newKey(const QString &value, bool owned)
{
    if (holdsNul(value))
        return PlistNode(nullptr, owned);
    const QByteArray utf8 = value.toUtf8();
    const plist_t key = plist_new_string(utf8.constData());
    plist_set_key_val(key, utf8.constData());
    return PlistNode(key, owned);
}

PlistNode PlistNode::newArray(bool owned)
{
    return PlistNode(plist_new_array(), owned);
}

PlistNode PlistNode::newDict(bool owned)
{
    return PlistNode(plist_new_dict(), owned);
}

PlistNode PlistNode::fromData(const QByteArray &bytes, bool owned)
{
    if (quint64(bytes.size()) > std::numeric_limits<uint32_t>::max())
        return PlistNode(nullptr, owned);
    const uint32_t length = uint32_t(bytes.size());
    plist_t root = nullptr;
    if (bytes.size() >= 9 && bytes.startsWith("bplist00")) {
        if (binaryPlistWithinBounds(bytes))
            plist_from_bin(bytes.constData(), length, &root);
    } else if (xmlPlistWithinBounds(bytes)) {
        plist_from_xml(bytes.constData(), length, &root);
    }
    if (root && !plistTextsWellFormed(root)) {
        plist_free(root);
        root = nullptr;
    }
    return PlistNode(root, owned);
}
