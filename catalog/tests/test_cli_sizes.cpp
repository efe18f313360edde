// tslcat-cli with sizes and dates: search tests and long rows, export
// formats, updating a disc and listing duplicates, end to end.

#include <gtest/gtest.h>

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>

#include <fcntl.h>
#include <sys/stat.h>

#include "test_support.h"

using namespace tslcat_test;

namespace {

struct Result {
    int status;
    std::string out;
    std::string err;
};

class CliSizes : public ::testing::Test {
protected:
    QTemporaryDir work;
    QTemporaryDir disc;

    Result Run(const QStringList &args)
    {
        QProcess p;
        p.setWorkingDirectory(work.path());
        p.start(TSLCAT_CLI_PATH, args);
        EXPECT_TRUE(p.waitForFinished(60000));
        return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, p.readAllStandardOutput().toStdString(),
                p.readAllStandardError().toStdString()};
    }
    // A file of `size` bytes modified at `time` (seconds since 1970).
    void DiscFile(const QString &rel, size_t size, int64_t time)
    {
        QDir(disc.path()).mkpath(QFileInfo(disc.filePath(rel)).path());
        const std::string path = disc.filePath(rel).toStdString();
        ASSERT_TRUE(WriteFile(disc.filePath(rel), std::string(size, 'x')));
        struct timespec times[2] = {{static_cast<time_t>(time), 0}, {static_cast<time_t>(time), 0}};
        ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
    }
    void AddDisc(const QString &name)
    {
        Result r = Run({"add", "--name", name, disc.path()});
        ASSERT_EQ(r.status, 0) << r.err;
    }
};

} // namespace

TEST_F(CliSizes, SearchTestsLongRowsAndFormats)
{
    DiscFile("small.txt", 10, 1577836800);      // 2020-01-01
    DiscFile("docs/big.pdf", 3000, 1654041600); // 2022-06-01
    AddDisc("Disc");
    const struct {
        QStringList args;
        int status;
        std::string out;
    } cases[] = {
        {{"search", "--files", "--long", "."},
         0,
         "Disc\tsmall.txt\t[ ]:\\small.txt\t10\t2020-01-01T00:00:00Z\n"
         "Disc\tbig.pdf\t[ ]:\\docs\\big.pdf\t3000\t2022-06-01T00:00:00Z\n"},
        {{"search", "--larger", "2K", "."}, 0, "Disc\tdocs\t[ ]:\\docs\nDisc\tbig.pdf\t[ ]:\\docs\\big.pdf\n"},
        {{"search", "--files", "--smaller", "11", "."}, 0, "Disc\tsmall.txt\t[ ]:\\small.txt\n"},
        {{"search", "--files", "--newer", "2021-01-01", "."}, 0, "Disc\tbig.pdf\t[ ]:\\docs\\big.pdf\n"},
        // 2020-01-01T01:00+02:00 is 2019-12-31T23:00Z: small.txt is newer.
        {{"search", "--files", "--older", "2020-01-01T01:00+02:00", "."}, 1, ""},
        {{"search", "--files", "--older", "2020-01-01T00:00:01", "."}, 0, "Disc\tsmall.txt\t[ ]:\\small.txt\n"},
        {{"search", "--discs", "--long", "."}, 0, "Disc\t\t\t3010\t2022-06-01T00:00:00Z\n"},
        {{"search", "--files", "--format", "csv", "small"},
         0,
         "disc,name,path,kind,size,modified\r\nDisc,small.txt,[ ]:\\small.txt,file,10,2020-01-01T00:00:00Z\r\n"},
        {{"search", "--larger", "1X", "."}, 2, ""},
        {{"search", "--newer", "last week", "."}, 2, ""},
        {{"search", "--format", "xml", "."}, 2, ""},
    };
    for (const auto &c : cases) {
        Result r = Run(c.args);
        EXPECT_EQ(r.status, c.status) << c.args.join(' ').toStdString() << "\n" << r.err;
        EXPECT_EQ(r.out, c.out) << c.args.join(' ').toStdString();
    }
    Result json = Run({"list", "--format", "json"});
    EXPECT_EQ(json.status, 0);
    EXPECT_NE(json.out.find("\"size\": 3000"), std::string::npos) << json.out;
    EXPECT_EQ(Run({"list", "--format", "tsv"}).status, 2) << "list exports csv or json only";
}

TEST_F(CliSizes, ImportedTextHasNoSizesAndNeverPassesATest)
{
    ASSERT_TRUE(WriteFile(work.filePath("outline.txt"), "Old\r\n\tfile.txt\r\n"));
    ASSERT_EQ(Run({"import", "outline.txt"}).status, 0);
    EXPECT_EQ(Run({"search", "--files", "--long", "."}).out, "Old\tfile.txt\t[ ]:\\file.txt\t-\t-\n");
    EXPECT_EQ(Run({"search", "--smaller", "1G", "."}).status, 1);
    EXPECT_EQ(Run({"search", "--newer", "1970-01-01", "."}).status, 1);
}

TEST_F(CliSizes, UpdateReplacesTheDiscAndReportsWhatChanged)
{
    DiscFile("keep.txt", 5, 1500000000);
    DiscFile("grows.txt", 5, 1500000000);
    DiscFile("goes/away.txt", 5, 1500000000);
    AddDisc("First");
    AddDisc("Second");
    DiscFile("grows.txt", 6, 1500000000);
    DiscFile("new.txt", 1, 1500000000);
    ASSERT_TRUE(QDir(disc.filePath("goes")).removeRecursively());

    Result r = Run({"update", "--diff", "First", disc.path()});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out,
              "- [ ]:\\goes\\away.txt\n~ [ ]:\\grows.txt\n+ [ ]:\\new.txt\n"
              "1 added, 1 removed, 1 changed\nDatabase: 6 files\n");
    // Name and position kept, new contents in place, the other disc alone.
    EXPECT_EQ(Run({"list"}).out,
              "First\r\n\tgrows.txt\r\n\tkeep.txt\r\n\tnew.txt\r\n"
              "Second\r\n\tgrows.txt\r\n\tkeep.txt\r\n\tgoes\r\n\t\taway.txt\r\n");
    EXPECT_EQ(Run({"update", "First", disc.path()}).out, "0 added, 0 removed, 0 changed\nDatabase: 6 files\n");

    const std::string before = ReadFile(work.filePath("mdb.dat"));
    Result missing = Run({"update", "First", disc.filePath("nothing-here")});
    EXPECT_EQ(missing.status, 2);
    EXPECT_NE(missing.err.find("Nothing readable at"), std::string::npos) << missing.err;
    AddDisc("First");
    const std::string withTwins = ReadFile(work.filePath("mdb.dat"));
    Result twins = Run({"update", "First", disc.path()});
    EXPECT_EQ(twins.status, 2);
    EXPECT_NE(twins.err.find("more than one disc"), std::string::npos) << twins.err;
    EXPECT_EQ(ReadFile(work.filePath("mdb.dat")), withTwins) << "a refused update changes nothing";
    EXPECT_NE(before, withTwins);
    EXPECT_EQ(Run({"update", "Nobody", disc.path()}).status, 2);
}

TEST_F(CliSizes, DuplicatesByNameAndSize)
{
    DiscFile("a.iso", 2048, 1);
    DiscFile("b/readme", 3, 1);
    AddDisc("One");
    DiscFile("b/readme", 4, 1);
    AddDisc("Two");
    Result bySize = Run({"duplicates"});
    EXPECT_EQ(bySize.status, 0);
    EXPECT_EQ(bySize.out, "a.iso\t2048\n\tOne\t[ ]:\\a.iso\n\tTwo\t[ ]:\\a.iso\n");
    Result byName = Run({"duplicates", "--by", "name"});
    EXPECT_EQ(byName.out,
              "a.iso\t2048\n\tOne\t[ ]:\\a.iso\n\tTwo\t[ ]:\\a.iso\n\n"
              "readme\t4\n\tOne\t[ ]:\\b\\readme\n\tTwo\t[ ]:\\b\\readme\n");
    EXPECT_EQ(Run({"duplicates", "--min-size", "3K"}).status, 1) << "no group: exit 1, like a search without hits";
    EXPECT_EQ(Run({"duplicates", "--by", "size"}).status, 2);
}
