#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <ostream>
#include <stdexcept>
#include <string>

#include "BackupGenerator.h"
#include "BackupManifest.h"
#include "CaseName.h"
#include "FileNodeLookup.h"

namespace
{

using G = BackupGenerator;
using Node = BackupManifest::_FileNode;

void writeAll(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    ASSERT_EQ(f.write(bytes), bytes.size());
}

G::MbdbEntry entry(const QByteArray &domain, const QByteArray &path, quint16 mode = 0x41ED)
{
    G::MbdbEntry e;
    e.domain = domain;
    e.path = path;
    e.mode = mode;
    return e;
}

void writeMbdb(const QString &folder, const QList<G::MbdbEntry> &entries)
{
    QByteArray bytes = G::mbdbHeader();
    for (const G::MbdbEntry &e : entries)
        bytes += G::mbdbRecord(e);
    writeAll(folder + "/Manifest.mbdb", bytes);
}

// The tree as text: name[children,...], siblings in their order; checks the
// parent links on the way.
std::string shape(const Node &node)
{
    std::string out;
    for (qsizetype i = 0; i < node.children.size(); ++i) {
        const Node *child = node.children[i];
        EXPECT_EQ(child->parent, &node) << child->name.toStdString();
        if (i > 0)
            out += ",";
        out += child->name.toStdString();
        if (!child->children.isEmpty())
            out += "[" + shape(*child) + "]";
    }
    return out;
}

struct ShapeCase
{
    std::string name;
    QList<QPair<QByteArray, QByteArray>> records; // domain, path, in file order
    std::string expected;
};

void PrintTo(const ShapeCase &c, std::ostream *os)
{
    *os << c.name;
}

class BackupFileTreeShape : public ::testing::TestWithParam<ShapeCase>
{
};

} // namespace

TEST_P(BackupFileTreeShape, MirrorsTheDeviceFileSystem)
{
    const ShapeCase &c = GetParam();
    QTemporaryDir dir;
    QList<G::MbdbEntry> entries;
    for (const auto &r : c.records)
        entries.append(entry(r.first, r.second));
    writeMbdb(dir.path(), entries);
    BackupManifest m(dir.path());
    m.loadFiles();
    EXPECT_EQ(shape(m.root), c.expected);
    EXPECT_EQ(m.root.parent, nullptr);
    EXPECT_TRUE(m.root.name.isEmpty());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BackupFileTreeShape,
    ::testing::Values(
        ShapeCase{"FoldersHoldTheirFiles",
                  {{"HomeDomain", "Library"}, {"HomeDomain", "Library/SMS"}, {"HomeDomain", "Library/SMS/sms.db"}},
                  "Library[SMS[sms.db]]"},
        ShapeCase{"FileOrderDoesNotMatter",
                  {{"HomeDomain", "Library/SMS/sms.db"}, {"HomeDomain", "Library/SMS"}, {"HomeDomain", "Library"}},
                  "Library[SMS[sms.db]]"},
        ShapeCase{"DomainsShareFolders",
                  {{"MediaDomain", "Library"},
                   {"MediaDomain", "Library/SMS"},
                   {"MediaDomain", "Library/SMS/Attachments"},
                   {"HomeDomain", "Library"},
                   {"HomeDomain", "Library/SMS"},
                   {"HomeDomain", "Library/SMS/sms.db"}},
                  "Library[SMS[sms.db,Attachments]]"},
        ShapeCase{"ApplicationsUnderOneFolder",
                  {{"AppDomain-com.b", ""},
                   {"AppDomain-com.a", ""},
                   {"AppDomain-com.a", "Documents"},
                   {"AppDomain-com.a", "Documents/a.txt"},
                   {"HomeDomain", "Library"}},
                  "Applications[com.a[Documents[a.txt]],com.b],Library"},
        ShapeCase{"DomainRecordMakesNoNode", {{"HomeDomain", ""}, {"MediaDomain", ""}}, ""},
        ShapeCase{"TrailingSlashMakesNoNode", {{"HomeDomain", "Library/"}}, ""},
        ShapeCase{"FileWithoutFolderRecordHangsUnderRoot",
                  {{"HomeDomain", "Library"}, {"HomeDomain", "Library/F/b"}},
                  "Library,b"},
        ShapeCase{"UpperCaseSortsFirst",
                  {{"HomeDomain", "L"}, {"HomeDomain", "L/b"}, {"HomeDomain", "L/B"}, {"HomeDomain", "L/_"}},
                  "L[B,_,b]"},
        ShapeCase{"DotsInsideANameAreFine", {{"HomeDomain", "..."}, {"HomeDomain", ".../.x"}}, "...[.x]"}),
    CaseName());

TEST(BackupFileTree, NodesCarryTheirRecords)
{
    QTemporaryDir dir;
    G::File sms = G::file("HomeDomain", "Library/SMS/sms.db", "data", 4);
    sms.mtime = 1400000000;
    sms.properties = {{"name", "value"}};
    G::write(dir.path(),
             {G::folder("HomeDomain", "Library"), G::folder("HomeDomain", "Library/SMS"), sms,
              G::folder("MediaDomain", "Library/SMS"), G::file("MediaDomain", "Library/SMS/x", "media")});
    BackupManifest m(dir.path());
    m.loadFiles();

    const Node *node = findNode(m.root, {"Library", "SMS", "sms.db"});
    ASSERT_NE(node, nullptr);
    EXPECT_EQ(node->record.domain.toString(), "HomeDomain");
    EXPECT_EQ(node->record.mtime, 1400000000u);
    EXPECT_EQ(node->record.size, 4u);
    EXPECT_EQ(node->record.protectionClass, 4);
    ASSERT_EQ(node->record.properties.size(), 1);
    EXPECT_EQ(node->record.properties[0].value.data, "value");
    // the first domain's folder wins
    EXPECT_EQ(findNode(m.root, {"Library", "SMS"})->record.domain.toString(), "HomeDomain");
    EXPECT_EQ(findNode(m.root, {"Library", "SMS", "x"})->record.domain.toString(), "MediaDomain");
}

TEST(BackupFileTree, ApplicationsFolderHasAnEmptyRecord)
{
    QTemporaryDir dir;
    writeMbdb(dir.path(), {entry("AppDomain-x", "")});
    BackupManifest m(dir.path());
    m.loadFiles();
    const Node *apps = findNode(m.root, {"Applications"});
    ASSERT_NE(apps, nullptr);
    EXPECT_TRUE(apps->record.domain.isNone());
    EXPECT_TRUE(apps->record.path.isNone());
    EXPECT_TRUE(apps->record.isEmptyFile());
    EXPECT_EQ(findNode(m.root, {"Applications", "x"})->record.domain.toString(), "AppDomain-x");
}

TEST(BackupFileTree, LoadsOnceAndRetriesWhileEmpty)
{
    QTemporaryDir dir;
    writeMbdb(dir.path(), {entry("HomeDomain", "")});
    BackupManifest m(dir.path());
    m.loadFiles();
    EXPECT_TRUE(m.root.children.isEmpty());

    // nothing came of the first call, so the second reads again
    writeMbdb(dir.path(), {entry("HomeDomain", "Library")});
    m.loadFiles();
    EXPECT_EQ(shape(m.root), "Library");

    writeMbdb(dir.path(), {entry("HomeDomain", "Other")});
    m.loadFiles();
    EXPECT_EQ(shape(m.root), "Library");
    ASSERT_TRUE(QFile::remove(dir.filePath("Manifest.mbdb")));
    EXPECT_NO_THROW(m.loadFiles());
}

TEST(BackupFileTree, UnreadableCatalogueThrows)
{
    QTemporaryDir dir;
    BackupManifest m(dir.path());
    EXPECT_THROW(m.loadFiles(), std::runtime_error); // missing

    QByteArray cut = G::mbdbHeader() + G::mbdbRecord(entry("HomeDomain", "Library"))
        + G::mbdbRecord(entry("HomeDomain", "Library/SMS"));
    cut.chop(3);
    writeAll(dir.filePath("Manifest.mbdb"), cut);
    EXPECT_THROW(m.loadFiles(), std::runtime_error);
    EXPECT_TRUE(m.root.children.isEmpty());
}

namespace
{

struct UnsafePathCase
{
    std::string name;
    QByteArray domain;
    QByteArray path;
};

void PrintTo(const UnsafePathCase &c, std::ostream *os)
{
    *os << c.name;
}

class BackupFileTreeUnsafePath : public ::testing::TestWithParam<UnsafePathCase>
{
};

} // namespace

// Callers create the tree's folders and files under a folder of their own
// by the nodes' names, so a path that climbs out of the tree is refused
// before any node exists.
TEST_P(BackupFileTreeUnsafePath, IsRefusedAndBuildsNothing)
{
    const UnsafePathCase &c = GetParam();
    QTemporaryDir dir;
    writeMbdb(dir.path(), {entry("AAADomain", "Library"), entry("HomeDomain", "Library"),
                           entry(c.domain, c.path), entry("ZDomain", "Library/SMS")});
    BackupManifest m(dir.path());
    try {
        m.loadFiles();
        FAIL() << "accepted";
    } catch (const std::runtime_error &e) {
        const std::string text = e.what();
        EXPECT_NE(text.find("leads outside the backup's folders"), std::string::npos) << text;
        EXPECT_NE(text.find('"' + c.path.toStdString() + '"'), std::string::npos) << text;
    }
    EXPECT_TRUE(m.root.children.isEmpty());
}

INSTANTIATE_TEST_SUITE_P(Cases, BackupFileTreeUnsafePath,
                         ::testing::Values(UnsafePathCase{"Dot", "HomeDomain", "."},
                                           UnsafePathCase{"DotDot", "HomeDomain", ".."},
                                           UnsafePathCase{"EndsInDotDot", "HomeDomain", "Library/SMS/.."},
                                           UnsafePathCase{"ClimbsOut", "HomeDomain", "Library/../../etc/passwd"},
                                           UnsafePathCase{"DotComponent", "HomeDomain", "Library/./SMS"},
                                           UnsafePathCase{"EmptyComponent", "HomeDomain", "Library//SMS"},
                                           UnsafePathCase{"Absolute", "HomeDomain", "/etc/passwd"},
                                           UnsafePathCase{"ApplicationDotDot", "AppDomain-..", "Documents"},
                                           UnsafePathCase{"ApplicationIsDotDot", "AppDomain-..", ""},
                                           UnsafePathCase{"ApplicationWithoutName", "AppDomain-", "Documents"},
                                           UnsafePathCase{"ApplicationPathClimbsOut", "AppDomain-com.a", "../../x"}),
                         CaseName());
