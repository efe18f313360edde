// The catalog search: candidates by kind, the file-type filter, the case
// flag, result rows and paths, the "Found: " text and long names.

#include <gtest/gtest.h>

#include "catalog_search.h"
#include "catalog_store.h"
#include "catalog_tree.h"
#include "quarn32.h"
#include "test_support.h"

using namespace tslcat;

namespace {

// Disc "Tools 1998": readme.txt, setup (docs (README.TXT, x.ZIP, a.zip), empty), b.zip
// Disc "Empty CD" without entries.
void BuildSearchExample(TCatalogTree &tree)
{
    TCatalogNodes &n = tree.Items();
    TCatalogNode *d = n.AddChild(nullptr, "Tools 1998");
    n.AddChild(d, "readme.txt");
    TCatalogNode *setup = n.AddChild(d, "setup");
    TCatalogNode *docs = n.AddChild(setup, "docs");
    n.AddChild(docs, "README.TXT");
    n.AddChild(docs, "x.ZIP");
    n.AddChild(docs, "a.zip");
    n.AddChild(setup, "empty");
    n.AddChild(d, "b.zip");
    n.AddChild(nullptr, "Empty CD");
}

std::string Rows(const std::vector<TResultRow> &rows)
{
    std::string out;
    for (const auto &r : rows) {
        out += r.discName;
        if (!r.IsDiscRow())
            out += "|" + r.nodeName + "|" + r.fullPath;
        out += "\n";
    }
    return out;
}

// Library failure reports go to a quiet sink during these tests.
struct QuietLibrary {
    static inline std::vector<std::string> reports;
    QuarnMessageSink previous;
    QuietLibrary()
    {
        reports.clear();
        previous = QuarnSetMessageSink(
            [](const char *text, const char *caption) { reports.push_back(std::string(caption) + ": " + text); });
    }
    ~QuietLibrary() { QuarnSetMessageSink(previous); }
};

} // namespace

TEST(CatalogSearch, KindsFilterAndCase)
{
    TCatalogTree tree;
    BuildSearchExample(tree);
    const struct {
        const char *what;
        TSearchRequest request;
        std::string rows;
        std::string found;
    } cases[] = {
        {"every file, empty folders and no empty disc",
         {".", false, TSearchKind::Files, ""},
         "Tools 1998|readme.txt|[ ]:\\readme.txt\n"
         "Tools 1998|README.TXT|[ ]:\\setup\\docs\\README.TXT\n"
         "Tools 1998|x.ZIP|[ ]:\\setup\\docs\\x.ZIP\n"
         "Tools 1998|a.zip|[ ]:\\setup\\docs\\a.zip\n"
         "Tools 1998|empty|[ ]:\\setup\\empty\n"
         "Tools 1998|b.zip|[ ]:\\b.zip\n",
         "Found: 6 file(s)"},
        {"filter is exact-case",
         {".", false, TSearchKind::Files, ".zip"},
         "Tools 1998|a.zip|[ ]:\\setup\\docs\\a.zip\nTools 1998|b.zip|[ ]:\\b.zip\n",
         "Found: 2 file(s)"},
        {"case-insensitive by default",
         {"readme", false, TSearchKind::Files, ""},
         "Tools 1998|readme.txt|[ ]:\\readme.txt\nTools 1998|README.TXT|[ ]:\\setup\\docs\\README.TXT\n",
         "Found: 2 file(s)"},
        {"case flag",
         {"readme", true, TSearchKind::Files, ""},
         "Tools 1998|readme.txt|[ ]:\\readme.txt\n",
         "Found: 1 file(s)"},
        {"folders have children",
         {".", false, TSearchKind::Folders, ".zip"},
         "Tools 1998|setup|[ ]:\\setup\nTools 1998|docs|[ ]:\\setup\\docs\n",
         "Found: 2 folder(s)"},
        {"files and folders, filter ignored",
         {"^[a-e]", false, TSearchKind::FilesAndFolders, ".none"},
         "Tools 1998|docs|[ ]:\\setup\\docs\nTools 1998|a.zip|[ ]:\\setup\\docs\\a.zip\n"
         "Tools 1998|empty|[ ]:\\setup\\empty\nTools 1998|b.zip|[ ]:\\b.zip\n",
         "Found: 4 file(s)/folder(s)"},
        {"discs only", {"CD|Tools", false, TSearchKind::Discs, ".zip"}, "Tools 1998\nEmpty CD\n", "Found: 2 CD(s)"},
        {"no hit", {"nothing-like-this", false, TSearchKind::FilesAndFolders, ""}, "", ""},
    };
    for (const auto &c : cases) {
        TSearchOutcome out = RunSearch(tree, c.request);
        EXPECT_TRUE(out.accepted) << c.what;
        EXPECT_EQ(out.compileResult, 0) << c.what;
        EXPECT_EQ(Rows(out.rows), c.rows) << c.what;
        EXPECT_EQ(out.foundText, c.found) << c.what;
        EXPECT_EQ(out.noMatches, c.rows.empty()) << c.what;
        EXPECT_EQ(out.hitCount, static_cast<int64_t>(out.rows.size())) << c.what;
    }
}

TEST(CatalogSearch, RefusedAndFaultyExpressions)
{
    QuietLibrary quiet;
    TCatalogTree tree;
    BuildSearchExample(tree);
    EXPECT_FALSE(RunSearch(tree, {"", false, TSearchKind::Files, ""}).accepted);
    EXPECT_FALSE(RunSearch(tree, {"Search Text goes here !", false, TSearchKind::Files, ""}).accepted);

    TSearchOutcome out = RunSearch(tree, {"\\(", false, TSearchKind::FilesAndFolders, ""});
    EXPECT_TRUE(out.accepted);
    EXPECT_EQ(out.compileResult, 34);
    EXPECT_TRUE(out.noMatches);
    EXPECT_TRUE(out.rows.empty());
    EXPECT_EQ(QuietLibrary::reports, std::vector<std::string>{"Regular Expression Error: Unmatched \\("});
}

TEST(CatalogSearch, EmptyCatalogExaminesNothing)
{
    TCatalogTree tree;
    TSearchOutcome out = RunSearch(tree, {".", false, TSearchKind::Discs, ""});
    EXPECT_TRUE(out.noMatches);
}

// The classic match buffer held 200 bytes and cut longer names; a hit past
// byte 200 was missed.  Long names are now matched whole.
TEST(CatalogSearch, NamesLongerThan200BytesAreMatchedWhole)
{
    TCatalogTree tree;
    TCatalogNode *d = tree.Items().AddChild(nullptr, "D");
    tree.Items().AddChild(d, std::string(250, 'a') + "needle.txt");
    tree.Items().AddChild(d, "short.txt");
    TSearchOutcome out = RunSearch(tree, {"needle", false, TSearchKind::Files, ""});
    ASSERT_EQ(out.rows.size(), 1u);
    EXPECT_EQ(out.rows[0].nodeName.size(), 260u);
    EXPECT_EQ(RunSearch(tree, {"^short", false, TSearchKind::Files, ""}).rows.size(), 1u);
    EXPECT_EQ(RunSearch(tree, {"t$", false, TSearchKind::Files, ""}).rows.size(), 2u);
}

TEST(CatalogSearch, ObserverAndProgressSeeEveryHitAndNode)
{
    TCatalogTree tree;
    BuildSearchExample(tree);
    struct Watch : ISearchObserver, ICatalogProgress {
        std::vector<std::string> found;
        int positions = 0, events = 0;
        bool busySeen = false;
        const TCatalogTree *tree = nullptr;
        void Hit(const TResultRow &, int64_t, const std::string &text) override { found.push_back(text); }
        void SetGaugePosition(int) override { ++positions; }
        void ProcessEvents() override
        {
            ++events;
            busySeen = busySeen || tree->IsBusy();
        }
    } watch;
    watch.tree = &tree;
    RunSearch(tree, {"zip", false, TSearchKind::Files, ""}, &watch, &watch);
    EXPECT_EQ(watch.found, (std::vector<std::string>{"Found: 1 file(s)", "Found: 2 file(s)", "Found: 3 file(s)"}));
    EXPECT_EQ(watch.positions, tree.Items().Count());
    EXPECT_EQ(watch.events, tree.Items().Count());
    EXPECT_TRUE(watch.busySeen);
    EXPECT_FALSE(tree.IsBusy());
}

TEST(CatalogSearch, RowsOutliveTheTree)
{
    std::vector<TResultRow> rows;
    {
        TCatalogTree tree;
        BuildSearchExample(tree);
        rows = RunSearch(tree, {"a.zip", false, TSearchKind::Files, ""}).rows;
    }
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].components, (std::vector<std::string>{"setup", "docs", "a.zip"}));
}

TEST(CatalogSearch, ColumnCaptions)
{
    EXPECT_STREQ(ResultColumnCaption(TSearchKind::Files), "Filename");
    EXPECT_STREQ(ResultColumnCaption(TSearchKind::Folders), "Folder");
    EXPECT_STREQ(ResultColumnCaption(TSearchKind::FilesAndFolders), "Filename/Folder");
    EXPECT_STREQ(ResultColumnCaption(TSearchKind::Discs), "");
}

// An empty name has no storage; copying it into the match buffer passed a
// null pointer to memcpy (found by fuzz_catalog).
TEST(CatalogSearch, EmptyNamesAreMatchedAsEmptyText)
{
    TCatalogTree tree;
    TCatalogNode *d = tree.Items().AddChild(nullptr, "");
    tree.Items().AddChild(d, "");
    EXPECT_EQ(RunSearch(tree, {"^$", false, TSearchKind::FilesAndFolders, ""}).rows.size(), 1u);
    EXPECT_EQ(RunSearch(tree, {".", false, TSearchKind::Discs, ""}).rows.size(), 0u);
}

TEST(CatalogSearch, RowsOfDeepNodesHoldTheWholePath)
{
    TCatalogTree tree;
    TCatalogNode *n = tree.Items().AddChild(nullptr, "D");
    std::string expected = "[ ]:\\";
    for (int i = 0; i < 100; ++i) {
        n = tree.Items().AddChild(n, "f" + std::to_string(i));
        expected += (i ? "\\f" : "f") + std::to_string(i);
    }
    TResultRow row = MakeResultRow(*n);
    EXPECT_EQ(row.fullPath, expected);
    ASSERT_EQ(row.components.size(), 100u);
    EXPECT_EQ(row.components[0], "f0");
    EXPECT_EQ(row.components[99], "f99");
    EXPECT_EQ(row.nodeName, "f99");
    EXPECT_EQ(row.discName, "D");
}

// Names are tested where the catalog stores them; that must answer exactly
// as testing a copy in the match buffer does, for names holding a zero byte
// (the test sees only the bytes before it), names shrunk in place by a
// rename (the old tail must not be seen), empty and very long names.
TEST(CatalogSearch, NamesTestedInPlaceAnswerAsACopyWould)
{
    QuietLibrary quiet;
    TCatalogTree tree;
    TCatalogNodes &n = tree.Items();
    TCatalogNode *d = n.AddChild(nullptr, "D");
    n.AddChild(d, std::string("zip\0.txt", 8));
    n.AddChild(d, "archive.zip.bak")->SetText("archive.zip");
    n.AddChild(d, "readme.txt.old")->SetText("readme");
    n.AddChild(d, "");
    n.AddChild(d, std::string(300, 'q') + ".zip");
    const char *patterns[] = {"zip$", "txt", "^$", "\\.zip$", "e$", "q+\\.", "^[a-z]*$", "."};
    for (const char *pattern : patterns) {
        for (bool caseSensitive : {false, true}) {
            TSearchContext ctx(tree, pattern, caseSensitive);
            for (int i = 1; i < n.Count(); ++i) {
                const TCatalogNode &node = *n.Item(i);
                EXPECT_EQ(ctx.Matches(node), ctx.Matches(node.Text())) << pattern << " on node " << i;
            }
        }
    }
    // And the answers themselves.
    EXPECT_EQ(Rows(RunSearch(tree, {"zip$", true, TSearchKind::Files, ""}).rows),
              std::string("D|zip\0.txt|[ ]:\\zip\0.txt\nD|archive.zip|[ ]:\\archive.zip\nD|", 58) +
                  std::string(300, 'q') + ".zip|[ ]:\\" + std::string(300, 'q') + ".zip\n");
    EXPECT_EQ(RunSearch(tree, {"old", false, TSearchKind::Files, ""}).hitCount, 0);
}

// Back references can backtrack for minutes on one long name; the search
// runs under a step limit and reports the expression as too complex, then
// leaves the library's limit as it found it.
TEST(CatalogSearch, RunawayExpressionIsReportedTooComplex)
{
    QuietLibrary quiet;
    TCatalogTree tree;
    TCatalogNode *d = tree.Items().AddChild(nullptr, "Disc");
    tree.Items().AddChild(d, "ab");
    tree.Items().AddChild(d, std::string(255, 'a'));
    tree.Items().AddChild(d, "aab");

    const int32_t before = QuarnSetStepLimit(0);
    TSearchOutcome out = RunSearch(tree, {"\\(a\\)a*a*a*a*a*a*\\1b", false, TSearchKind::Files, ""});
    EXPECT_TRUE(out.tooComplex);
    EXPECT_EQ(out.compileResult, 0);
    EXPECT_TRUE(out.rows.empty()); // "ab" has no second a; the walk stopped at the long name
    EXPECT_EQ(QuarnSetStepLimit(before), 0);

    out = RunSearch(tree, {"\\(a\\)\\1b", false, TSearchKind::Files, ""});
    EXPECT_FALSE(out.tooComplex);
    EXPECT_EQ(Rows(out.rows), "Disc|aab|[ ]:\\aab\n");
}
