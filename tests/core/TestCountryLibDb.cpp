#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <stdexcept>

#include <sys/resource.h>

#include "CountryLibDb.h"
#include "PhoneNumber.h"

namespace
{

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(f.write(bytes), bytes.size());
}

std::string errorOf(CountryLibDb &db)
{
    try {
        db.ensureOpen();
    } catch (const std::runtime_error &e) {
        return e.what();
    }
    return "(no error)";
}

class CountryLibDbTest : public ::testing::Test
{
protected:
    QTemporaryDir dir;
    QString libPath() const { return dir.filePath(QStringLiteral("countries.db")); }
    QStringList entries() const { return QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot); }
};

TEST_F(CountryLibDbTest, ConstructionOpensAndInstallsNothing)
{
    CountryLibDb db(QStringLiteral("404"), dir.path());
    EXPECT_FALSE(db.isOpen());
    EXPECT_TRUE(entries().isEmpty());
}

TEST_F(CountryLibDbTest, FirstUseInstallsACompleteCopyAndNothingElse)
{
    CountryLibDb db(QStringLiteral("404"), dir.path());
    EXPECT_EQ(db.currentCountry().sn, QStringLiteral("IN"));
    EXPECT_TRUE(db.isOpen());
    EXPECT_EQ(entries(), QStringList{QStringLiteral("countries.db")});
    const QByteArray resource = readAll(QStringLiteral(":res/countries.db"));
    ASSERT_FALSE(resource.isEmpty());
    EXPECT_EQ(readAll(libPath()), resource);
    EXPECT_TRUE(QFileInfo(libPath()).isWritable());
}

TEST_F(CountryLibDbTest, AnExistingLibraryIsUsedUnchanged)
{
    {
        Sqlite3DB own;
        own.openThrow(libPath(), Sqlite3DB::ReadWriteCreate);
        own.executeThrow("create table countries (sn CHAR(2) PRIMARY KEY, ln TEXT, pnum TEXT, mmc TEXT, numc TEXT,"
                         " u2 TEXT, r1 TEXT, r2 TEXT, r3 TEXT, r4 TEXT, mnc_rx TEXT, n TEXT)");
        own.executeThrow("create table mmc_sn (mmc CHAR(3) PRIMARY KEY, sn CHAR(2))");
        own.executeThrow("insert into countries (sn, n, pnum, mmc, numc, r1) values ('ZZ', 'Zedland', '999', '123', '5', '')");
        own.executeThrow("insert into mmc_sn values ('123', 'ZZ')");
    }
    const QByteArray before = readAll(libPath());
    CountryLibDb db(QStringLiteral("123"), dir.path());
    EXPECT_EQ(db.currentCountry().n, QStringLiteral("Zedland"));
    bool found = true;
    db.countryBySn(QStringLiteral("de"), &found);
    EXPECT_FALSE(found);
    db.close();
    EXPECT_EQ(readAll(libPath()), before);
}

TEST_F(CountryLibDbTest, TwoObjectsShareOneInstalledCopy)
{
    CountryLibDb a(QStringLiteral("262"), dir.path());
    CountryLibDb b(QStringLiteral("234"), dir.path());
    EXPECT_EQ(a.currentCountry().sn, QStringLiteral("DE"));
    EXPECT_EQ(b.currentCountry().sn, QStringLiteral("GB"));
    EXPECT_EQ(entries(), QStringList{QStringLiteral("countries.db")});
}

TEST_F(CountryLibDbTest, AFolderThatCannotHoldTheCopyIsReportedWithThePath)
{
    // A plain file where the folder should be: no copy can be made in it, root or not.
    const QString notAFolder = dir.filePath(QStringLiteral("plain"));
    writeFile(notAFolder, "x");
    CountryLibDb db(QString(), notAFolder);
    const std::string error = errorOf(db);
    const std::string prefix = QStringLiteral("can not create %1/countries.db. ").arg(notAFolder).toStdString();
    EXPECT_EQ(error.substr(0, prefix.size()), prefix) << error;
    EXPECT_GT(error.size(), prefix.size()) << "the file system's reason is missing";
    EXPECT_FALSE(db.isOpen());
}

TEST_F(CountryLibDbTest, ACopyCutShortLeavesNoLibraryBehind)
{
    // Let the file system refuse every byte past the first kilobyte, as a full disk would.
    struct rlimit saved {};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    struct rlimit small = saved;
    small.rlim_cur = 1024;
    void (*oldHandler)(int) = std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    CountryLibDb db(QStringLiteral("404"), dir.path());
    const std::string error = errorOf(db);
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);

    const std::string prefix = QStringLiteral("can not create %1. ").arg(libPath()).toStdString();
    EXPECT_EQ(error.substr(0, prefix.size()), prefix) << error;
    EXPECT_FALSE(db.isOpen());
    EXPECT_TRUE(entries().isEmpty()) << qPrintable(entries().join(QLatin1Char(' ')));
    // With room again, the next call installs the whole library.
    EXPECT_EQ(db.currentCountry().sn, QStringLiteral("IN"));
    EXPECT_EQ(readAll(libPath()), readAll(QStringLiteral(":res/countries.db")));
}

TEST_F(CountryLibDbTest, AnUnreadableLibraryFailsAndTheNextCallStartsOver)
{
    writeFile(libPath(), QByteArray(4096, 'x'));
    CountryLibDb db(QStringLiteral("404"), dir.path());
    EXPECT_THROW(db.ensureOpen(), std::runtime_error);
    EXPECT_FALSE(db.isOpen());
    // The broken file is the user's to deal with; once it is gone the library installs again.
    ASSERT_TRUE(QFile::remove(libPath()));
    EXPECT_EQ(db.currentCountry().sn, QStringLiteral("IN"));
}

TEST_F(CountryLibDbTest, CurrentCountryFollowsTheMccGivenAtConstruction)
{
    const struct
    {
        const char *mcc;
        const char *sn;
    } cases[] = {{"404", "IN"}, {"405", "IN"}, {"262", "DE"}, {"235", "GB"}, {"999", "AX"}, {"000", ""}, {"", ""}};
    for (const auto &t : cases) {
        CountryLibDb db(QString::fromLatin1(t.mcc), dir.path());
        const Country &current = db.currentCountry();
        EXPECT_EQ(current.sn, QString::fromLatin1(t.sn)) << "MCC " << t.mcc;
        if (!*t.sn) {
            EXPECT_TRUE(current.pnum.isEmpty() && current.numc.isEmpty() && current.r1.isEmpty()) << "MCC " << t.mcc;
            // The empty country only cleans.
            EXPECT_EQ(normalizePhoneNumber(current, QStringLiteral("098765 43210")), QStringLiteral("09876543210"));
            EXPECT_EQ(normalizePhoneNumber(current, QStringLiteral("( )")), QString());
        }
    }
}

TEST_F(CountryLibDbTest, LookUpsByMccAndByCode)
{
    CountryLibDb db(QStringLiteral("404"), dir.path());
    const struct
    {
        bool byMcc;
        const char *key;
        bool found;
        const char *sn;
    } cases[] = {
        {true, "262", true, "DE"},   {true, "234", true, "GB"},  {true, "235", true, "GB"},
        {true, "404", true, "IN"},   {true, "405", true, "IN"},
        // Several rows list 999; the code itself belongs to AX.
        {true, "999", true, "AX"},
        // Not in the library: the current country comes back.
        {true, "000", false, "IN"},  {true, "", false, "IN"},    {true, "26", false, "IN"},
        {false, "de", true, "DE"},   {false, "De", true, "DE"},  {false, "GG", true, "GG"},
        {false, "ac", true, "AC"},   {false, "xx", false, "IN"}, {false, "", false, "IN"},
        {false, "deu", false, "IN"},
    };
    for (const auto &t : cases) {
        const QString key = QString::fromLatin1(t.key);
        bool found = !t.found;
        const Country c = t.byMcc ? db.countryByMmc(key, &found) : db.countryBySn(key, &found);
        EXPECT_EQ(found, t.found) << (t.byMcc ? "MCC " : "code ") << t.key;
        EXPECT_EQ(c.sn, QString::fromLatin1(t.sn)) << (t.byMcc ? "MCC " : "code ") << t.key;
        // The flag is optional.
        const Country again = t.byMcc ? db.countryByMmc(key) : db.countryBySn(key);
        EXPECT_EQ(again.sn, c.sn);
    }
}

TEST_F(CountryLibDbTest, RowsTheProgramReliesOn)
{
    CountryLibDb db(QString(), dir.path());
    const struct
    {
        const char *sn, *n, *pnum, *mmc, *numc, *r1;
    } rows[] = {
        {"IN", "India", "91", "404,405", "10", R"([7-9]\d{9})"},
        {"FR", "France", "33", "208", "9", R"(63[0-8]\d{6}|69[157-9]\d{6}|6[0-24-8]\d{7}|7[5-9]\d{7})"},
        {"CN", "China", "86", "460", "11", R"(1(?:3\d|4[57]|[58][0-35-9])\d{8}|184\d{8})"},
        {"GB", "United Kingdom", "44", "234,235", "10", nullptr},
        {"DE", "Germany", "49", "262", "7,8,9,10,11,12", nullptr},
        {"AC", "Ascension Island", "247", "999", "4", ""},
        {"AX", "\xc3\x85land Islands", "358", "999", "6,7,8,9,10,11", nullptr},
        {"GG", "Guernsey", "44", "234,235", "10", nullptr},
    };
    for (const auto &t : rows) {
        bool found = false;
        const Country c = db.countryBySn(QString::fromLatin1(t.sn), &found);
        ASSERT_TRUE(found) << t.sn;
        EXPECT_EQ(c.n, QString::fromUtf8(t.n)) << t.sn;
        EXPECT_EQ(c.pnum, QString::fromLatin1(t.pnum)) << t.sn;
        EXPECT_EQ(c.mmc, QString::fromLatin1(t.mmc)) << t.sn;
        EXPECT_EQ(c.numc, QString::fromLatin1(t.numc)) << t.sn;
        if (t.r1) {
            EXPECT_EQ(c.r1, QString::fromLatin1(t.r1)) << t.sn;
        } else {
            EXPECT_FALSE(c.r1.isEmpty()) << t.sn;
        }
    }
    const Country de = db.countryBySn(QStringLiteral("DE"));
    EXPECT_EQ(de.ln, QStringLiteral("Deutschland"));
}

TEST_F(CountryLibDbTest, NormalisesWithTheLibrarysIndia)
{
    CountryLibDb db(QStringLiteral("404"), dir.path());
    const Country &in = db.currentCountry();
    EXPECT_EQ(normalizePhoneNumber(in, QStringLiteral("98765 43210")), QStringLiteral("+919876543210"));
    EXPECT_EQ(normalizePhoneNumber(in, QStringLiteral("09876543210")), QStringLiteral("+919876543210"));
    EXPECT_EQ(normalizePhoneNumber(in, QStringLiteral("919876543210")), QStringLiteral("+919876543210"));
    EXPECT_EQ(normalizePhoneNumber(in, QStringLiteral("9123456789")), QStringLiteral("+919123456789"));
}

TEST_F(CountryLibDbTest, LayoutOfTheTables)
{
    CountryLibDb db(QString(), dir.path());
    db.ensureOpen();
    QStringList countryColumns;
    Sqlite3Cursor cols = db.queryThrow("pragma table_info(countries)");
    while (cols.moveNext())
        countryColumns << cols.getText("name") + QLatin1Char(' ') + cols.getText("type") + QLatin1Char(' ')
                              + QString::number(cols.getInt("pk"));
    EXPECT_EQ(countryColumns,
              QStringList({"sn CHAR(2) 1", "ln TEXT 0", "pnum TEXT 0", "mmc TEXT 0", "numc TEXT 0", "u2 TEXT 0",
                           "r1 TEXT 0", "r2 TEXT 0", "r3 TEXT 0", "r4 TEXT 0", "mnc_rx TEXT 0", "n TEXT 0"}));
    QStringList mmcColumns;
    Sqlite3Cursor mcols = db.queryThrow("pragma table_info(mmc_sn)");
    while (mcols.moveNext())
        mmcColumns << mcols.getText("name") + QLatin1Char(' ') + mcols.getText("type") + QLatin1Char(' ')
                          + QString::number(mcols.getInt("pk"));
    EXPECT_EQ(mmcColumns, QStringList({"mmc CHAR(3) 1", "sn CHAR(2) 0"}));
    QStringList indexes;
    Sqlite3Cursor idx = db.queryThrow("select name, tbl_name from sqlite_master where type='index' and sql is not null order by name");
    while (idx.moveNext())
        indexes << idx.getText("name") + QLatin1Char('/') + idx.getText("tbl_name");
    EXPECT_EQ(indexes, QStringList({"index_countries_pnum/countries", "index_mmc_sn/mmc_sn"}));
}

// Every row must be usable as the program uses it: codes well formed, each
// MCC of mmc_sn listed by its country, and each pattern compiling in the
// program's regular-expression engine and accepting the sample number of its
// country.
TEST_F(CountryLibDbTest, EveryRowIsWellFormed)
{
    CountryLibDb db(QString(), dir.path());
    db.ensureOpen();
    const QRegularExpression code(QStringLiteral("\\A[A-Z]{2}\\z"));
    const QRegularExpression digits(QStringLiteral("\\A[1-9][0-9]*\\z"));
    const QRegularExpression mccList(QStringLiteral("\\A[0-9]{3}(,[0-9]{3})*\\z"));
    const QRegularExpression lengths(QStringLiteral("\\A[1-9][0-9]?(,[1-9][0-9]?)*\\z"));

    QHash<QString, Country> bySn;
    QSet<QString> emptyPattern;
    Sqlite3Cursor rows = db.queryThrow("select * from countries");
    while (rows.moveNext()) {
        const Country c(rows);
        bySn.insert(c.sn, c);
        EXPECT_TRUE(code.match(c.sn).hasMatch()) << qPrintable(c.sn);
        EXPECT_FALSE(c.n.isEmpty()) << qPrintable(c.sn);
        EXPECT_FALSE(c.ln.isEmpty()) << qPrintable(c.sn);
        EXPECT_TRUE(digits.match(c.pnum).hasMatch()) << qPrintable(c.sn) << " pnum " << qPrintable(c.pnum);
        EXPECT_TRUE(mccList.match(c.mmc).hasMatch()) << qPrintable(c.sn) << " mmc " << qPrintable(c.mmc);
        EXPECT_TRUE(lengths.match(c.numc).hasMatch()) << qPrintable(c.sn) << " numc " << qPrintable(c.numc);
        if (c.r1.isEmpty()) {
            emptyPattern.insert(c.sn);
            continue;
        }
        const QRegularExpression rx(QRegularExpression::anchoredPattern(c.r1));
        EXPECT_TRUE(rx.isValid()) << qPrintable(c.sn) << ": " << qPrintable(rx.errorString());
    }
    EXPECT_GT(bySn.size(), 230);
    // Rows without a mobile pattern only ever gain a calling code they already carry.
    EXPECT_EQ(emptyPattern, QSet<QString>({QStringLiteral("AC"), QStringLiteral("TA")}));

    int mccs = 0;
    Sqlite3Cursor map = db.queryThrow("select mmc, sn from mmc_sn");
    while (map.moveNext()) {
        ++mccs;
        const QString mcc = map.getText("mmc"), sn = map.getText("sn");
        ASSERT_TRUE(bySn.contains(sn)) << qPrintable(mcc) << " -> " << qPrintable(sn);
        EXPECT_TRUE(bySn[sn].mmc.split(QLatin1Char(',')).contains(mcc)) << qPrintable(mcc) << " -> " << qPrintable(sn);
        EXPECT_EQ(db.countryByMmc(mcc).sn, sn);
    }
    EXPECT_GT(mccs, 220);
    // Each country's first code (what a country choice hands on) is one of the library's codes.
    for (const Country &c : std::as_const(bySn)) {
        bool found = false;
        db.countryByMmc(c.mmc.left(3), &found);
        EXPECT_TRUE(found) << qPrintable(c.sn) << " first MCC " << qPrintable(c.mmc.left(3));
    }

    // The list of countries by English name starts and ends as the country choice shows it.
    Sqlite3Cursor names = db.queryThrow("select n from countries order by n asc");
    QStringList ordered;
    while (names.moveNext())
        ordered << names.getText("n");
    ASSERT_FALSE(ordered.isEmpty());
    EXPECT_EQ(ordered.first(), QStringLiteral("Afghanistan"));
    EXPECT_EQ(ordered.last(), QString::fromUtf8("\xc3\x85land Islands"));
    EXPECT_EQ(ordered.at(ordered.size() - 2), QStringLiteral("Zimbabwe"));

    // Samples: sn TAB a national mobile number.
    QFile samples(QStringLiteral(LARKSPAN_SOURCE_DIR "/tests/core/data/countries_mobile_samples.tsv"));
    ASSERT_TRUE(samples.open(QIODevice::ReadOnly | QIODevice::Text));
    int checked = 0;
    while (!samples.atEnd()) {
        const QString line = QString::fromUtf8(samples.readLine()).trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        const QStringList parts = line.split(QLatin1Char('\t'));
        ASSERT_EQ(parts.size(), 2) << qPrintable(line);
        ASSERT_TRUE(bySn.contains(parts[0])) << qPrintable(line);
        const Country &c = bySn[parts[0]];
        EXPECT_TRUE(c.matchesPattern(parts[1])) << qPrintable(line);
        if (c.isValidLength(int(parts[1].size()))) {
            EXPECT_EQ(normalizePhoneNumber(c, parts[1]), QLatin1Char('+') + c.pnum + parts[1]) << qPrintable(line);
        }
        ++checked;
    }
    EXPECT_GT(checked, 200);
}

} // namespace

// The resource is compiled into the program; take it away to see the failure.
TEST(CountryLibDbResourceTest, AMissingResourceIsReportedAndNothingIsWritten)
{
    QTemporaryDir dir;
    Q_CLEANUP_RESOURCE(countries);
    CountryLibDb db(QStringLiteral("404"), dir.path());
    const std::string error = errorOf(db);
    Q_INIT_RESOURCE(countries);
    EXPECT_EQ(error, "can not find :res/countries.db.");
    EXPECT_FALSE(db.isOpen());
    EXPECT_TRUE(QDir(dir.path()).isEmpty());
    EXPECT_EQ(db.currentCountry().sn, QStringLiteral("IN"));
}
