// tslcat-cli end to end: commands, output, exit codes, and a damaged
// catalog that must never be overwritten.

#include <gtest/gtest.h>

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>

#include "test_support.h"
#include "volumes.h"

using namespace tslcat_test;

namespace {

struct Result {
    int status;
    std::string out;
    std::string err;
};

class Cli : public ::testing::Test {
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
    void DiscFile(const QString &rel)
    {
        QDir(disc.path()).mkpath(QFileInfo(disc.filePath(rel)).path());
        ASSERT_TRUE(WriteFile(disc.filePath(rel), "x"));
    }
    QString Db() const { return work.filePath("mdb.dat"); }
    void AddExampleDisc()
    {
        DiscFile("setup/readme.txt");
        DiscFile("setup/tool.zip");
        DiscFile("notes.TXT");
        Result r = Run({"add", "--name", "Tools", disc.path()});
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, "Database: 3 files\n");
    }
};

} // namespace

TEST_F(Cli, AddListStatsSearch)
{
    AddExampleDisc();
    Result list = Run({"list"});
    EXPECT_EQ(list.status, 0);
    EXPECT_EQ(list.out, "Tools\r\n\tnotes.TXT\r\n\tsetup\r\n\t\treadme.txt\r\n\t\ttool.zip\r\n");

    Result stats = Run({"stats"});
    EXPECT_EQ(stats.out, "Database: 3 files\n.TXT\n.zip\n");

    const struct {
        QStringList args;
        int status;
        std::string out;
        std::string err;
    } cases[] = {
        {{"search", "readme"}, 0, "Tools\treadme.txt\t[ ]:\\setup\\readme.txt\n", "Found: 1 file(s)/folder(s)\n"},
        {{"search", "--folders", "."}, 0, "Tools\tsetup\t[ ]:\\setup\n", "Found: 1 folder(s)\n"},
        {{"search", "--files", "--type", ".zip", "."},
         0,
         "Tools\ttool.zip\t[ ]:\\setup\\tool.zip\n",
         "Found: 1 file(s)\n"},
        {{"search", "--files", "--case", "txt"},
         0,
         "Tools\treadme.txt\t[ ]:\\setup\\readme.txt\n",
         "Found: 1 file(s)\n"},
        {{"search", "--discs", "^T"}, 0, "Tools\n", "Found: 1 CD(s)\n"},
        {{"search", "--type", ".TXT", "t"}, 0, "Tools\tnotes.TXT\t[ ]:\\notes.TXT\n", "Found: 1 file(s)\n"},
        {{"search", "--type", "TXT", "t"}, 0, "Tools\tnotes.TXT\t[ ]:\\notes.TXT\n", "Found: 1 file(s)\n"},
        {{"search", "--type", "txt", "t"}, 0, "Tools\treadme.txt\t[ ]:\\setup\\readme.txt\n", "Found: 1 file(s)\n"},
        {{"search", "--both", "--type", ".TXT", "t"}, 2, "", "tslcat-cli: search: --type applies to --files only\n"},
        {{"search", "nothing"}, 1, "", "Found: 0 file(s)/folder(s)\n"},
        {{"search", "\\("}, 2, "", "Regular Expression Error: Unmatched \\(\n"},
        {{"search", "--files", "--folders", "x"},
         2,
         "",
         "tslcat-cli: search: give at most one of --files, --folders, --both, --discs\n"},
        {{"search", ""}, 2, "", "tslcat-cli: Enter valid Search String !\n"},
    };
    for (const auto &c : cases) {
        Result r = Run(c.args);
        EXPECT_EQ(r.status, c.status) << c.args.join(' ').toStdString();
        EXPECT_EQ(r.out, c.out) << c.args.join(' ').toStdString();
        EXPECT_EQ(r.err, c.err) << c.args.join(' ').toStdString();
    }
}

TEST_F(Cli, DefaultNameIsTheFoldersNameAndRemoveTakesEveryDiscOfThatName)
{
    DiscFile("a");
    ASSERT_EQ(Run({"add", disc.path()}).status, 0);
    ASSERT_EQ(Run({"add", "--name", "Other", disc.path()}).status, 0);
    ASSERT_EQ(Run({"add", disc.path()}).status, 0);
    const std::string name = QFileInfo(disc.path()).fileName().toStdString();
    EXPECT_EQ(Run({"list"}).out, name + "\r\n\ta\r\nOther\r\n\ta\r\n" + name + "\r\n\ta\r\n");
    Result r = Run({"remove", QString::fromStdString(name)});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "Database: 1 files\n");
    EXPECT_EQ(Run({"list"}).out, "Other\r\n\ta\r\n");
    Result none = Run({"remove", "Nope"});
    EXPECT_EQ(none.status, 2);
    EXPECT_EQ(none.err, "tslcat-cli: remove: no disc named Nope\n");
}

TEST_F(Cli, ExportAndImportBothForms)
{
    AddExampleDisc();
    ASSERT_EQ(Run({"export", "--binary", "copy.dat"}).status, 0);
    EXPECT_EQ(ReadFile(work.filePath("copy.dat")), ReadFile(Db()));
    ASSERT_EQ(Run({"export", "--text", "copy.txt"}).status, 0);
    EXPECT_EQ(ReadFile(work.filePath("copy.txt")), Run({"list"}).out);

    Result imported = Run({"--db", "other.dat", "import", "copy.txt"});
    EXPECT_EQ(imported.status, 0) << imported.err;
    Result again = Run({"--db", "other.dat", "import", "copy.dat"});
    EXPECT_EQ(again.out, "Database: 6 files\n");
    EXPECT_EQ(Run({"--db", "other.dat", "list"}).out,
              "Tools\r\n\tnotes.TXT\r\n\tsetup\r\n\t\treadme.txt\r\n\t\ttool.zip\r\n"
              "Tools\r\n\tnotes.TXT\r\n\tsetup\r\n\t\treadme.txt\r\n\t\ttool.zip\r\n");
    EXPECT_EQ(Run({"export", "--text", "--binary", "x"}).status, 2);
}

TEST_F(Cli, DamagedCatalogIsReportedAndNeverOverwritten)
{
    const std::string damaged = Hex("0D 54 4E 54 0D 00 01 00 00 00 5E 00 00");
    ASSERT_TRUE(WriteFile(Db(), damaged));
    DiscFile("f");
    ASSERT_TRUE(WriteFile(work.filePath("in.txt"), "X\r\n"));
    for (const QStringList &args : {QStringList{"add", disc.path()}, QStringList{"remove", "x"},
                                    QStringList{"import", "in.txt"}, QStringList{"list"}}) {
        Result r = Run(args);
        EXPECT_EQ(r.status, 2) << args.join(' ').toStdString();
        EXPECT_EQ(r.err, "tslcat-cli: Stream read error: disc count 1 at byte 6 exceeds the rest of the file\n")
            << args.join(' ').toStdString();
        EXPECT_EQ(ReadFile(Db()), damaged) << args.join(' ').toStdString();
    }
}

TEST_F(Cli, MissingCatalogAndUsageErrors)
{
    Result list = Run({"list"});
    EXPECT_EQ(list.status, 2);
    EXPECT_EQ(list.err, "tslcat-cli: No Database found (file 'mdb.dat' missing)\n");
    EXPECT_FALSE(QFileInfo::exists(Db()));
    EXPECT_EQ(Run({}).status, 2);
    EXPECT_EQ(Run({"frobnicate"}).status, 2);
    EXPECT_EQ(Run({"--help"}).status, 0);
    Result notFolder = Run({"add", work.filePath("nope")});
    EXPECT_EQ(notFolder.status, 2);
    EXPECT_FALSE(QFileInfo::exists(Db()));
}

TEST_F(Cli, LocateAnUnmountedDiscExitsOne)
{
    // No catalog is needed: the disc is looked for among the volumes.
    Result r = Run({"locate", "No Such Disc 7f3a9c"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "tslcat-cli: locate: no disc labelled No Such Disc 7f3a9c is mounted\n");
    EXPECT_EQ(Run({"locate"}).status, 2);
    EXPECT_EQ(Run({"locate", "a", "b"}).status, 2);
    EXPECT_FALSE(QFileInfo::exists(Db()));
}

TEST_F(Cli, LocatePrintsTheMountPathOfALabelledVolume)
{
    tslcat::TSystemVolumeList system;
    for (const tslcat::TVolume &v : system.Volumes()) {
        if (!v.mounted || !v.ready || v.label.empty())
            continue;
        std::string mountPath = v.root.size() > 1 ? v.root.substr(0, v.root.size() - 1) : v.root;
        // The first labelled volume answers to its label in any letter case.
        for (const QString &name : {QString::fromStdString(v.label), QString::fromStdString(v.label).toLower()}) {
            Result r = Run({"locate", name});
            EXPECT_EQ(r.status, 0) << r.err;
            EXPECT_EQ(r.out, mountPath + "\n");
        }
        return;
    }
    GTEST_SKIP() << "no mounted volume with a label on this machine";
}
