// Loading and saving "mdb.dat": the extension rule, the file-type list, the
// file count, disc icons and the progress a front end sees.

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include "catalog_errors.h"
#include "catalog_store.h"
#include "catalog_texts.h"
#include "catalog_tree.h"
#include "icon_lookup.h"
#include "test_support.h"

using namespace tslcat;
using namespace tslcat_test;

TEST(CatalogStore, ExtensionRule)
{
    const struct {
        const char *name;
        const char *extension;
    } cases[] = {
        {"Readme.TXT", ".TXT"},   {"archive.tar.gz", ".gz"},
        {"Makefile", ""},         {"name.", "."},
        {".profile", ".profile"}, {"", ""},
        {"dir.d\\file", ""},      {"c:file", ""},
        {"a.b\\c.d", ".d"},       {"x.y:z", ""},
        {"x:y.z", ".z"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(ExtensionOf(c.name), c.extension) << c.name;
}

TEST(CatalogStore, FileTypeListKeepsTheFirstFormInCaseInsensitiveOrder)
{
    TFileTypeList list;
    for (const char *ext : {".txt", ".doc", ".TXT", "", ".Doc", ".zip", ".txt", ""})
        list.Add(ext);
    EXPECT_EQ(list.Items(), (std::vector<std::string>{"", ".doc", ".txt", ".zip"}));

    TFileTypeList upperFirst;
    for (const char *ext : {".TXT", ".txt", ".b", ".A"})
        upperFirst.Add(ext);
    EXPECT_EQ(upperFirst.Items(), (std::vector<std::string>{".A", ".b", ".TXT"}));
}

namespace {

// Disc with a.txt, B.TXT, c.doc and "noext"; a second disc without entries.
void BuildTypesExample(TCatalogTree &tree)
{
    TCatalogNodes &n = tree.Items();
    TCatalogNode *d = n.AddChild(nullptr, "Disc");
    n.AddChild(d, "a.txt");
    TCatalogNode *sub = n.AddChild(d, "sub");
    n.AddChild(sub, "B.TXT");
    n.AddChild(sub, "c.doc");
    n.AddChild(d, "noext");
    n.AddChild(nullptr, "Empty.iso");
}

struct ProgressLog : ICatalogProgress {
    std::vector<std::string> log;
    int events = 0;
    int positions = 0;
    void SetStatusText(const char *text) override { log.push_back(std::string("status ") + text); }
    void ShowGauge(bool v) override { log.push_back(v ? "gauge on" : "gauge off"); }
    void SetGaugeMaximum(int m) override { log.push_back("max " + std::to_string(m)); }
    void SetGaugePosition(int) override { ++positions; }
    void SetBusy(bool b) override { log.push_back(b ? "busy" : "idle"); }
    void ProcessEvents() override { ++events; }
};

} // namespace

TEST(CatalogStore, LoadCountsFilesCollectsTypesAndRefreshesDiscIcons)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("mdb.dat");
    {
        TCatalogTree tree;
        BuildTypesExample(tree);
        tree.Items().Item(0)->SetIcons(77, 78); // stale disc icons from another system
        tree.Items().Item(2)->SetIcons(55, 56); // folder icons stay as stored
        tree.SaveToFile(path);
    }
    TCatalogTree tree;
    TPlainIconLookup icons;
    ProgressLog progress;
    TLoadResult r = LoadCatalog(tree, path, icons, &progress);
    ASSERT_TRUE(r.found);
    EXPECT_EQ(r.fileCount, 5); // four files and the disc without entries
    EXPECT_EQ(r.fileTypes.Items(), (std::vector<std::string>{"", ".doc", ".iso", ".txt"}));
    EXPECT_EQ(tree.Items().Item(0)->ImageIndex(), kIconFolder);
    EXPECT_EQ(tree.Items().Item(0)->SelectedIndex(), kIconFolderOpen);
    EXPECT_EQ(tree.Items().Item(2)->ImageIndex(), 55);
    EXPECT_EQ(tree.Items().Item(6)->ImageIndex(), -1) << "a disc without entries is a file";
    EXPECT_EQ(tree.Items().UpdateCount(), 0);
    EXPECT_EQ(progress.positions, 7);
    EXPECT_GE(progress.events, 9);
    EXPECT_EQ(
        progress.log,
        (std::vector<std::string>{"busy", "status Loading Database...", "gauge on", "status Preparing Tree Nodes...",
                                  "max 6", "gauge off", "status Displaying Tree...", "gauge off", "status ", "idle"}));
    EXPECT_EQ(DatabaseLabelText(r.fileCount), "Database: 5 files");
    EXPECT_EQ(DatabaseLabelText(1), "Database: 1 files");
}

TEST(CatalogStore, MissingFileChangesNothing)
{
    QTemporaryDir dir;
    TCatalogTree tree;
    BuildTypesExample(tree);
    TPlainIconLookup icons;
    TLoadResult r = LoadCatalog(tree, dir.filePath("mdb.dat"), icons);
    EXPECT_FALSE(r.found);
    EXPECT_EQ(tree.Items().Count(), 7);
}

TEST(CatalogStore, EmptyCatalogLoadsWithoutComplaint)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("mdb.dat");
    TCatalogTree().SaveToFile(path);
    TCatalogTree tree;
    TPlainIconLookup icons;
    ProgressLog progress;
    TLoadResult r = LoadCatalog(tree, path, icons, &progress);
    EXPECT_TRUE(r.found);
    EXPECT_EQ(r.fileCount, 0);
    EXPECT_TRUE(r.fileTypes.Items().empty());
    for (const auto &entry : progress.log)
        EXPECT_NE(entry.rfind("max", 0), 0u) << "gauge range set for an empty catalog";
}

// A long read kept the window frozen: events must be processed while the
// file is being read, not only in the pass after it.
TEST(CatalogStore, EventsAreProcessedDuringTheRead)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("mdb.dat");
    {
        TCatalogTree big;
        for (int d = 0; d < 4; ++d) {
            TCatalogNode *disc = big.Items().AddChild(nullptr, "disc" + std::to_string(d));
            for (int i = 0; i < 5000; ++i)
                big.Items().AddChild(disc, "file" + std::to_string(i) + ".txt");
        }
        big.SaveToFile(path);
    }
    struct SeeingProgress : ProgressLog {
        TCatalogTree *tree = nullptr;
        int partial = 0; // calls that saw a tree still being read
        void ProcessEvents() override
        {
            ProgressLog::ProcessEvents();
            const int count = tree->Items().Count();
            partial += count > 0 && count < 20004;
        }
    } progress;
    TCatalogTree tree;
    progress.tree = &tree;
    int earlierHookCalls = 0;
    tree.OnLoadProgress = [&] { ++earlierHookCalls; };
    TPlainIconLookup icons;
    TLoadResult r = LoadCatalog(tree, path, icons, &progress);
    EXPECT_EQ(r.fileCount, 20000);
    EXPECT_GE(progress.partial, 4) << "no events while the file was read";
    ASSERT_TRUE(tree.OnLoadProgress) << "the front end's own hook must be put back";
    tree.OnLoadProgress();
    EXPECT_EQ(earlierHookCalls, 1);
}

TEST(CatalogStore, FailedLoadKeepsEarlierNodesAndLiftsTheSuspension)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("mdb.dat");
    ASSERT_TRUE(WriteFile(path, "A\r\n\tB\r\n\t\t\tC\r\n"));
    TCatalogTree tree;
    RecordingObserver obs;
    tree.SetObserver(&obs);
    TPlainIconLookup icons;
    ProgressLog progress;
    EXPECT_THROW(LoadCatalog(tree, path, icons, &progress), ECatalogTreeError);
    EXPECT_EQ(Outline(tree), "A\n  B\n");
    EXPECT_EQ(tree.Items().UpdateCount(), 0);
    EXPECT_EQ(obs.events.back(), "update-ended");
    EXPECT_EQ(progress.log.back(), "idle");
    EXPECT_FALSE(tree.IsBusy());
}

TEST(CatalogStore, SaveReturnsTheFileCountAndWritesTheBinaryForm)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("mdb.dat");
    TCatalogTree tree;
    BuildTypesExample(tree);
    ProgressLog progress;
    EXPECT_EQ(SaveCatalog(tree, path, &progress), 5);
    EXPECT_EQ(progress.log, (std::vector<std::string>{"status Saving Database...", "busy", "idle", "status "}));
    EXPECT_EQ(progress.events, 0) << "saving processes no events";
    EXPECT_EQ(ReadFile(path).substr(0, 5), Hex("0D 54 4E 54 0D"));
    tree.Items().Delete(tree.Items().Item(2)); // folder "sub" with two files
    EXPECT_EQ(SaveCatalog(tree, path), 3);
    EXPECT_EQ(CountFiles(tree), 3);
}

TEST(CatalogStore, FailedSaveResetsProgressAndRethrows)
{
    QTemporaryDir dir;
    TCatalogTree tree;
    ProgressLog progress;
    EXPECT_THROW(SaveCatalog(tree, dir.filePath("no/such/mdb.dat"), &progress), EFCreateError);
    EXPECT_EQ(progress.log.back(), "status ");
}
