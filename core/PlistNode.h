#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QMap>
#include <QSharedPointer>
#include <QString>

#include <plist/plist.h>

// A value over one node of a property-list tree. Copies share the node. A
// tree is freed when the last value that owns it goes; an item taken out of
// an array or a dictionary is a view that keeps its whole tree alive, so it
// may outlive the value it came from. When nodes of a tree are freed (free()
// of the tree, or dictSet replacing an entry), the views taken of that tree
// before hold no node any more and read as null, rather than pointing at
// freed memory; the dictionary that was set keeps working. Nothing is ever
// freed twice.
//
// No text in a tree holds U+0000: parsing refuses a list with such a string
// or key, fromString and newKey give no node for such a text, and a key with
// it is never looked up or set. A node handed to the constructor must keep
// to the same rule.
class PlistNode
{
public:
    struct _NodeOwner {
        plist_t node = nullptr;
        bool owned = false;

        // For a view: the owner of the tree it lives in, and the tree's
        // generation when it was taken. Every value that frees nodes of a tree
        // moves its generation on, so older views of it stop seeing theirs.
        QSharedPointer<_NodeOwner> anchor;
        quint64 takenAt = 0;
        quint64 generation = 0;

        _NodeOwner() = default;
        _NodeOwner(plist_t node, bool owned);
        ~_NodeOwner();
        _NodeOwner(const _NodeOwner &) = delete;
        _NodeOwner &operator=(const _NodeOwner &) = delete;

        // The node, or null when it is gone.
        plist_t live() const;
        // Frees a tree this owner is the root of; a view only lets go of its
        // node, which stays in its container.
        void free();
    };

    // No node; owns whatever it is later given.
    PlistNode();
    PlistNode(plist_t node, bool owned);

    plist_t node() const;
    void free();

    bool isBool() const;
    bool isUInt() const;
    bool isReal() const;
    bool isString() const;
    bool isArray() const;
    bool isDict() const;
    bool isDate() const;
    bool isData() const;
    bool isKey() const;
    // True without a node (or for a node of no type).
    bool isNull() const;

    // Each getter gives its default for a node of another type.
    bool toBool() const;               // false
    quint64 toUInt() const;            // 0
    double toReal() const;             // 0.0
    QString toString() const;          // "" (empty, not null)
    QString keyText() const;           // ""
    QByteArray toByteArray() const;    // null
    QDateTime toDateTime() const;      // null; local time, to the millisecond, any year
    QString toXml() const;             // "" without a node
    QByteArray toBinary() const;       // empty without a node

    int arraySize() const;             // 0 when not an array
    PlistNode arrayItem(int index) const;
    // Appends the item's node when this is an array. A node that already sits
    // in a tree (or that would contain this array) goes in as a copy; a tree
    // of its own is taken over, and the item becomes a view into this one.
    PlistNode &arrayAppend(const PlistNode &item);

    int dictSize() const;              // 0 when not a dictionary
    // No node for a key that holds U+0000, as no entry can have one.
    PlistNode dictItem(const QString &key) const;
    // Sets the entry when this is a dictionary, replacing one of the same key;
    // the item goes in as arrayAppend describes. A key that holds U+0000
    // leaves the dictionary as it is.
    PlistNode &dictSet(const QString &key, const PlistNode &item);
    // Every entry as a deep copy that owns itself; empty when not a dictionary.
    QMap<QString, PlistNode> toMap() const;

    // A deep copy of the node; no node when there is none.
    PlistNode copy(bool owned = true) const;

    static PlistNode makeNull(bool owned = true);
    static PlistNode fromBool(bool value, bool owned = true);
    static PlistNode fromUInt(quint64 value, bool owned = true);
    static PlistNode fromReal(double value, bool owned = true);
    static PlistNode fromByteArray(const QByteArray &value, bool owned = true);
    // Whole seconds since 2001-01-01 00:00:00 UTC; no node for an invalid
    // date or one a property list cannot hold.
    static PlistNode fromDateTime(const QDateTime &value, bool owned = true);
    // No node for a text that holds U+0000.
    static PlistNode fromString(const QString &value, bool owned = true);
    static PlistNode newKey(const QString &value, bool owned = true);
    static PlistNode newArray(bool owned = true);
    static PlistNode newDict(bool owned = true);

    // Parses a binary property list (at least 9 bytes beginning "bplist00")
    // or else an XML one. Anything that does not parse, or that would build
    // a tree beyond the limits of PlistBounds.h, or that holds a string or
    // key with U+0000, a text that is not well-formed UTF-8 or a dictionary
    // with a key twice, gives a value without node.
    static PlistNode fromData(const QByteArray &bytes, bool owned = true);

private:
    explicit PlistNode(QSharedPointer<_NodeOwner> owner);

    bool hasType(plist_type type) const;
    PlistNode viewOf(plist_t child) const;
    // The node to put into this container for the item: the item's own
    // node when it can be taken over, else a copy; null when there is none.
    plist_t nodeToInsert(const PlistNode &item, bool &takeOver) const;
    void adopt(const PlistNode &item) const;
    QSharedPointer<_NodeOwner> treeOwner() const;

    QSharedPointer<_NodeOwner> m_owner;
};
