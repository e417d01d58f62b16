#include <QAbstractItemModelTester>
#include <QBrush>
#include <QBuffer>
#include <QImage>
#include <QSignalSpy>
#include <QTranslator>

#include <gtest/gtest.h>

#include "ItemModelMain.h"
#include "MsgSetBuilder.h"
#include "_ChatSessionItemNode.h"
#include "_IOSDeviceItemNode.h"
#include "_LocalDBItemNode.h"
#include "_RootDeviceItemNode.h"
#include "_RootLocalDBItemNode.h"

namespace
{

using Node = AbsTreeItemModel::_ItemNode;

// Lets a test hang nodes of any type into the tree.
class ProbeModel : public ItemModelMain
{
public:
    Node *addPlain(Node *parent, int type, const QString &name)
    {
        auto *node = new Node(type, name, parent);
        appendNode(parent, node);
        return node;
    }
    void add(Node *parent, Node *node) { appendNode(parent, node); }
};

QImage resourceAtWidth(const QString &path)
{
    return QImage(path).scaledToWidth(18, Qt::FastTransformation);
}

QByteArray encoded(const QImage &image, const char *format)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return bytes;
}

QImage solid(int w, int h, QColor colour)
{
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(colour);
    return image;
}

QStringList childNames(const Node *node)
{
    QStringList names;
    for (const Node *child : node->children)
        names.append(child->name);
    return names;
}

class ItemModelMainTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_translator.load(QStringLiteral(":/en.qm")));
        QCoreApplication::installTranslator(&m_translator);
    }
    void TearDown() override { QCoreApplication::removeTranslator(&m_translator); }

    // A local database whose record set the builder fills.
    _LocalDBItemNode *addSource(ItemModelMain &model, const QString &name = QStringLiteral("db"))
    {
        return model.addLocalDb(QSharedPointer<AbsMessageDb>(), name);
    }

private:
    QTranslator m_translator;
};

TEST_F(ItemModelMainTest, FreshTreeHasTheTwoRoots)
{
    ItemModelMain model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
    ASSERT_EQ(model.rowCount(), 2);
    EXPECT_EQ(model.columnCount(), 1);
    const QModelIndex devices = model.index(0, 0);
    const QModelIndex local = model.index(1, 0);
    EXPECT_EQ(model.data(devices).toString(), QStringLiteral("Devices"));
    EXPECT_EQ(model.data(local).toString(), QStringLiteral("Local Databases"));
    EXPECT_EQ(model.data(local, Qt::ToolTipRole).toString(), QStringLiteral("Local Databases"));
    EXPECT_EQ(model.nodeOf(devices), model.deviceRoot());
    EXPECT_EQ(model.nodeOf(local), model.localDbRoot());
    EXPECT_EQ(model.deviceRoot()->type, 1);
    EXPECT_EQ(model.localDbRoot()->type, 2);
    EXPECT_EQ(model.rowCount(devices), 0);
    EXPECT_EQ(model.rowCount(local), 0);
    for (int role : {int(Qt::DisplayRole), int(Qt::ToolTipRole)}) {
        EXPECT_FALSE(model.headerData(0, Qt::Horizontal, role).isValid());
        EXPECT_FALSE(model.headerData(0, Qt::Vertical, role).isValid());
    }
}

TEST_F(ItemModelMainTest, PicturesAndSizeByNodeType)
{
    struct Case
    {
        int type;
        const char *picture; // null: none
    };
    const Case cases[] = {
        {0, nullptr},
        {1, ":/res/devices.png"},
        {2, ":/res/databases.png"},
        {3, ":/res/iphone.png"},
        {4, ":/res/android.png"},
        {5, ":/res/database.png"},
        {7, nullptr},
    };
    ProbeModel model;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.type);
        Node *node = model.addPlain(model.localDbRoot(), c.type, QStringLiteral("n"));
        const QModelIndex index = model.indexOfNode(node);
        const QVariant picture = model.data(index, Qt::DecorationRole);
        if (!c.picture) {
            EXPECT_FALSE(picture.isValid());
        } else {
            const QImage expected = resourceAtWidth(QString::fromLatin1(c.picture));
            ASSERT_FALSE(expected.isNull());
            EXPECT_EQ(picture.value<QImage>().width(), 18);
            EXPECT_EQ(picture.value<QImage>(), expected);
        }
        EXPECT_EQ(model.data(index, Qt::SizeHintRole).toSize(), QSize(0, 25));
        EXPECT_FALSE(model.data(index, Qt::ForegroundRole).isValid());
        EXPECT_FALSE(model.data(index, Qt::EditRole).isValid());
        EXPECT_FALSE(model.data(index, Qt::BackgroundRole).isValid());
    }
    EXPECT_FALSE(model.data(QModelIndex()).isValid());
}

TEST_F(ItemModelMainTest, RecycledConversationsArePaintedRed)
{
    struct Case
    {
        qint64 rowid;
        bool red;
    };
    const Case cases[] = {
        {5, false},
        {0, false},
        {-1, false},
        {-1947483646, false},
        {-1947483647, true},
        {-2047483647, true},
        {Q_INT64_C(-5000000000), true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.rowid);
        ItemModelMain model;
        _LocalDBItemNode *source = addSource(model);
        MsgSetBuilder b(source->dataSet);
        b.chat(c.rowid, QStringLiteral("+100"), 10);
        model.loadChatSessions(source);
        ASSERT_EQ(source->children.size(), 1);
        const QVariant paint = model.data(model.indexOfNode(source->children.first()), Qt::ForegroundRole);
        if (c.red)
            EXPECT_EQ(paint.value<QBrush>().color(), QColor(255, 0, 0));
        else
            EXPECT_FALSE(paint.isValid());
    }
}

TEST_F(ItemModelMainTest, ConversationPictures)
{
    const QImage contact = resourceAtWidth(QStringLiteral(":/res/contact.png"));
    const QImage group = resourceAtWidth(QStringLiteral(":/res/group.png"));
    const QImage wide = solid(40, 20, Qt::red);
    const QImage jpegPhoto = QImage::fromData(encoded(wide, "JPEG"), "JPEG").scaledToHeight(18, Qt::FastTransformation);
    const QImage pngPhoto = wide.scaledToHeight(18, Qt::FastTransformation);

    struct Case
    {
        const char *name;
        QList<QByteArray> photos; // one handle per entry
        QImage expected;
    };
    const Case cases[] = {
        {"NoHandle", {}, contact},
        {"HandleWithoutPhoto", {QByteArray()}, contact},
        {"JpegPhoto", {encoded(wide, "JPEG")}, jpegPhoto},
        {"PngPhoto", {encoded(wide, "PNG")}, pngPhoto},
        {"PhotoThatDoesNotDecode", {QByteArray("not a picture")}, contact},
        {"TwoHandlesOneWithPhoto", {encoded(wide, "PNG"), QByteArray()}, group},
        {"ThreeHandles", {QByteArray(), QByteArray(), QByteArray()}, group},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        ItemModelMain model;
        _LocalDBItemNode *source = addSource(model);
        MsgSetBuilder b(source->dataSet);
        _MsgChat *chat = b.chat(1, QStringLiteral("id"), 10);
        for (int i = 0; i < c.photos.size(); ++i)
            b.handle(chat, i + 1, QStringLiteral("+10%1").arg(i))->_photo = c.photos.at(i);
        model.loadChatSessions(source);
        ASSERT_EQ(source->children.size(), 1);
        const QModelIndex index = model.indexOfNode(source->children.first());
        const QImage shown = model.data(index, Qt::DecorationRole).value<QImage>();
        EXPECT_EQ(shown.size(), c.expected.size());
        EXPECT_EQ(shown, c.expected);
        // Asked again (every paint), the same picture comes back.
        EXPECT_EQ(model.data(index, Qt::DecorationRole).value<QImage>(), shown);
    }
}

TEST_F(ItemModelMainTest, SessionWithoutChatsHasNoPicture)
{
    ProbeModel model;
    _LocalDBItemNode *source = addSource(model);
    auto *session = new _ChatSessionItemNode(source, _MsgChatGroup{});
    model.add(source, session); // loadChatSessions never builds one; the model still copes
    EXPECT_EQ(session->name, QString());
    const QModelIndex index = model.indexOfNode(session);
    EXPECT_FALSE(model.data(index, Qt::DecorationRole).isValid());
    EXPECT_FALSE(model.data(index, Qt::ForegroundRole).isValid());
}

TEST_F(ItemModelMainTest, SessionsAreGroupedByIdentifierNewestFirst)
{
    ItemModelMain model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
    _LocalDBItemNode *source = addSource(model);
    MsgSetBuilder b(source->dataSet);
    _MsgChat *annA = b.chat(1, QStringLiteral("+1555"), 10);
    b.handle(annA, 1, QStringLiteral("+1555"), QStringLiteral("Ann"));
    _MsgChat *bob = b.chat(2, QStringLiteral("+1666"), 15);
    b.handle(bob, 2, QStringLiteral("+1666"), QStringLiteral("Bob"));
    _MsgChat *annB = b.chat(3, QStringLiteral("+1555"), 20);
    b.handle(annB, 3, QStringLiteral("+1555"), QStringLiteral("Ann Other"));
    _MsgChat *cat = b.chat(4, QStringLiteral("cat@example.org"), 5);
    b.handle(cat, 4, QStringLiteral("cat@example.org"));

    model.loadChatSessions(source);

    ASSERT_EQ(source->children.size(), 3);
    // The group is named after its first chat, without numbers.
    EXPECT_EQ(childNames(source), (QStringList{"Ann", "Bob", "cat@example.org"}));
    const auto *ann = static_cast<_ChatSessionItemNode *>(source->children.at(0));
    EXPECT_EQ(ann->type, 6);
    EXPECT_EQ(ann->parent, source);
    EXPECT_EQ(ann->last, 20);
    EXPECT_EQ(ann->chats, (QList<_MsgChat *>{annA, annB}));
    EXPECT_EQ(static_cast<_ChatSessionItemNode *>(source->children.at(1))->last, 15);
    EXPECT_EQ(model.rowCount(model.indexOfNode(source)), 3);
    EXPECT_EQ(model.data(model.indexOfNode(ann)).toString(), QStringLiteral("Ann"));
}

TEST_F(ItemModelMainTest, LoadingSessionsAgainGivesOneSetOfNodes)
{
    ItemModelMain model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
    _LocalDBItemNode *source = addSource(model);
    MsgSetBuilder b(source->dataSet);
    b.chat(1, QStringLiteral("a"), 1);
    b.chat(2, QStringLiteral("b"), 2);

    QSignalSpy removed(&model, &QAbstractItemModel::rowsRemoved);
    QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
    model.loadChatSessions(source);
    EXPECT_EQ(removed.size(), 0);
    ASSERT_EQ(inserted.size(), 1);
    model.loadChatSessions(source);

    EXPECT_EQ(source->children.size(), 2);
    EXPECT_EQ(model.rowCount(model.indexOfNode(source)), 2);
    ASSERT_EQ(removed.size(), 1);
    ASSERT_EQ(inserted.size(), 2);
    for (const QList<QVariant> &signal : {removed.at(0), inserted.at(1)}) {
        EXPECT_EQ(signal.at(0).value<QModelIndex>(), model.indexOfNode(source));
        EXPECT_EQ(signal.at(1).toInt(), 0);
        EXPECT_EQ(signal.at(2).toInt(), 1);
    }
}

TEST_F(ItemModelMainTest, EmptySourceGetsNoSessionsAndNoSignal)
{
    ItemModelMain model;
    _LocalDBItemNode *source = addSource(model);
    QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
    model.loadChatSessions(source);
    model.loadChatSessions(nullptr);
    EXPECT_TRUE(source->children.isEmpty());
    EXPECT_EQ(inserted.size(), 0);
}

TEST_F(ItemModelMainTest, LocalDatabasesAreAppendedAndAnnounced)
{
    ItemModelMain model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
    QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
    _LocalDBItemNode *first = addSource(model, QStringLiteral("alpha"));
    _LocalDBItemNode *second = addSource(model, QStringLiteral("beta"));
    EXPECT_EQ(first->type, 5);
    EXPECT_EQ(first->parent, model.localDbRoot());
    EXPECT_FALSE(first->dataSet.isNull());
    EXPECT_EQ(childNames(model.localDbRoot()), (QStringList{"alpha", "beta"}));
    ASSERT_EQ(inserted.size(), 2);
    EXPECT_EQ(inserted.at(1).at(0).value<QModelIndex>(), model.indexOfNode(model.localDbRoot()));
    EXPECT_EQ(inserted.at(1).at(1).toInt(), 1);
    EXPECT_EQ(model.indexOfNode(second).row(), 1);
    EXPECT_EQ(model.countChildrenOfType(model.localDbRoot(), 5), 2);
}

TEST_F(ItemModelMainTest, DevicesAreAppendedAndCounted)
{
    ItemModelMain model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
    QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
    _IOSDeviceItemNode *phone = model.addDevice(QSharedPointer<AbsMessageDb>(), nullptr, QStringLiteral("Ann's phone"));
    _IOSDeviceItemNode *stored = model.addDevice(QSharedPointer<AbsMessageDb>(), nullptr, QStringLiteral("stored"));
    addSource(model);
    EXPECT_EQ(phone->type, 3);
    EXPECT_EQ(phone->parent, model.deviceRoot());
    EXPECT_FALSE(phone->dataSet.isNull());
    EXPECT_EQ(childNames(model.deviceRoot()), (QStringList{"Ann's phone", "stored"}));
    EXPECT_EQ(model.countChildrenOfType(model.deviceRoot(), 3), 2);
    EXPECT_EQ(model.countChildrenOfType(model.localDbRoot(), 3), 0);
    ASSERT_EQ(inserted.size(), 3);
    EXPECT_EQ(inserted.at(1).at(0).value<QModelIndex>(), model.indexOfNode(model.deviceRoot()));
    EXPECT_EQ(inserted.at(1).at(1).toInt(), 1);
    const QModelIndex index = model.indexOfNode(stored);
    EXPECT_EQ(model.data(index).toString(), QStringLiteral("stored"));
    EXPECT_EQ(model.data(index, Qt::DecorationRole).value<QImage>(), resourceAtWidth(QStringLiteral(":/res/iphone.png")));

    // A device's conversations are built the same way as a database's.
    MsgSetBuilder b(phone->dataSet);
    b.chat(1, QStringLiteral("x"), 1);
    model.loadChatSessions(phone);
    EXPECT_EQ(model.rowCount(model.indexOfNode(phone)), 1);
    model.removeNode(phone);
    EXPECT_EQ(model.countChildrenOfType(model.deviceRoot(), 3), 1);
    EXPECT_EQ(model.indexOfNode(stored).row(), 0);
}

TEST_F(ItemModelMainTest, RemovingAMiddleConversationKeepsTheOthersInPlace)
{
    ItemModelMain model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
    _LocalDBItemNode *source = addSource(model);
    MsgSetBuilder b(source->dataSet);
    for (int i = 1; i <= 4; ++i)
        b.chat(i, QStringLiteral("c%1").arg(i), 100 - i);
    model.loadChatSessions(source);
    ASSERT_EQ(source->children.size(), 4);
    Node *third = source->children.at(2);
    Node *fourth = source->children.at(3);
    const QPersistentModelIndex fourthIndex(model.indexOfNode(fourth));

    model.removeNode(source->children.at(1));

    EXPECT_EQ(fourthIndex.row(), 2);
    EXPECT_EQ(model.nodeOf(fourthIndex), fourth);
    EXPECT_EQ(model.indexOfNode(third).row(), 1);
    EXPECT_EQ(model.nodeOf(model.index(2, 0, model.indexOfNode(source))), fourth);
    EXPECT_EQ(model.parent(model.indexOfNode(fourth)), model.indexOfNode(source));
}

TEST_F(ItemModelMainTest, ShownConversationOutlivesItsFreedChats)
{
    // Deleting a conversation frees its chat records and then takes its node
    // out of the tree; whatever the views ask in between must not reach the
    // freed records (the address sanitizer watches).
    ItemModelMain model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
    _LocalDBItemNode *source = addSource(model);
    MsgSetBuilder b(source->dataSet);
    _MsgChat *chat = b.chat(-1947483650, QStringLiteral("gone"), 5);
    b.handle(chat, 1, QStringLiteral("+1555"));
    model.loadChatSessions(source);
    Node *session = source->children.first();
    const QModelIndex index = model.indexOfNode(session);
    const QImage shown = model.data(index, Qt::DecorationRole).value<QImage>();

    source->dataSet.data()->chats.remove(chat->rowid);
    delete chat;

    QSignalSpy aboutToRemove(&model, &QAbstractItemModel::rowsAboutToBeRemoved);
    QObject::connect(&model, &QAbstractItemModel::rowsAboutToBeRemoved, [&] {
        for (int role : {int(Qt::DisplayRole), int(Qt::DecorationRole), int(Qt::ForegroundRole)})
            model.data(index, role);
    });
    EXPECT_EQ(model.data(index).toString(), QStringLiteral("+1555"));
    EXPECT_EQ(model.data(index, Qt::DecorationRole).value<QImage>(), shown);
    EXPECT_EQ(model.data(index, Qt::ForegroundRole).value<QBrush>().color(), QColor(255, 0, 0));
    model.removeNode(session);
    EXPECT_EQ(aboutToRemove.size(), 1);
    EXPECT_TRUE(source->children.isEmpty());
}

TEST_F(ItemModelMainTest, RemovingASourceFreesItsSessionsAndRecords)
{
    // Run under the address sanitizer: the sessions point into the records
    // of their source, which must outlive them.
    ItemModelMain model;
    _LocalDBItemNode *source = addSource(model);
    MsgSetBuilder b(source->dataSet);
    _MsgChat *chat = b.chat(1, QStringLiteral("a"), 1);
    b.message(chat, 1, 1, QStringLiteral("hi"));
    model.loadChatSessions(source);
    model.removeNode(source);
    EXPECT_EQ(model.rowCount(model.indexOfNode(model.localDbRoot())), 0);
}

} // namespace
