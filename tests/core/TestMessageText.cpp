#include <QCoreApplication>
#include <QTranslator>

#include <gtest/gtest.h>

#include "MessageText.h"
#include "MsgSetBuilder.h"

namespace
{

TEST(MessageTextTest, OrdinaryMessages)
{
    struct Attachment
    {
        qint64 rowid;
        const char *mime;
    };
    struct Case
    {
        const char *label;
        QString text;
        QList<Attachment> attachments;
        const char *expected;
    };
    const QChar p(0xFFFC);
    const QList<Case> cases = {
        {"plain", "Hello", {}, "Hello"},
        {"empty", "", {}, ""},
        {"image, any letter case", "Hi", {{1, "IMAGE/JPEG"}}, "Hi [IMAGE]"},
        {"only a placeholder: the tag loses its blank", QString(p), {{1, "audio/amr"}}, "[AUDIO]"},
        {"video", QString(p) + "look", {{1, "video/quicktime"}}, "look [VIDEO]"},
        {"vcard in another letter case", "Card", {{1, "text/VCARD"}}, "Card [VCARD]"},
        {"x-vCard", "Card", {{1, "TEXT/X-VCARD"}}, "Card [VCARD]"},
        {"only the exact vCard types", "Card", {{1, "text/x-vcard-foo"}}, "Card [ATTA]"},
        {"no mime type", "f", {{1, ""}}, "f [ATTA]"},
        {"a prefix must be the whole type", "f", {{1, "imagex/png"}}, "f [ATTA]"},
        {"tags in ascending attachment rowid order", "x",
         {{30, "video/mp4"}, {1, "image/png"}, {7, "audio/x-m4a"}, {12, "application/pdf"}, {9, "text/vcard"}},
         "x [IMAGE] [AUDIO] [VCARD] [ATTA] [VIDEO]"},
        {"white space trimmed at both ends", "  \n hello \t\n", {}, "hello"},
        {"emoji", QStringLiteral("Call 5 me ✔ 😀"), {}, "Call 5 me [EMOJI] [EMOJI]"},
    };
    for (const Case &c : cases) {
        MsgSetBuilder b;
        _MsgMessage *m = b.message(nullptr, 1, 0, c.text);
        for (const Attachment &a : c.attachments)
            b.attachment(m, a.rowid, QStringLiteral("f"), QString::fromLatin1(a.mime));
        EXPECT_EQ(messageText(m), QString::fromUtf8(c.expected)) << c.label;
    }
    EXPECT_EQ(messageText(nullptr), QString());
}

TEST(MessageTextTest, SystemEvents)
{
    enum Who { Nobody, Ann, Bob };
    struct Case
    {
        const char *label;
        int itemType;
        int date;
        Who sender;
        Who other;
        QString groupTitle;
        int shareStatus;
        const char *expected;
    };
    // 400000000 is 2013-09-04 15:06:40 UTC; the tests run in UTC.
    const QList<Case> cases = {
        {"member added", 1, 400000000, Ann, Bob, "", 0, "Ann Added +200 to the conversation.\n04 Sep 2013 3:6 PM"},
        {"added by me", 1, 400000000, Nobody, Bob, "", 0, "You Added +200 to the conversation.\n04 Sep 2013 3:6 PM"},
        {"named without a sender", 2, 0, Nobody, Nobody, "Trip", 0,
         "You named the conversation \"Trip\".\n01 Jan 2001 12:0 AM"},
        {"name with emoji and placeholders", 2, 0, Ann, Nobody, QStringLiteral("%1 Trip 😀"), 0,
         "Ann named the conversation \"%1 Trip [EMOJI]\".\n01 Jan 2001 12:0 AM"},
        {"member left", 3, 400000000, Bob, Nobody, "", 0, "+200 left the conversation.\n04 Sep 2013 3:6 PM"},
        {"sharing started", 4, 400000000, Ann, Nobody, "", 0,
         "Ann started sharing location with You.\n04 Sep 2013 3:6 PM"},
        {"sharing stopped", 4, 400000000, Ann, Bob, "", 1,
         "Ann stopped sharing location with +200.\n04 Sep 2013 3:6 PM"},
        {"other event", 7, 0, Ann, Bob, "Trip", 0, "System Information.\n01 Jan 2001 12:0 AM"},
        {"negative item type", -1, 43200, Nobody, Nobody, "", 0, "System Information.\n01 Jan 2001 12:0 PM"},
    };
    for (const Case &c : cases) {
        MsgSetBuilder b;
        _MsgChat *chat = b.chat(1);
        _MsgHandle *ann = b.handle(chat, 1, QStringLiteral("+100"), QStringLiteral("Ann"));
        _MsgHandle *bob = b.handle(chat, 2, QStringLiteral("+200"));
        auto who = [&](Who w) { return w == Ann ? ann : w == Bob ? bob : nullptr; };
        _MsgMessage *m = b.message(chat, 1, c.date, QStringLiteral("ignored text"), who(c.sender));
        m->item_type = c.itemType;
        m->other = who(c.other);
        m->group_title = c.groupTitle;
        m->share_status = c.shareStatus;
        EXPECT_EQ(messageText(m), QString::fromUtf8(c.expected)) << c.label;
    }
}

TEST(MessageTextTest, NamesInEventsAreNeverReadAsPlaceholders)
{
    MsgSetBuilder b;
    _MsgHandle *s = b.handle(nullptr, 1, QStringLiteral("+1"), QStringLiteral("50%2 off"));
    _MsgMessage *m = b.message(nullptr, 1, 0, QString(), s);
    m->item_type = 1;
    m->other = b.handle(nullptr, 2, QStringLiteral("%3"));
    EXPECT_EQ(messageText(m), QStringLiteral("50%2 off Added %3 to the conversation.\n01 Jan 2001 12:0 AM"));
}

// The English translation must give back exactly the texts above.
TEST(MessageTextTest, EnglishTranslationKeepsTheTexts)
{
    QTranslator translator;
    ASSERT_TRUE(translator.load(QStringLiteral(":/en.qm")));
    QCoreApplication::installTranslator(&translator);
    MsgSetBuilder b;
    _MsgChat *chat = b.chat(1);
    _MsgMessage *m = b.message(nullptr, 1, 0);
    struct Case
    {
        int itemType;
        int shareStatus;
        const char *expected;
    };
    const Case cases[] = {
        {1, 0, "You Added You to the conversation.\n01 Jan 2001 12:0 AM"},
        {2, 0, "You named the conversation \"\".\n01 Jan 2001 12:0 AM"},
        {3, 0, "You left the conversation.\n01 Jan 2001 12:0 AM"},
        {4, 0, "You started sharing location with You.\n01 Jan 2001 12:0 AM"},
        {4, 1, "You stopped sharing location with You.\n01 Jan 2001 12:0 AM"},
        {5, 0, "System Information.\n01 Jan 2001 12:0 AM"},
    };
    for (const Case &c : cases) {
        m->item_type = c.itemType;
        m->share_status = c.shareStatus;
        EXPECT_EQ(messageText(m), QString::fromUtf8(c.expected));
    }
    EXPECT_EQ(chat->displayName(true), QStringLiteral("Unknown"));
    EXPECT_EQ(m->senderName(), QStringLiteral("unknown"));
    QCoreApplication::removeTranslator(&translator);
}

} // namespace
