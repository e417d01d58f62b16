#include <QString>
#include <QStringList>

#include <gtest/gtest.h>

#include "MsgDataSet.h"
#include "MsgSetBuilder.h"

namespace
{

TEST(MsgRecordsTest, NewRecordsHaveTheirDefaults)
{
    const _MsgMessage m;
    EXPECT_EQ(m.version, 10);
    EXPECT_EQ(m.other_handle, -1);
    EXPECT_FALSE(m._deleted);
    EXPECT_EQ(m._key, 0);
    EXPECT_EQ(m.rowid, 0);
    EXPECT_EQ(m.item_type, 0);
    EXPECT_EQ(m.date, 0);
    EXPECT_EQ(m.is_from_me, 0);
    EXPECT_TRUE(m.guid.isEmpty());
    EXPECT_TRUE(m.text.isEmpty());
    EXPECT_TRUE(m.attributedBody.isEmpty());
    EXPECT_EQ(m.sender, nullptr);
    EXPECT_EQ(m.chat, nullptr);
    EXPECT_EQ(m.other, nullptr);
    EXPECT_TRUE(m.attachments.isEmpty());

    const _MsgChat c;
    EXPECT_EQ(c.rowid, 0);
    EXPECT_EQ(c.style, 45);
    EXPECT_EQ(c.state, 3);
    EXPECT_EQ(c.service_name, QStringLiteral("SMS"));
    EXPECT_EQ(c.account_login, QStringLiteral("E:"));
    EXPECT_EQ(c.is_archived, 0);
    EXPECT_EQ(c._last, 0);
    EXPECT_TRUE(c.guid.isEmpty());
    EXPECT_TRUE(c.display_name.isEmpty());
    EXPECT_TRUE(c.handles.isEmpty());
    EXPECT_TRUE(c.messages.isEmpty());
    EXPECT_FALSE(c.isGroup());

    const _MsgHandle h;
    EXPECT_EQ(h.rowid, 0);
    EXPECT_EQ(h.service, QStringLiteral("SMS"));
    EXPECT_TRUE(h.id.isEmpty());
    EXPECT_TRUE(h._ct_name.isEmpty());
    EXPECT_TRUE(h._photo.isEmpty());

    const _MsgAttachment a;
    EXPECT_EQ(a.rowid, 0);
    EXPECT_EQ(a.transfer_state, 5);
    EXPECT_EQ(a.start_date, 0);
    EXPECT_EQ(a.total_bytes, 0);
    EXPECT_TRUE(a._local_path.isEmpty());
}

TEST(MsgRecordsTest, HandleDisplayName)
{
    struct Case
    {
        const char *contact;
        const char *id;
        bool withId;
        const char *expected;
    };
    const Case cases[] = {
        {"", "+4915112345678", false, "+4915112345678"},
        // Without a contact name the id alone, also when the id was asked for.
        {"", "+4915112345678", true, "+4915112345678"},
        {"Anna", "+4915112345678", false, "Anna"},
        {"Anna", "+4915112345678", true, "Anna (+4915112345678)"},
        {"Anna", "", true, "Anna ()"},
        {"", "", true, ""},
    };
    for (const Case &c : cases) {
        _MsgHandle h;
        h._ct_name = QString::fromUtf8(c.contact);
        h.id = QString::fromUtf8(c.id);
        EXPECT_EQ(h.displayName(c.withId), QString::fromUtf8(c.expected))
            << c.contact << " / " << c.id << " / " << c.withId;
    }
}

TEST(MsgRecordsTest, ChatDisplayName)
{
    struct Member
    {
        qint64 rowid;
        const char *id;
        const char *contact;
    };
    struct Case
    {
        const char *displayName;
        QList<Member> members;
        bool withNumbers;
        const char *expected;
    };
    const QList<Case> cases = {
        {"Family", {}, false, "Family"},
        {"Family", {{1, "+1555", "Bob"}}, true, "Family"},
        {"", {}, true, "Unknown"},
        {"", {{1, "+1555", ""}}, true, "+1555"},
        {"", {{1, "+1555", "Bob"}}, false, "Bob"},
        {"", {{1, "+1555", "Bob"}}, true, "Bob (+1555)"},
        {"", {{2, "b@x.org", ""}, {1, "+1555", "Bob"}}, true, "Bob (+1555), b@x.org"},
        // Members always come in ascending rowid order, whatever the hash does.
        {"",
         {{30, "c", ""}, {2, "a", ""}, {11, "b", ""}, {-4, "neg", ""}, {99, "e", ""}, {50, "d", ""},
          {7, "a7", ""}, {8, "a8", ""}},
         false,
         "neg, a, a7, a8, b, c, d, e"},
    };
    for (const Case &c : cases) {
        MsgSetBuilder b;
        _MsgChat *chat = b.chat(1);
        chat->display_name = QString::fromUtf8(c.displayName);
        for (const Member &m : c.members)
            b.handle(chat, m.rowid, QString::fromUtf8(m.id), QString::fromUtf8(m.contact));
        EXPECT_EQ(chat->displayName(c.withNumbers), QString::fromUtf8(c.expected)) << c.expected;
        EXPECT_EQ(chat->isGroup(), c.members.size() > 1);
    }
}

TEST(MsgRecordsTest, ChatHandleListSkipsNullsAndBreaksRowidTiesByAddress)
{
    MsgSetBuilder b;
    _MsgChat *chat = b.chat(1);
    // Members of one iOS 5 conversation are keyed by address and may share a rowid.
    auto *z = new _MsgHandle;
    z->id = QStringLiteral("z");
    auto *y = new _MsgHandle;
    y->id = QStringLiteral("y");
    b.set().data()->handles.insert(-1, z);
    b.set().data()->handles.insert(-2, y);
    chat->handles.insert(QStringLiteral("z"), z);
    chat->handles.insert(QStringLiteral("y"), y);
    chat->handles.insert(QStringLiteral("gone"), nullptr);
    const QList<_MsgHandle *> list = chat->handleList();
    ASSERT_EQ(list.size(), 2);
    EXPECT_EQ(list[0], y);
    EXPECT_EQ(list[1], z);
    EXPECT_EQ(chat->displayName(false), QStringLiteral("y, z"));
}

TEST(MsgRecordsTest, SenderName)
{
    struct Case
    {
        const char *label;
        int members;          // handles of the conversation; -1 for no conversation
        int senderIndex;      // member that sent it, -1 for none
        bool senderHasContact;
        const char *expected;
    };
    const Case cases[] = {
        {"no conversation", -1, -1, false, "unknown"},
        {"one-to-one, sender", 1, 0, true, "Ann (+100)"},
        {"one-to-one, no sender", 1, -1, false, "Ann (+100)"},
        {"group, named sender", 2, 0, true, "Ann (+100), +200 (Ann)"},
        {"group, sender without contact", 2, 1, false, "Ann (+100), +200 (+200)"},
        {"group, no sender", 2, -1, false, "Ann (+100), +200"},
        {"empty conversation", 0, -1, false, "Unknown"},
    };
    for (const Case &c : cases) {
        MsgSetBuilder b;
        _MsgChat *chat = c.members >= 0 ? b.chat(1) : nullptr;
        QList<_MsgHandle *> handles;
        if (chat) {
            for (int i = 0; i < c.members; ++i)
                handles.append(b.handle(chat, i + 1, QStringLiteral("+%1").arg((i + 1) * 100),
                                        i == 0 ? QStringLiteral("Ann") : QString()));
        }
        _MsgMessage *m = b.message(chat, 1, 0, QString(), c.senderIndex >= 0 ? handles[c.senderIndex] : nullptr);
        EXPECT_EQ(m->senderName(), QString::fromUtf8(c.expected)) << c.label;
    }
}

TEST(MsgRecordsTest, CleanTextRemovesEveryPlaceholder)
{
    const QChar p(0xFFFC);
    const QList<QPair<QString, QString>> cases = {
        {QString(), QString()},
        {QString(p), QString()},
        {QStringLiteral("Hi"), QStringLiteral("Hi")},
        {QString(p) + "a" + p + p + "b" + p, QStringLiteral("ab")},
        // The neighbouring U+FFFD and U+FFFB are ordinary characters.
        {QString(QChar(0xFFFD)) + QChar(0xFFFB), QString(QChar(0xFFFD)) + QChar(0xFFFB)},
    };
    for (const auto &c : cases) {
        _MsgMessage m;
        m.text = c.first;
        EXPECT_EQ(m.cleanText(), c.second);
        EXPECT_EQ(m.text, c.first); // the record itself keeps its text
    }
}

TEST(MsgRecordsTest, AttachmentIdsInAscendingRowidOrder)
{
    MsgSetBuilder b;
    _MsgMessage *m = b.message(nullptr, 1, 0);
    EXPECT_TRUE(m->attachmentIds().isEmpty());
    const qint64 rowids[] = {9, 3, 5, -2, 100, 42, 7, 8, 11};
    for (qint64 r : rowids)
        b.attachment(m, r, QStringLiteral("f%1").arg(r));
    m->attachments.insert(QStringLiteral("null"), nullptr);
    QList<qint64> got;
    for (const _MsgAttachment *a : m->attachmentIds())
        got.append(a->rowid);
    EXPECT_EQ(got, (QList<qint64>{-2, 3, 5, 7, 8, 9, 11, 42, 100}));
}

} // namespace
