#include <QAbstractItemModelTester>
#include <QBrush>
#include <QImage>
#include <QSignalSpy>
#include <QTranslator>

#include <gtest/gtest.h>

#include "ItemModelSms.h"
#include "MessageText.h"
#include "MsgSetBuilder.h"

namespace
{

QImage resourceAtWidth(const QString &path)
{
    return QImage(path).scaledToWidth(18, Qt::FastTransformation);
}

class ItemModelSmsTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_translator.load(QStringLiteral(":/en.qm")));
        QCoreApplication::installTranslator(&m_translator);
    }
    void TearDown() override { QCoreApplication::removeTranslator(&m_translator); }

    QString text(const ItemModelSms &model, int row, int column, int role = Qt::DisplayRole)
    {
        return model.data(model.index(row, column), role).toString();
    }

    MsgSetBuilder b;

private:
    QTranslator m_translator;
};

TEST_F(ItemModelSmsTest, EmptyListStillHasItsHeader)
{
    ItemModelSms model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
    EXPECT_EQ(model.rowCount(), 0);
    EXPECT_EQ(model.columnCount(), 4);
    const QStringList headers{"Date", "Flag", "Contact", "Content"};
    for (int section = 0; section < 4; ++section)
        EXPECT_EQ(model.headerData(section, Qt::Horizontal).toString(), headers.at(section));
    EXPECT_FALSE(model.headerData(4, Qt::Horizontal).isValid());
    EXPECT_FALSE(model.headerData(0, Qt::Vertical).isValid());
    EXPECT_FALSE(model.headerData(0, Qt::Horizontal, Qt::ToolTipRole).isValid());
}

TEST_F(ItemModelSmsTest, ColumnTexts)
{
    _MsgChat *ann = b.chat(1, QStringLiteral("+1555"));
    _MsgHandle *annHandle = b.handle(ann, 1, QStringLiteral("+1555"), QStringLiteral("Ann"));
    _MsgChat *group = b.chat(2, QStringLiteral("chat1"));
    _MsgHandle *bob = b.handle(group, 2, QStringLiteral("+1666"), QStringLiteral("Bob"));
    b.handle(group, 3, QStringLiteral("+1777"), QStringLiteral("Cy"));

    struct Case
    {
        const char *name;
        _MsgMessage *message;
        QString flag;
        QString contact;
    };
    _MsgMessage *received = b.message(ann, 1, 0, QStringLiteral("hello"), annHandle);
    _MsgMessage *sent = b.message(ann, 2, 3600, QStringLiteral("hi back"));
    sent->is_from_me = 1;
    _MsgMessage *inGroup = b.message(group, 3, 7200, QStringLiteral("all"), bob);
    _MsgMessage *left = b.message(group, 4, 7300, QString(), bob);
    left->item_type = 3;
    _MsgMessage *sentEvent = b.message(group, 5, 7400);
    sentEvent->item_type = 2;
    sentEvent->is_from_me = 1;
    sentEvent->group_title = QStringLiteral("Trip");
    _MsgMessage *orphanEvent = b.message(nullptr, 6, 7500);
    orphanEvent->item_type = 1;
    const Case cases[] = {
        {"Received", received, "From", "Ann (+1555)"},
        {"Sent", sent, "To", "Ann (+1555)"},
        {"GroupSender", inGroup, "From", "Bob (+1666), Cy (+1777) (Bob)"},
        {"EventShowsTheChatName", left, "", "Bob, Cy"},
        {"SentEventHasNoFlagEither", sentEvent, "", "Bob, Cy"},
        {"EventWithoutChat", orphanEvent, "", ""},
    };
    QList<_MsgMessage *> list;
    for (const Case &c : cases)
        list.append(c.message);
    ItemModelSms model;
    model.setMessages(list);
    for (int row = 0; row < int(std::size(cases)); ++row) {
        const Case &c = cases[row];
        SCOPED_TRACE(c.name);
        for (int role : {int(Qt::DisplayRole), int(Qt::ToolTipRole)}) {
            EXPECT_EQ(text(model, row, 1, role), c.flag);
            EXPECT_EQ(text(model, row, 2, role), c.contact);
            EXPECT_EQ(text(model, row, 3, role), messageText(c.message));
        }
    }
    // The local date and time in the locale's short form (en_US, UTC here).
    EXPECT_EQ(text(model, 0, 0), QStringLiteral("1/1/01 12:00 AM"));
    EXPECT_EQ(text(model, 1, 0), QStringLiteral("1/1/01 1:00 AM"));
    EXPECT_EQ(text(model, 1, 3), QStringLiteral("hi back"));
}

TEST_F(ItemModelSmsTest, IconsByServiceAndDirection)
{
    const QImage imsgSend = resourceAtWidth(QStringLiteral(":/res/imsg-send.png"));
    const QImage imsgRec = resourceAtWidth(QStringLiteral(":/res/imsg-rec.png"));
    const QImage smsSent = resourceAtWidth(QStringLiteral(":/res/icon_sms-sent.png"));
    const QImage smsRec = resourceAtWidth(QStringLiteral(":/res/icon_sms-receive.png"));
    for (const QImage &i : {imsgSend, imsgRec, smsSent, smsRec})
        ASSERT_FALSE(i.isNull());

    struct Case
    {
        QString service;
        bool sent;
        QImage icon;
    };
    const Case cases[] = {
        {"iMessage", true, imsgSend},
        {"iMessage", false, imsgRec},
        {"imessage", false, imsgRec},
        {"IMESSAGE", true, imsgSend},
        {"SMS", true, smsSent},
        {"SMS", false, smsRec},
        {"", false, smsRec},
        {"iMessages", true, smsSent},
    };
    QList<_MsgMessage *> list;
    for (const Case &c : cases) {
        _MsgMessage *m = b.message(nullptr, list.size() + 1, 0);
        m->service = c.service;
        m->is_from_me = c.sent ? 1 : 0;
        list.append(m);
    }
    ItemModelSms model;
    model.setMessages(list);
    for (int row = 0; row < list.size(); ++row) {
        SCOPED_TRACE(row);
        EXPECT_EQ(model.data(model.index(row, 0), Qt::DecorationRole).value<QImage>(), cases[row].icon);
        for (int column = 1; column < 4; ++column)
            EXPECT_FALSE(model.data(model.index(row, column), Qt::DecorationRole).isValid());
    }
}

TEST_F(ItemModelSmsTest, ColoursAndRowHeightInEveryColumn)
{
    struct Case
    {
        const char *name;
        bool sent;
        bool deleted;
        QColor background;
        bool red;
    };
    const Case cases[] = {
        {"Sent", true, false, QColor(245, 255, 226), false},
        {"Received", false, false, QColor(255, 255, 255), false},
        {"SentDeleted", true, true, QColor(245, 255, 226), true},
        {"ReceivedDeleted", false, true, QColor(255, 255, 255), true},
    };
    QList<_MsgMessage *> list;
    for (const Case &c : cases) {
        _MsgMessage *m = b.message(nullptr, list.size() + 1, 0);
        m->is_from_me = c.sent ? 1 : 0;
        m->_deleted = c.deleted;
        list.append(m);
    }
    ItemModelSms model;
    model.setMessages(list);
    for (int row = 0; row < list.size(); ++row) {
        const Case &c = cases[row];
        SCOPED_TRACE(c.name);
        for (int column = 0; column < 4; ++column) {
            const QModelIndex index = model.index(row, column);
            const QBrush background = model.data(index, Qt::BackgroundRole).value<QBrush>();
            EXPECT_EQ(background.style(), Qt::SolidPattern);
            EXPECT_EQ(background.color(), c.background);
            const QVariant foreground = model.data(index, Qt::ForegroundRole);
            if (c.red)
                EXPECT_EQ(foreground.value<QBrush>().color(), QColor(255, 0, 0));
            else
                EXPECT_FALSE(foreground.isValid());
            EXPECT_EQ(model.data(index, Qt::SizeHintRole).toSize(), QSize(0, 23));
            EXPECT_FALSE(model.data(index, Qt::EditRole).isValid());
        }
    }
}

TEST_F(ItemModelSmsTest, IndexesOfTheFlatList)
{
    QList<_MsgMessage *> list;
    for (int i = 1; i <= 3; ++i)
        list.append(b.message(nullptr, i, i));
    ItemModelSms model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
    model.setMessages(list);

    struct Case
    {
        int row;
        bool valid;
    };
    for (const Case &c : {Case{-1, false}, Case{0, true}, Case{2, true}, Case{3, false}}) {
        SCOPED_TRACE(c.row);
        const QModelIndex index = model.rowIndex(c.row);
        EXPECT_EQ(index.isValid(), c.valid);
        if (c.valid) {
            EXPECT_EQ(index.column(), 0);
            EXPECT_EQ(model.messageOf(index), list.at(c.row));
        }
    }
    // Only the first column carries the message.
    EXPECT_EQ(model.messageOf(model.index(1, 0)), list.at(1));
    for (int column = 1; column < 4; ++column)
        EXPECT_EQ(model.messageOf(model.index(1, column)), nullptr);
    EXPECT_EQ(model.messageOf(QModelIndex()), nullptr);

    // No cell has children, in any column.
    for (int column = 0; column < 4; ++column) {
        SCOPED_TRACE(column);
        const QModelIndex cell = model.index(1, column);
        EXPECT_EQ(model.rowCount(cell), 0);
        EXPECT_FALSE(model.hasChildren(cell));
        EXPECT_FALSE(model.index(0, 0, cell).isValid());
        EXPECT_FALSE(model.parent(cell).isValid());
    }
    EXPECT_FALSE(model.index(0, 4).isValid());
}

TEST_F(ItemModelSmsTest, ReplacingAndClearingResetTheModel)
{
    QList<_MsgMessage *> list{b.message(nullptr, 1, 0), b.message(nullptr, 2, 0)};
    ItemModelSms model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
    QSignalSpy reset(&model, &QAbstractItemModel::modelReset);
    model.setMessages(list);
    EXPECT_EQ(model.rowCount(), 2);
    EXPECT_EQ(model.messages(), list);
    model.setMessages({list.at(1)});
    EXPECT_EQ(model.rowCount(), 1);
    model.clear();
    EXPECT_EQ(model.rowCount(), 0);
    EXPECT_TRUE(model.messages().isEmpty());
    EXPECT_EQ(reset.size(), 3);
}

} // namespace
