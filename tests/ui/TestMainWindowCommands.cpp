#include <QComboBox>
#include <QCoreApplication>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QTest>
#include <QToolButton>
#include <QTextDocument>
#include <QTranslator>

#include <gtest/gtest.h>

#include <functional>
#include <iterator>
#include <memory>

#include "AboutUsForm.h"
#include "AppFolders.h"
#include "AppHomeFixture.h"
#include "CaseName.h"
#include "CountrySelForm.h"
#include "DataSourceSelForm.h"
#include "IOS6MessageDb.h"
#include "IOS6SmsDbFixture.h"
#include "IOSDevice.h"
#include "ItemModelMain.h"
#include "ItemModelSms.h"
#include "LocalDbSelForm.h"
#include "MessageBoxAnswerer.h"
#include "MessageOrder.h"
#include "MessageText.h"
#include "ModalDriver.h"
#include "MyTreeView.h"
#include "OpenMainWindow.h"
#include "RecordingShellOpener.h"
#include "SampleConversations.h"
#include "SampleLocalDb.h"
#include "ServiceUrlScope.h"
#include "SmsBrowser.h"
#include "_ChatSessionItemNode.h"
#include "_IOSDeviceItemNode.h"
#include "_LocalDBItemNode.h"
#include "_RootDeviceItemNode.h"
#include "_RootLocalDBItemNode.h"

namespace
{

using AbsNode = AbsTreeItemModel::_ItemNode;

// What the user reads in a rich-text box.
QString plain(const QString &richText)
{
    QTextDocument doc;
    doc.setHtml(richText);
    return doc.toPlainText();
}

QStringList guidsOf(const QList<_MsgMessage *> &messages)
{
    QStringList guids;
    for (const _MsgMessage *m : messages)
        guids.append(m->guid);
    return guids;
}

// Adds one received message to the first conversation of a stored device's
// file, from outside the program.
void addDeviceMessage(const QDir &device, const QString &guid, int date)
{
    Sqlite3DB db;
    db.openThrow(IOS6SmsDbFixture::smsDbPath(device), Sqlite3DB::ReadWrite);
    QString error;
    const QString sql = QStringLiteral("insert into message (guid, text, date, handle_id, is_from_me) values ('%1', "
                                       "'late news', %2, 1, 0);"
                                       "insert into chat_message_join (chat_id, message_id) values (1, "
                                       "last_insert_rowid());")
                            .arg(guid)
                            .arg(date);
    ASSERT_EQ(db.exec(sql, error), 0) << error.toStdString();
}

// The window over a home that the test fills first, with the English texts,
// a recording desktop and answered boxes.
class CommandsTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(translator.load(QStringLiteral(":/en.qm")));
        QCoreApplication::installTranslator(&translator);
    }
    void TearDown() override
    {
        window.reset();
        QCoreApplication::removeTranslator(&translator);
    }

    void build()
    {
        window = std::make_unique<OpenMainWindow>();
        model = window->mainModel();
        sms = window->smsModel();
    }
    // The sample local database "Archive", selected once so that its
    // conversations are listed.
    void buildWithArchive()
    {
        SampleLocalDb::write(QStringLiteral("Archive"));
        build();
        window->makeCurrent(archive());
        ASSERT_EQ(archive()->children.size(), 2);
    }

    AbsNode *archive() const { return model->localDbRoot()->children.value(0); }
    AbsNode *session(const QString &name) const
    {
        for (AbsNode *source : model->collectNodes()) {
            if (source->type == _ChatSessionItemNode::Type && source->name == name)
                return source;
        }
        return nullptr;
    }
    QStringList shownGuids() const { return guidsOf(sms->messages()); }
    int currentRow() const { return window->messageList()->currentIndex().row(); }
    QStringList boxTexts() const
    {
        QStringList texts;
        for (const MessageBoxAnswerer::Shown &s : boxes.shown())
            texts.append(plain(s.text));
        return texts;
    }

    QTranslator translator;
    ServiceUrlScope url{QStringLiteral("none:")};
    MessageBoxAnswerer boxes;
    RecordingShellOpener desktop;
    std::unique_ptr<OpenMainWindow> window;
    ItemModelMain *model = nullptr;
    ItemModelSms *sms = nullptr;
};

// --- selection -------------------------------------------------------------------

TEST_F(CommandsTest, ALocalDatabaseIsReadWhenFirstSelectedAndShowsAllItsMessages)
{
    SampleLocalDb::write(QStringLiteral("Archive"));
    build();
    EXPECT_TRUE(archive()->children.isEmpty());
    window->makeCurrent(archive());

    QStringList names;
    for (const AbsNode *n : archive()->children)
        names.append(n->name);
    EXPECT_EQ(names.size(), 2) << names.join(QLatin1Char(',')).toStdString();
    EXPECT_EQ(shownGuids(), (QStringList{"MSG-1", "MSG-2", "MSG-3", "MSG-4", "MSG-5", "MSG-6"}));
    EXPECT_EQ(window->conversationView()->messages(), sms->messages());
    EXPECT_EQ(window->countLabel()->text(), QStringLiteral("SMS: 6"));
    // The node opens once the event loop has run.
    const QModelIndex index = model->indexOfNode(archive());
    QCoreApplication::processEvents();
    EXPECT_TRUE(window->sourceTree()->isExpanded(index));
    EXPECT_TRUE(boxes.shown().isEmpty());
}

TEST_F(CommandsTest, ALocalDatabaseSelectedAgainShowsWhatWasReadWithoutReadingAgain)
{
    buildWithArchive();
    window->makeCurrent(model->localDbRoot());
    // Behind the program's back: a second read would no longer find these.
    Sqlite3DB db;
    db.openThrow(SampleLocalDb::smsDbPath(QStringLiteral("Archive")), Sqlite3DB::ReadWrite);
    QString error;
    ASSERT_EQ(db.exec(QStringLiteral("delete from chat_message_join; delete from message;"), error), 0);
    db.close();

    window->makeCurrent(archive());
    EXPECT_EQ(shownGuids().size(), 6);
}

TEST_F(CommandsTest, ADeviceIsReadAgainEachTimeItIsSelected)
{
    const QDir phone = AppHomeFixture::addStoredDevice(QStringLiteral("Desk Phone"), 2);
    build();
    AbsNode *device = model->deviceRoot()->children.value(0);
    ASSERT_NE(device, nullptr);
    window->makeCurrent(device);
    EXPECT_EQ(shownGuids().size(), 4);
    EXPECT_EQ(window->countLabel()->text(), QStringLiteral("SMS: 4"));

    window->makeCurrent(model->deviceRoot());
    addDeviceMessage(phone, QStringLiteral("LATE-1"), 500000000);
    window->makeCurrent(device);
    EXPECT_EQ(shownGuids().size(), 5);
    EXPECT_TRUE(shownGuids().contains(QStringLiteral("LATE-1")));
}

TEST_F(CommandsTest, AConversationShowsTheMessagesOfItsChats)
{
    buildWithArchive();
    AbsNode *group = session(QStringLiteral("Weekend"));
    ASSERT_NE(group, nullptr);
    window->makeCurrent(group);
    EXPECT_EQ(shownGuids(), (QStringList{"MSG-4", "MSG-5", "MSG-6"}));
    EXPECT_EQ(window->countLabel()->text(), QStringLiteral("SMS: 3"));
}

TEST_F(CommandsTest, AConversationOfADeviceNotYetSelectedShowsItsMessages)
{
    AppHomeFixture::addStoredDevice(QStringLiteral("Desk Phone"), 2);
    build();
    AbsNode *device = model->deviceRoot()->children.value(0);
    ASSERT_NE(device, nullptr);
    ASSERT_EQ(device->children.size(), 2);
    window->makeCurrent(device->children[0]);
    EXPECT_EQ(shownGuids().size(), 2);
}

TEST_F(CommandsTest, RootsAndEmptyDatabasesEmptyTheList)
{
    AppHomeFixture::addLocalDatabase(QStringLiteral("Empty"));
    buildWithArchive();
    ASSERT_EQ(shownGuids().size(), 6);

    for (AbsNode *node : {static_cast<AbsNode *>(model->deviceRoot()), model->localDbRoot()->children.value(1)}) {
        ASSERT_NE(node, nullptr);
        window->makeCurrent(archive());
        ASSERT_EQ(shownGuids().size(), 6);
        window->makeCurrent(node);
        EXPECT_TRUE(shownGuids().isEmpty()) << node->name.toStdString();
        EXPECT_TRUE(window->conversationView()->messages().isEmpty());
        EXPECT_EQ(window->countLabel()->text(), QStringLiteral("SMS: 0"));
    }
    EXPECT_TRUE(boxes.shown().isEmpty());
}

TEST_F(CommandsTest, ADatabaseThatCannotBeReadShowsTheErrorAndKeepsTheList)
{
    const QDir broken = AppHomeFixture::addLocalDatabase(QStringLiteral("Broken"));
    AppHomeFixture::writeDamagedSmsDb(broken);
    buildWithArchive();
    boxes.click(QMessageBox::Ok);
    window->makeCurrent(model->localDbRoot()->children.value(1));
    ASSERT_EQ(boxes.shown().size(), 1);
    EXPECT_EQ(boxes.shown()[0].icon, QMessageBox::Critical);
    EXPECT_EQ(shownGuids().size(), 6);
}

TEST_F(CommandsTest, SelectingARowShowsItsPageInTheConversationView)
{
    // More messages than one page holds.
    AppHomeFixture::addStoredDevice(QStringLiteral("Desk Phone"), 40);
    build();
    window->makeCurrent(model->deviceRoot()->children.value(0));
    ASSERT_EQ(shownGuids().size(), 80);
    EXPECT_EQ(window->conversationView()->currentPage(), 1);
    window->selectRows({75});
    EXPECT_EQ(window->conversationView()->currentPage(), 2);
    EXPECT_EQ(guidsOf(window->selectedMessages()), QStringList{shownGuids().at(75)});
}

TEST_F(CommandsTest, SelectNodeMakesTheNodeCurrentOnceTheCallerHasReturned)
{
    buildWithArchive();
    window->makeCurrent(model->deviceRoot());
    AbsNode *group = session(QStringLiteral("Weekend"));
    window->selectNode(group);
    EXPECT_EQ(window->currentNode(), model->deviceRoot());
    QCoreApplication::processEvents();
    EXPECT_EQ(window->currentNode(), group);
    EXPECT_EQ(shownGuids(), (QStringList{"MSG-4", "MSG-5", "MSG-6"}));
}

TEST_F(CommandsTest, SelectNodeOfANodeRemovedMeanwhileSelectsNothing)
{
    buildWithArchive();
    window->makeCurrent(model->deviceRoot());
    AbsNode *group = session(QStringLiteral("Weekend"));
    window->selectNode(group);
    model->removeNode(group);
    QCoreApplication::processEvents();
    EXPECT_EQ(window->currentNode(), model->deviceRoot());
}

TEST_F(CommandsTest, RemovingTheSourceOnShowEmptiesTheListFirst)
{
    buildWithArchive();
    window->makeCurrent(session(QStringLiteral("Weekend")));
    ASSERT_FALSE(shownGuids().isEmpty());
    // Another node is current; the list still shows the records of Archive.
    window->sourceTree()->selectionModel()->setCurrentIndex(model->indexOfNode(model->deviceRoot()),
                                                            QItemSelectionModel::NoUpdate);
    model->removeNode(archive());
    EXPECT_TRUE(sms->messages().isEmpty());
    EXPECT_TRUE(window->conversationView()->messages().isEmpty());
    EXPECT_EQ(window->countLabel()->text(), QStringLiteral("SMS: 0"));
}

TEST_F(CommandsTest, MessagesOfCurrentNodeReadsTheWholeSourceSorted)
{
    buildWithArchive();
    window->makeCurrent(model->localDbRoot());
    EXPECT_TRUE(window->messagesOfCurrentNode().isEmpty());
    window->makeCurrent(session(QStringLiteral("Weekend")));
    EXPECT_TRUE(window->messagesOfCurrentNode().isEmpty());
    window->sourceTree()->selectionModel()->setCurrentIndex(model->indexOfNode(archive()),
                                                            QItemSelectionModel::NoUpdate);
    EXPECT_EQ(guidsOf(window->messagesOfCurrentNode()),
              (QStringList{"MSG-1", "MSG-2", "MSG-3", "MSG-4", "MSG-5", "MSG-6"}));
}

// --- sorting ---------------------------------------------------------------------

class SortTest : public CommandsTest
{
protected:
    void SetUp() override
    {
        CommandsTest::SetUp();
        AppHomeFixture::addStoredDevice(QStringLiteral("Desk Phone"), 6);
        build();
        window->resize(1000, 680);
        window->show();
        window->makeCurrent(model->deviceRoot()->children.value(0));
        ASSERT_EQ(shownGuids().size(), 12);
        all = sms->messages();
    }

    void clickHeader(int section)
    {
        QHeaderView *header = window->messageList()->header();
        const QPoint at(header->sectionViewportPosition(section) + header->sectionSize(section) / 2,
                        header->height() / 2);
        QTest::mouseClick(header->viewport(), Qt::LeftButton, Qt::NoModifier, at);
    }
    QList<_MsgMessage *> sorted(Qt::SortOrder order) const
    {
        QList<_MsgMessage *> list = all;
        sortMessages(list, order);
        return list;
    }

    QList<_MsgMessage *> all;
};

TEST_F(SortTest, TheListStartsOldestFirst)
{
    EXPECT_EQ(sms->messages(), sorted(Qt::AscendingOrder));
    EXPECT_EQ(window->messageList()->header()->sortIndicatorSection(), 0);
    EXPECT_EQ(window->messageList()->header()->sortIndicatorOrder(), Qt::AscendingOrder);
}

struct ClickCase
{
    const char *name;
    QList<int> sections; // clicked in this order
    Qt::SortOrder expected;
};

void PrintTo(const ClickCase &c, std::ostream *os)
{
    *os << c.name;
}

class HeaderClickTest : public SortTest, public ::testing::WithParamInterface<ClickCase>
{
};

TEST_P(HeaderClickTest, OnlyTheDateColumnSortsAndTheListStaysInOrder)
{
    for (int section : GetParam().sections) {
        clickHeader(section);
        const QHeaderView *header = window->messageList()->header();
        EXPECT_EQ(header->sortIndicatorSection(), 0);
        // Every click leaves the whole list in one of the two orders.
        EXPECT_EQ(sms->messages(), sorted(header->sortIndicatorOrder()));
        EXPECT_EQ(window->conversationView()->messages(), sms->messages());
    }
    EXPECT_EQ(window->messageList()->header()->sortIndicatorOrder(), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, HeaderClickTest,
    ::testing::Values(ClickCase{"DateOnce", {0}, Qt::DescendingOrder},
        ClickCase{"DateTwice", {0, 0}, Qt::AscendingOrder},
        ClickCase{"ContactGoesBackToDateNewestFirst", {2}, Qt::DescendingOrder},
        ClickCase{"DirectionGoesBackToDateNewestFirst", {1}, Qt::DescendingOrder},
        ClickCase{"TextGoesBackToDateNewestFirst", {3}, Qt::DescendingOrder},
        ClickCase{"ContactAfterDateAscending", {0, 0, 2}, Qt::DescendingOrder},
        ClickCase{"DateAfterContact", {2, 0}, Qt::AscendingOrder},
        ClickCase{"ManyClicks", {2, 3, 0, 1, 0, 0, 2, 2, 3, 0}, Qt::AscendingOrder}),
    CaseName());

TEST_F(SortTest, MessagesCloseTogetherKeepAStrictOrderBothWays)
{
    // Keys close together against dates that say otherwise: the order of
    // the list is not transitive there, and must still sort without harm.
    const QList<_MsgMessage *> shown = sms->messages();
    for (int i = 0; i < shown.size(); ++i)
        shown[i]->date = 400000000 + (i % 3) * 200 - i * 10;
    clickHeader(0);
    EXPECT_EQ(sms->messages(), sorted(Qt::DescendingOrder));
    clickHeader(0);
    EXPECT_EQ(sms->messages(), sorted(Qt::AscendingOrder));
    EXPECT_EQ(sms->messages().size(), 12);
}

// --- message search --------------------------------------------------------------

struct SearchCase
{
    const char *name;
    QString keyword;
    int currentRow; // -1: none
    int expectedRow; // where the current row is afterwards; -1: none
    QString box; // the text shown; empty: no box
};

void PrintTo(const SearchCase &c, std::ostream *os)
{
    *os << c.name;
}

// The sample conversations on show, oldest first: 0 "Hello", 1 "Picture" and
// a picture, 2 "Nice", 3 "Who comes?", 4 "Me" and two pictures, 5 an event.
// The readers do not load attachments, so the set is shown as built.
class SampleListTest : public CommandsTest
{
protected:
    void buildWithSample()
    {
        build();
        window->showChatMessages(sample.messages());
        ASSERT_EQ(shownGuids(), (QStringList{"MSG-1", "MSG-2", "MSG-3", "MSG-4", "MSG-5", "MSG-6"}));
        ASSERT_EQ(messageText(sms->messages().value(1)), QStringLiteral("Picture  [IMAGE]"));
    }

    SampleConversations sample;
};

class MessageSearchTest : public SampleListTest, public ::testing::WithParamInterface<SearchCase>
{
};

TEST_P(MessageSearchTest, FindsTheNextMatchGoingRound)
{
    const SearchCase &c = GetParam();
    buildWithSample();
    if (c.currentRow >= 0)
        window->messageList()->setCurrentIndex(sms->rowIndex(c.currentRow));
    window->messageKeyword()->setText(c.keyword);
    if (!c.box.isEmpty())
        boxes.click(QMessageBox::Ok);
    window->searchMessages();

    EXPECT_EQ(currentRow(), c.expectedRow);
    EXPECT_EQ(boxTexts(), c.box.isEmpty() ? QStringList() : QStringList{c.box});
    if (c.expectedRow >= 0 && c.expectedRow != c.currentRow) {
        // The row found is selected and shown.
        EXPECT_EQ(guidsOf(window->selectedMessages()), QStringList{shownGuids().at(c.expectedRow)});
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, MessageSearchTest,
    ::testing::Values(SearchCase{"FromTheTop", QStringLiteral("nice"), -1, 2, QString()},
        SearchCase{"IgnoresLetterCase", QStringLiteral("WHO"), -1, 3, QString()},
        SearchCase{"PicturesByTheirTag", QStringLiteral("image"), -1, 1, QString()},
        SearchCase{"NextPicture", QStringLiteral("image"), 1, 4, QString()},
        SearchCase{"PictureAfterTheLastGoesRound", QStringLiteral("image"), 4, 1, QString()},
        SearchCase{"TheCurrentRowIsTriedLast", QStringLiteral("hello"), 0, 0, QString()},
        SearchCase{"OnlyMatchIsTheCurrentRow", QStringLiteral("comes"), 3, 3, QString()},
        SearchCase{"TrimmedKeyword", QStringLiteral("  nice \t"), -1, 2, QString()},
        SearchCase{"BlankKeywordDoesNothing", QStringLiteral("   "), 3, 3, QString()},
        SearchCase{"EmptyKeywordDoesNothing", QString(), -1, -1, QString()},
        SearchCase{"NoMatch", QStringLiteral("zebra"), 2, 2, QStringLiteral("Find no SMS with keyword zebra.")},
        SearchCase{"MarkupInTheKeywordIsShownAsTyped", QStringLiteral("<b>x</b>"), -1, -1,
                   QStringLiteral("Find no SMS with keyword <b>x</b>.")}),
    CaseName());

TEST_F(CommandsTest, MessageSearchInAnEmptyListSaysSo)
{
    build();
    window->messageKeyword()->setText(QStringLiteral("hello"));
    boxes.click(QMessageBox::Ok);
    window->searchMessages();
    EXPECT_EQ(boxTexts(), QStringList{QStringLiteral("Can't find any SMS.")});
}

TEST_F(SampleListTest, MessageSearchRunsFromItsButtonAndFromEnter)
{
    buildWithSample();
    window->messageKeyword()->setText(QStringLiteral("image"));
    QTest::keyClick(window->messageKeyword(), Qt::Key_Return);
    EXPECT_EQ(currentRow(), 1);
    QTest::mousePress(window->findChild<QToolButton *>(QStringLiteral("btnSearchSMS")), Qt::LeftButton);
    EXPECT_EQ(currentRow(), 4);
}

// --- contact search --------------------------------------------------------------

class ContactSearchTest : public CommandsTest
{
protected:
    // A device with four conversations "+15550000001" to "+15550000004".
    void SetUp() override
    {
        CommandsTest::SetUp();
        AppHomeFixture::addStoredDevice(QStringLiteral("Desk Phone"), 4);
        build();
        device = model->deviceRoot()->children.value(0);
        ASSERT_NE(device, nullptr);
        ASSERT_EQ(device->children.size(), 4);
        for (const AbsNode *n : device->children)
            names.append(n->name);
    }
    int currentSessionRow() const { return int(device->children.indexOf(window->currentNode())); }
    int rowNamed(const QString &suffix) const
    {
        for (int i = 0; i < names.size(); ++i) {
            if (names[i].endsWith(suffix))
                return i;
        }
        return -1;
    }

    AbsNode *device = nullptr;
    QStringList names;
};

TEST_F(ContactSearchTest, FromTheSourceTheFirstMatchingConversationWins)
{
    window->makeCurrent(device);
    window->contactKeyword()->setText(QStringLiteral("0000"));
    window->searchCotnact();
    EXPECT_EQ(currentSessionRow(), 0);
    EXPECT_FALSE(shownGuids().isEmpty());
}

TEST_F(ContactSearchTest, FromAConversationTheSearchStartsAfterItAndGoesRound)
{
    window->makeCurrent(device->children[1]);
    window->contactKeyword()->setText(QStringLiteral("  555 "));
    window->searchCotnact();
    EXPECT_EQ(currentSessionRow(), 2);
    window->makeCurrent(device->children[3]);
    window->searchCotnact();
    EXPECT_EQ(currentSessionRow(), 0);
    EXPECT_TRUE(boxes.shown().isEmpty());
}

TEST_F(ContactSearchTest, TheOnlyMatchBeingTheCurrentConversationIsFoundAgain)
{
    const int row = rowNamed(QStringLiteral("0003"));
    ASSERT_GE(row, 0) << names.join(QLatin1Char(',')).toStdString();
    window->makeCurrent(device->children[row]);
    window->contactKeyword()->setText(QStringLiteral("0003"));
    window->searchCotnact();
    EXPECT_EQ(currentSessionRow(), row);
    EXPECT_TRUE(boxes.shown().isEmpty());
}

TEST_F(ContactSearchTest, NoMatchSaysSoAndBlankOrRootsDoNothing)
{
    window->makeCurrent(device);
    window->contactKeyword()->setText(QStringLiteral("nobody"));
    boxes.click(QMessageBox::Ok);
    window->searchCotnact();
    EXPECT_EQ(boxTexts(), QStringList{QStringLiteral("Find no contact with keyword nobody.")});
    EXPECT_EQ(window->currentNode(), device);

    window->contactKeyword()->setText(QStringLiteral("   "));
    window->searchCotnact();
    window->makeCurrent(model->deviceRoot());
    window->contactKeyword()->setText(QStringLiteral("0001"));
    window->searchCotnact();
    EXPECT_EQ(window->currentNode(), model->deviceRoot());
    EXPECT_EQ(boxes.shown().size(), 1);
}

TEST_F(CommandsTest, ContactSearchOfASourceWithoutConversationsSaysNotFound)
{
    AppHomeFixture::addLocalDatabase(QStringLiteral("Empty"));
    build();
    window->makeCurrent(model->localDbRoot()->children.value(0));
    window->contactKeyword()->setText(QStringLiteral("ann"));
    boxes.click(QMessageBox::Ok);
    window->searchCotnact();
    EXPECT_EQ(boxTexts(), QStringList{QStringLiteral("Find no contact with keyword ann.")});
}

// --- folders and pages -----------------------------------------------------------

TEST_F(CommandsTest, PagesAndFoldersOpenOnTheDesktop)
{
    const QDir phone = AppHomeFixture::addStoredDevice(QStringLiteral("Desk Phone"), 1);
    SampleLocalDb::write(QStringLiteral("Archive"));
    build();
    ServiceUrlScope service(QStringLiteral("http://service.test/base"));

    window->miHelp();
    window->miFeedback();
    window->miOpenDbFolder();
    window->miHome();
    // Only on a device node.
    window->makeCurrent(archive());
    window->miViewCache();
    window->makeCurrent(model->deviceRoot()->children.value(0));
    window->miViewCache();

    EXPECT_EQ(desktop.urls(), (QList<QUrl>{QUrl(QStringLiteral("http://service.test/base/larkspan/help.html")),
                                          QUrl(QStringLiteral("http://service.test/base/support.html")),
                                          QUrl::fromLocalFile(localDatabasesDir().absolutePath()),
                                          QUrl::fromLocalFile(phone.absolutePath())}));
}

TEST_F(CommandsTest, APageOrFolderNothingOpensIsToldWithItsAddress)
{
    // A desktop without a browser or a file manager.
    const QDir phone = AppHomeFixture::addStoredDevice(QStringLiteral("Desk Phone"), 1);
    build();
    ServiceUrlScope service(QStringLiteral("http://service.test/base"));
    desktop.setResult(false);
    const QString picture = QDir::temp().filePath(QStringLiteral("a <b> picture.jpg"));

    const struct
    {
        const char *name;
        std::function<void()> command;
        QString address;
    } cases[] = {
        {"Help", [&] { window->miHelp(); }, QStringLiteral("http://service.test/base/larkspan/help.html")},
        {"Feedback and Support", [&] { window->miFeedback(); }, QStringLiteral("http://service.test/base/support.html")},
        {"Check for Update", [&] { ASSERT_TRUE(QMetaObject::invokeMethod(window.get(), "miCheckUpdate")); },
         QStringLiteral("http://service.test/base/sms_check_update.php?pid=7A31C09E55D24fb8B1E6D0934C2AF7B1&ver=40")},
        {"Open Database Folder", [&] { window->miOpenDbFolder(); }, localDatabasesDir().absolutePath()},
        {"View Cache",
         [&] {
             window->makeCurrent(model->deviceRoot()->children.value(0));
             window->miViewCache();
         },
         phone.absolutePath()},
        {"an attachment in the conversation",
         [&] { emit window->conversationView()->anchorClicked(QUrl::fromLocalFile(picture)); }, picture},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const qsizetype before = boxes.shown().size();
        boxes.click(QMessageBox::Ok);
        c.command();
        ASSERT_EQ(boxes.shown().size(), before + 1);
        EXPECT_EQ(boxes.shown().last().icon, QMessageBox::Critical);
        // In the error box's own wording.
        const QString told = QStringLiteral("Could not open %1.").arg(c.address);
        EXPECT_TRUE(boxTexts().last().contains(QLatin1Char('\n') + told + QLatin1Char('\n')))
            << boxTexts().last().toStdString();
    }
    // Nothing to open is nothing to tell.
    window->miHome();
    EXPECT_EQ(boxes.shown().size(), std::size(cases));
}

TEST_F(CommandsTest, ViewCacheOfAConnectedDeviceOpensItsCacheFolder)
{
    build();
    auto device = QSharedPointer<IOSDevice>::create();
    device->deviceName = QStringLiteral("Pocket");
    device->uniqueDeviceId = QStringLiteral("0123456789abcdef");
    const QDir cache(appDataDir().filePath(QStringLiteral("ios_cache/0123456789abcdef")));
    // The device's copy is there, as after loading it; a device node never
    // makes one.
    {
        IOS6SmsDbFixture file(IOS6SmsDbFixture::smsDbPath(cache), IOS6SmsDbFixture::Device);
    }
    QSharedPointer<AbsMessageDb> db(new IOS6MessageDb(cache, QString(), false));
    window->makeCurrent(model->addDevice(db, device, device->deviceName));
    window->miViewCache();
    EXPECT_EQ(desktop.urls(), QList<QUrl>{QUrl::fromLocalFile(cache.absolutePath())});
}

// The menu entry of a menu bar menu, by text.
QAction *menuEntry(QMainWindow &window, int menu, const QString &text)
{
    const QList<QAction *> menus = window.findChild<QMenuBar *>(QStringLiteral("menuBar"))->actions();
    for (QAction *a : menus.value(menu)->menu()->actions()) {
        if (a->text() == text)
            return a;
    }
    return nullptr;
}

TEST_F(CommandsTest, TheMenusReachTheirCommands)
{
    build();
    ServiceUrlScope service(QStringLiteral("http://service.test"));
    const struct
    {
        int menu;
        const char *text;
        QString url;
    } rows[] = {
        {0, "Open Database Folder", QUrl::fromLocalFile(localDatabasesDir().absolutePath()).toString()},
        {1, "Check for Update", QString()},
        {2, "Help", QStringLiteral("http://service.test/larkspan/help.html")},
        {2, "Feedback and Support", QStringLiteral("http://service.test/support.html")},
    };
    for (const auto &row : rows) {
        QAction *entry = menuEntry(*window, row.menu, QLatin1String(row.text));
        ASSERT_NE(entry, nullptr) << row.text;
        const qsizetype before = desktop.urls().size();
        entry->trigger();
        ASSERT_EQ(desktop.urls().size(), before + 1) << row.text;
        if (!row.url.isEmpty()) {
            EXPECT_EQ(desktop.urls().last().toString(), row.url) << row.text;
        }
    }

    whenModalShown("AboutUsForm", [](QWidget *dialog) {
        EXPECT_NE(qobject_cast<AboutUsForm *>(dialog), nullptr) << dialog->metaObject()->className();
        QTest::mouseClick(dialog->findChild<QPushButton *>(QStringLiteral("btnOK")), Qt::LeftButton);
    });
    menuEntry(*window, 2, QStringLiteral("About"))->trigger();
}

TEST_F(CommandsTest, TheLocalDatabaseRootMenuOpensTheFolder)
{
    build();
    window->makeCurrent(model->localDbRoot());
    window->onMenu = [](QMenu &menu) { menu.actions().value(0)->trigger(); };
    window->onMainTreeContextMenu();
    EXPECT_EQ(desktop.urls(), QList<QUrl>{QUrl::fromLocalFile(localDatabasesDir().absolutePath())});
}

// --- clearing the cache ----------------------------------------------------------

QString makeFile(const QString &path)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("cached");
    return path;
}

TEST_F(CommandsTest, ClearingTheCacheRemovesBothCacheFolders)
{
    const QString app = appDataDir().absolutePath();
    makeFile(app + QStringLiteral("/ios_cache/0123/file-relay/var/mobile/Library/SMS/sms.db"));
    makeFile(app + QStringLiteral("/ios_cache/.hidden"));
    makeFile(app + QStringLiteral("/itunes_cache/abc/sms.db"));
    SampleLocalDb::write(QStringLiteral("Archive"));
    const QDir phone = AppHomeFixture::addStoredDevice(QStringLiteral("Desk Phone"), 1);
    build();
    boxes.click(QMessageBox::Ok);
    window->miClearCache();

    EXPECT_EQ(boxTexts(), QStringList{QStringLiteral("Successfully cleared cache files.")});
    EXPECT_EQ(boxes.shown().value(0).icon, QMessageBox::Information);
    EXPECT_FALSE(QFileInfo::exists(app + QStringLiteral("/ios_cache")));
    EXPECT_FALSE(QFileInfo::exists(app + QStringLiteral("/itunes_cache")));
    // Nothing else goes.
    EXPECT_EQ(SampleLocalDb::messageGuids(QStringLiteral("Archive")).size(), 6);
    EXPECT_TRUE(QFileInfo::exists(IOS6SmsDbFixture::smsDbPath(phone)));
}

TEST_F(CommandsTest, ClearingAnAbsentCacheIsASuccess)
{
    build();
    boxes.click(QMessageBox::Ok);
    window->miClearCache();
    EXPECT_EQ(boxTexts(), QStringList{QStringLiteral("Successfully cleared cache files.")});
}

TEST_F(CommandsTest, ACacheFolderThatCannotBeRemovedIsReportedAsAFailure)
{
    const QString app = appDataDir().absolutePath();
    makeFile(app + QStringLiteral("/ios_cache/0123/sms.db"));
    // A plain file where the folder belongs cannot be removed as a folder.
    makeFile(app + QStringLiteral("/itunes_cache"));
    build();
    boxes.click(QMessageBox::Ok);
    window->miClearCache();

    ASSERT_EQ(boxes.shown().size(), 1);
    EXPECT_EQ(boxes.shown()[0].icon, QMessageBox::Warning);
    EXPECT_TRUE(boxTexts()[0].startsWith(QStringLiteral("Failed to clear some cache files.")));
    EXPECT_TRUE(boxTexts()[0].contains(app + QStringLiteral("/itunes_cache")));
    EXPECT_FALSE(boxTexts()[0].contains(QStringLiteral("ios_cache")));
    // What could go has gone.
    EXPECT_FALSE(QFileInfo::exists(app + QStringLiteral("/ios_cache")));
}

TEST_F(CommandsTest, TheCacheOfAConnectedDeviceStaysWhileItIsListed)
{
    const QString app = appDataDir().absolutePath();
    makeFile(app + QStringLiteral("/ios_cache/other/sms.db"));
    build();
    auto device = QSharedPointer<IOSDevice>::create();
    device->deviceName = QStringLiteral("Pocket");
    device->uniqueDeviceId = QStringLiteral("0123456789abcdef");
    const QDir cache(app + QStringLiteral("/ios_cache/0123456789abcdef"));
    {
        IOS6SmsDbFixture file(IOS6SmsDbFixture::smsDbPath(cache), IOS6SmsDbFixture::Device);
        file.begin();
        const qint64 handle = file.addHandle(QStringLiteral("+15550000001"));
        const qint64 chat = file.addChat(QStringLiteral("SMS;-;+15550000001"), QStringLiteral("+15550000001"));
        file.joinChatHandle(chat, handle);
        file.addMessage(chat, handle, QStringLiteral("POCKET-1"), QStringLiteral("hi"), 400000000, 0);
        file.commit();
    }
    QSharedPointer<AbsMessageDb> db(new IOS6MessageDb(cache, QString(), false));
    _IOSDeviceItemNode *node = model->addDevice(db, device, device->deviceName);
    db->chats(node->dataSet);
    model->loadChatSessions(node);
    window->makeCurrent(node);
    ASSERT_EQ(shownGuids(), QStringList{QStringLiteral("POCKET-1")});

    boxes.click(QMessageBox::Ok);
    window->miClearCache();
    EXPECT_EQ(boxTexts(),
              QStringList{QStringLiteral("Cleared cache files. The cache files of connected devices are kept.")});
    EXPECT_TRUE(QFileInfo::exists(IOS6SmsDbFixture::smsDbPath(cache)));
    EXPECT_FALSE(QFileInfo::exists(app + QStringLiteral("/ios_cache/other")));
    // The device still reads.
    window->makeCurrent(model->deviceRoot());
    window->makeCurrent(node);
    EXPECT_EQ(shownGuids(), QStringList{QStringLiteral("POCKET-1")});
    EXPECT_EQ(boxes.shown().size(), 1);
}

// --- the dialogs commands ask through --------------------------------------------

class OpenDialogWindow : public OpenMainWindow
{
public:
    using MainWindow::askCountryCode;
    using MainWindow::askLocalDbName;
    using MainWindow::askTargetDevice;
};

class DialogsTest : public CommandsTest
{
protected:
    void buildDialogWindow()
    {
        window = std::make_unique<OpenDialogWindow>();
        model = window->mainModel();
        sms = window->smsModel();
    }
    OpenDialogWindow *dialogs() const { return static_cast<OpenDialogWindow *>(window.get()); }
};

TEST_F(DialogsTest, TheLocalDatabaseDialogOffersTheListedDatabasesAndTheProposal)
{
    for (const char *name : {"Work", "Archive"})
        AppHomeFixture::addLocalDatabase(QLatin1String(name));
    buildDialogWindow();
    QStringList offered;
    QString proposed;
    whenModalShown("LocalDbSelForm", [&](QWidget *dialog) {
        ASSERT_NE(qobject_cast<LocalDbSelForm *>(dialog), nullptr);
        EXPECT_EQ(dialog->parentWidget(), window.get());
        auto *names = dialog->findChild<QComboBox *>(QStringLiteral("cbLocalDbNames"));
        for (int i = 0; i < names->count(); ++i)
            offered.append(names->itemText(i));
        proposed = names->currentText();
        names->setCurrentText(QStringLiteral("Work"));
        QTest::mouseClick(dialog->findChild<QPushButton *>(QStringLiteral("btnOK")), Qt::LeftButton);
    });
    EXPECT_EQ(dialogs()->askLocalDbName(QStringLiteral("Desk Phone_Backup")), QStringLiteral("Work"));
    EXPECT_TRUE(offered.contains(QStringLiteral("Archive")));
    EXPECT_TRUE(offered.contains(QStringLiteral("Work")));
    EXPECT_LT(offered.indexOf(QStringLiteral("Archive")), offered.indexOf(QStringLiteral("Work")));
    EXPECT_EQ(proposed, QStringLiteral("Desk Phone_Backup"));
}

TEST_F(DialogsTest, TheCountryDialogGivesTheChosenCode)
{
    buildDialogWindow();
    whenModalShown("CountrySelForm", [&](QWidget *dialog) {
        ASSERT_NE(qobject_cast<CountrySelForm *>(dialog), nullptr);
        EXPECT_EQ(dialog->parentWidget(), window.get());
        QTest::keyClicks(dialog->findChild<QLineEdit *>(QStringLiteral("txtKW")), QStringLiteral("germany"));
        auto *list = dialog->findChild<QListWidget *>(QStringLiteral("ltCountries"));
        ASSERT_EQ(list->count(), 1);
        list->setCurrentRow(0);
        QTest::mouseClick(dialog->findChild<QPushButton *>(QStringLiteral("btnOK")), Qt::LeftButton);
    });
    boxes.click(QMessageBox::Yes);
    QString mmc = QStringLiteral("old");
    EXPECT_TRUE(dialogs()->askCountryCode(mmc));
    EXPECT_EQ(mmc, QStringLiteral("262"));
}

TEST_F(DialogsTest, TheTargetDeviceDialogOffersEveryOtherConnectedDevice)
{
    // A stored device, listed first, is no phone to write to.
    AppHomeFixture::addStoredDevice(QStringLiteral("Shelf"), 1);
    buildDialogWindow();
    // Connected phones, as an arrival leaves them: each with its handle.
    int handles[3] = {};
    int i = 0;
    for (const char *name : {"Alpha", "Bravo", "Charlie"}) {
        const QDir folder = AppHomeFixture::addStoredDeviceFolder(QStringLiteral("cache-") + QLatin1String(name));
        auto device = QSharedPointer<IOSDevice>::create();
        device->deviceName = QLatin1String(name);
        device->uniqueDeviceId = QLatin1String(name);
        device->handle = &handles[i++];
        model->addDevice(QSharedPointer<AbsMessageDb>(new IOS6MessageDb(folder, QString(), true)), device,
                         device->deviceName);
    }
    const QList<AbsNode *> devices = model->deviceRoot()->children.mid(1);
    ASSERT_EQ(devices.size(), 3);
    QStringList offered;
    whenModalShown("DataSourceSelForm", [&](QWidget *dialog) {
        ASSERT_NE(qobject_cast<DataSourceSelForm *>(dialog), nullptr);
        EXPECT_EQ(dialog->findChild<QLabel *>(QStringLiteral("lbSelDevice"))->text(),
                  QStringLiteral("Please select an iPhone:"));
        auto *box = dialog->findChild<QComboBox *>(QStringLiteral("cbDevice"));
        for (int i = 0; i < box->count(); ++i)
            offered.append(box->itemText(i));
        box->setCurrentIndex(box->findText(QStringLiteral("Charlie")));
        QTest::mouseClick(dialog->findChild<QPushButton *>(QStringLiteral("btnOK")), Qt::LeftButton);
    });
    EXPECT_EQ(dialogs()->askTargetDevice(static_cast<_IOSDeviceItemNode *>(devices[1])), devices[2]);
    EXPECT_EQ(offered, (QStringList{"Alpha", "Charlie"}));

    whenModalShown("DataSourceSelForm", [&](QWidget *dialog) {
        QTest::mouseClick(dialog->findChild<QPushButton *>(QStringLiteral("btnClose")), Qt::LeftButton);
    });
    EXPECT_EQ(dialogs()->askTargetDevice(nullptr), nullptr);
}

} // namespace
