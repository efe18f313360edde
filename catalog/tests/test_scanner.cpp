// TTreeScanner and adding a disc, on temporary folder trees: order, hidden
// entries, symbolic links, unreadable folders and the events.

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <sys/stat.h>
#include <unistd.h>

#include "catalog_tree.h"
#include "icon_lookup.h"
#include "test_support.h"
#include "platform.h"
#include "tree_scanner.h"

using namespace tslcat;
using namespace tslcat_test;

namespace {

class ScanTree : public ::testing::Test {
protected:
    QTemporaryDir dir;
    std::string Root() const { return dir.path().toStdString() + "/"; }
    void File(const QString &rel, const std::string &content = "")
    {
        ASSERT_TRUE(WriteFile(dir.filePath(rel), content)) << rel.toStdString();
    }
    void Folder(const QString &rel) { ASSERT_TRUE(QDir(dir.path()).mkpath(rel)); }
    void Link(const QString &target, const QString &rel)
    {
        ASSERT_EQ(::symlink(target.toLocal8Bit().constData(), dir.filePath(rel).toLocal8Bit().constData()), 0);
    }
};

} // namespace

TEST_F(ScanTree, FilesFirstInNameOrderThenEachFolderWithItsContents)
{
    File("a.TXT");
    File("B.txt");
    Folder("zeta");
    File("zeta/z1");
    Folder("Alpha/inner");
    File("Alpha/al");
    File("Alpha/inner/deep");
    TCatalogTree tree;
    TPlainIconLookup icons;
    TAddDiscResult r = AddDisc(tree, Root(), "Disc", icons);
    EXPECT_EQ(Outline(tree), "Disc\n  a.TXT\n  B.txt\n  Alpha\n    al\n    inner\n      deep\n  zeta\n    z1\n");
    EXPECT_EQ(r.disc, tree.Items().Item(0));
    EXPECT_EQ(r.fileCount, 5);
    EXPECT_EQ(r.fileTypes.Items(), (std::vector<std::string>{"", ".TXT"}));
    // Icons: folders plain/open, files generic.
    EXPECT_EQ(tree.Items().Item(3)->ImageIndex(), kIconFolder);
    EXPECT_EQ(tree.Items().Item(3)->SelectedIndex(), kIconFolderOpen);
    EXPECT_EQ(tree.Items().Item(1)->ImageIndex(), kIconGenericFile);
    EXPECT_EQ(tree.Items().Item(0)->ImageIndex(), kIconFolder);
    EXPECT_EQ(tree.Items().UpdateCount(), 0);
}

TEST_F(ScanTree, HiddenFoldersAreSkippedHiddenFilesKept)
{
    File(".profile");
    Folder(".cache");
    File(".cache/inside");
    Folder("docs/.git");
    File("docs/.git/config");
    File("docs/readme");
    TCatalogTree tree;
    TPlainIconLookup icons;
    AddDisc(tree, Root(), "D", icons);
    EXPECT_EQ(Outline(tree), "D\n  .profile\n  docs\n    readme\n");
}

TEST_F(ScanTree, SymbolicLinksAreFilesAndNeverFollowed)
{
    Folder("real");
    File("real/file");
    Link("..", "real/up");     // a loop back to the root
    Link("real", "toReal");    // a link to a folder
    Link("missing", "broken"); // a dangling link
    TCatalogTree tree;
    TPlainIconLookup icons;
    TAddDiscResult r = AddDisc(tree, Root(), "D", icons);
    EXPECT_EQ(Outline(tree), "D\n  broken\n  toReal\n  real\n    file\n    up\n");
    EXPECT_FALSE(tree.Items().Item(2)->HasChildren());
    EXPECT_EQ(r.fileCount, 4);
}

TEST_F(ScanTree, NamesDifferingOnlyInCaseAreAllKept)
{
    File("readme");
    File("README");
    File("ReadMe");
    TCatalogTree tree;
    TPlainIconLookup icons;
    AddDisc(tree, Root(), "D", icons);
    EXPECT_EQ(Outline(tree), "D\n  README\n  ReadMe\n  readme\n");
}

TEST_F(ScanTree, MissingRootGivesADiscWithoutEntries)
{
    TCatalogTree tree;
    TPlainIconLookup icons;
    TAddDiscResult r = AddDisc(tree, Root() + "does-not-exist/", "", icons);
    EXPECT_EQ(tree.Items().Count(), 1);
    EXPECT_EQ(tree.Items().Item(0)->Text(), "");
    EXPECT_EQ(r.fileCount, 1);
    EXPECT_EQ(r.fileTypes.Items(), std::vector<std::string>{""});
}

TEST_F(ScanTree, UnreadableFolderYieldsNoEntries)
{
    if (::geteuid() == 0)
        GTEST_SKIP() << "permissions do not restrict root";
    Folder("locked");
    File("locked/secret");
    ASSERT_EQ(::chmod(dir.filePath("locked").toLocal8Bit().constData(), 0), 0);
    TCatalogTree tree;
    TPlainIconLookup icons;
    AddDisc(tree, Root(), "D", icons);
    ::chmod(dir.filePath("locked").toLocal8Bit().constData(), 0755);
    EXPECT_EQ(Outline(tree), "D\n  locked\n");
}

TEST_F(ScanTree, SecondDiscUnderAnExistingNameIsAppended)
{
    File("f");
    TCatalogTree tree;
    TPlainIconLookup icons;
    AddDisc(tree, Root(), "Same", icons);
    TAddDiscResult r = AddDisc(tree, Root(), "Same", icons);
    EXPECT_EQ(Outline(tree), "Same\n  f\nSame\n  f\n");
    EXPECT_EQ(r.fileCount, 2) << "counts the files of every disc";
}

TEST_F(ScanTree, ScannerEventsPathsAndMask)
{
    File("x.txt", "12345");
    File("y.doc");
    File("Makefile");
    Folder("sub");
    File("sub/z.TXT");
    std::vector<std::string> events;
    TTreeScanner scanner;
    scanner.InitialDirectory = dir.path().toStdString() + "///";
    const std::string root = Root();
    auto rel = [&](const std::string &p) { return p.substr(root.size() - 1); };
    scanner.OnDirectoryFound = [&](TTreeScanner &s) {
        EXPECT_TRUE(s.SearchInProgress());
        events.push_back("dir " + rel(s.FileFound()));
    };
    scanner.OnFileFound = [&](TTreeScanner &s) {
        events.push_back("file " + rel(s.FileFound()) + " " + std::to_string(s.FileSize()));
    };
    scanner.OnDirectoryDone = [&](TTreeScanner &s) { events.push_back("done " + rel(s.FileFound())); };
    scanner.Scan();
    EXPECT_FALSE(scanner.SearchInProgress());
    EXPECT_EQ(events,
              (std::vector<std::string>{"dir /", "file /Makefile 0", "file /x.txt 5", "file /y.doc 0", "dir /sub/",
                                        "file /sub/z.TXT 0", "done /sub/", "done /"}));

    events.clear();
    scanner.FileMask = "*.txt";
    scanner.Recursive = false;
    scanner.Scan();
    EXPECT_EQ(events, (std::vector<std::string>{"dir /", "file /x.txt 5", "dir /sub/", "done /"}));
}

TEST(PlatformListing, AnythingButAFolderListsNothing)
{
    QTemporaryDir dir;
    ASSERT_TRUE(WriteFile(dir.filePath("file"), "x"));
    std::vector<platform::TFolderEntry> entries{{"stale", false, false, 0}};
    EXPECT_FALSE(platform::ListFolder(dir.filePath("file").toStdString() + "/", entries));
    EXPECT_TRUE(entries.empty());
    EXPECT_FALSE(platform::ListFolder(dir.filePath("missing").toStdString() + "/", entries));
    EXPECT_TRUE(platform::ListFolder(dir.path().toStdString() + "/", entries));
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].name, "file");
    EXPECT_EQ(entries[0].size, 1u);
    EXPECT_FALSE(entries[0].isFolder);
}

// Below a certain depth the walk stops holding every folder open and opens
// subfolders by full path; both ways must give the same entries.
TEST_F(ScanTree, DeepTreeIsWalkedWholeAtEveryDepth)
{
    QString rel;
    for (int i = 0; i < 80; ++i) {
        rel += QString("d%1/").arg(i);
        Folder(rel);
        File(rel + "f" + QString::number(i));
    }
    TTreeScanner scanner;
    scanner.InitialDirectory = Root();
    int folders = 0, files = 0, done = 0;
    std::string deepest;
    scanner.OnDirectoryFound = [&](TTreeScanner &) { ++folders; };
    scanner.OnFileFound = [&](TTreeScanner &s) {
        ++files;
        deepest = s.FileFound();
    };
    scanner.OnDirectoryDone = [&](TTreeScanner &) { ++done; };
    scanner.Scan();
    EXPECT_EQ(folders, 81); // the root and 80 levels
    EXPECT_EQ(done, 81);
    EXPECT_EQ(files, 80);
    EXPECT_EQ(deepest, Root() + rel.toStdString() + "f79");
}

// Sizes are read only when a handler asks, from the folder being listed:
// each file gets its own size, a link its own (not its target's), and
// outside a file event the size is 0.
TEST_F(ScanTree, FileSizeIsEachFilesOwnSize)
{
    File("a", "1");
    File("b", std::string(70000, 'b'));
    Folder("sub");
    File("sub/c", "123");
    Link("b", "link");
    std::vector<std::string> sizes;
    TTreeScanner scanner;
    scanner.InitialDirectory = Root();
    scanner.OnDirectoryFound = [&](TTreeScanner &s) { sizes.push_back("dir " + std::to_string(s.FileSize())); };
    scanner.OnFileFound = [&](TTreeScanner &s) {
        const uint32_t first = s.FileSize();
        EXPECT_EQ(s.FileSize(), first) << "asking twice";
        sizes.push_back(s.FileFound().substr(Root().size()) + " " + std::to_string(first));
    };
    scanner.Scan();
    EXPECT_EQ(sizes, (std::vector<std::string>{"dir 0", "a 1", "b 70000", "link 1", "dir 0", "sub/c 3"}));
    EXPECT_EQ(scanner.FileSize(), 0u);
}
