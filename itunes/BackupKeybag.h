#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>

// The keybag of an encrypted backup: the backup's own items (salt, rounds,
// ...) and one entry per protection class holding that class's wrapped key.
// The backup password unwraps the class keys; a class key unwraps the keys of
// the files of its class.
class BackupKeybag
{
public:
    using TagMap = QMap<QString, QByteArray>;

    // Upper bound on the PBKDF2 rounds a keybag may ask for. Backups use ten
    // thousand; a thousand times that still unlocks, in about fifteen
    // seconds, while the full 32-bit range from a damaged or hostile file
    // would hold the program for well over an hour.
    static constexpr quint32 MaxIterations = 10'000'000;

    BackupKeybag() = default;
    // Parses the tag-length-value items. Never fails: an item whose length
    // runs past the end, or a number item shorter than four bytes, marks the
    // keybag damaged, and a damaged keybag never unlocks.
    explicit BackupKeybag(const QByteArray &keybagBytes);

    // The unsigned big-endian number in the first four bytes of the tag's
    // value; 0 when the tag is absent or shorter than that.
    static int intValue(const TagMap &tags, const QString &tag);

    // Derives the password key and unwraps every class key the password
    // protects, stopping at the first that does not unwrap. True only when
    // at least one class key was unwrapped and none failed.
    bool unlock(const QByteArray &password);

    // The 32-byte key of a file of the class, from its 40-byte wrapped key;
    // empty when there is none.
    QByteArray unwrapKeyForClass(int protectionClass, const QByteArray &wrappedKey) const;

    TagMap tags;
    QMap<int, TagMap> classes;

private:
    bool m_damaged = false;
};
