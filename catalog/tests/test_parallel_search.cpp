// The parallel walk against the single walk of one node after another: the
// same hits in the same order on random catalogs, for every kind, mode,
// case flag, thread count and filter; names that do not lie side by side
// (renamed, empty); cancellation; and the match-mode names.

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <atomic>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "catalog_search.h"
#include "catalog_store.h"
#include "catalog_stream.h"
#include "catalog_tree.h"
#include "quarn32.h"
#include "test_support.h"

using namespace tslcat;

namespace {

struct Quiet {
    QuarnMessageSink previous = QuarnSetMessageSink([](const char *, const char *) {});
    ~Quiet() { QuarnSetMessageSink(previous); }
};

std::string RandomName(std::mt19937 &rng)
{
    static const char *const stems[] = {"readme", "README", "setup", "data", "rdme", "reedme",           "Robert",
                                        "Rupert", "x",      "a1",    "zz9",  "",     "\xc3\xa9t\xc3\xa9"};
    static const char *const exts[] = {"", ".txt", ".zip", ".ZIP", ".c", ".tar.gz"};
    std::uniform_int_distribution<size_t> s(0, std::size(stems) - 1), e(0, std::size(exts) - 1), d(0, 99);
    std::string name = stems[s(rng)];
    if (d(rng) < 30)
        name += std::to_string(d(rng));
    if (d(rng) < 3)
        name.insert(name.size() / 2, 1, '\0'); // read as a C string: cut there
    return name + exts[e(rng)];
}

void RenameSome(TCatalogTree &tree, std::mt19937 &rng, int percent);

// Discs of random depth and breadth.  Some names are renamed afterwards, so
// their new bytes lie elsewhere in the name store.
void BuildRandom(TCatalogTree &tree, std::mt19937 &rng, int discs, int nodesPerDisc)
{
    TCatalogNodes &items = tree.Items();
    std::uniform_int_distribution<int> pick(0, 99);
    for (int d = 0; d < discs; ++d) {
        TCatalogNode *disc = items.AddChild(nullptr, pick(rng) < 10 ? "" : "Disc " + RandomName(rng));
        std::vector<TCatalogNode *> folders{disc};
        for (int i = 0; i < nodesPerDisc; ++i) {
            TCatalogNode *parent = folders[std::uniform_int_distribution<size_t>(0, folders.size() - 1)(rng)];
            TCatalogNode *node = items.AddChild(parent, RandomName(rng));
            if (pick(rng) < 20)
                folders.push_back(node);
        }
    }
    RenameSome(tree, rng, 5);
}

// Renames `percent` of the nodes: a longer name moves to the end of the
// name store, a shorter one stays in place shortened; either way the run of
// names it lay in breaks there.  Some files get sizes, for the value filter.
void RenameSome(TCatalogTree &tree, std::mt19937 &rng, int percent)
{
    TCatalogNodes &items = tree.Items();
    std::uniform_int_distribution<int> pick(0, 99);
    for (int i = 0; i < items.Count(); ++i) {
        TCatalogNode *node = items.Item(i);
        if (pick(rng) < percent)
            node->SetText(pick(rng) < 3 ? std::string(300, 'r') : RandomName(rng));
        if (!node->HasChildren() && pick(rng) < 50)
            node->SetFileInfo(TNodeKind::File, static_cast<uint64_t>(pick(rng)) * 1000, 1000000000);
    }
}

// One name after another with the library's per-name calls, under the
// search's step limit; ends at the first candidate the matcher gives up on.
std::vector<const TCatalogNode *> SingleWalk(const TCatalogTree &tree, const TSearchRequest &r,
                                             bool *tooComplex = nullptr)
{
    const int32_t previousLimit = QuarnSetStepLimit(kSearchStepLimit);
    TNameMatcher matcher(r.match, r.expression, r.caseSensitive, r.alternateExpression);
    std::vector<const TCatalogNode *> hits;
    if (tooComplex)
        *tooComplex = false;
    const TCatalogNodes &items = tree.Items();
    for (int i = 0; i < items.Count(); ++i) {
        const TCatalogNode &n = *items.Item(i);
        if (!IsSearchCandidate(n, r.kind))
            continue;
        if (r.kind == TSearchKind::Files && !r.fileTypeFilter.empty() && ExtensionOf(n.Text()) != r.fileTypeFilter &&
            ExtensionOf(n.Text()) != r.alternateFileTypeFilter)
            continue;
        if (r.valueFilter.Active() && !r.valueFilter.Passes(n))
            continue;
        const int answer = matcher.Match(n.TextCString());
        if (answer < 0) {
            if (tooComplex)
                *tooComplex = true;
            break;
        }
        if (answer == 1)
            hits.push_back(&n);
    }
    QuarnSetStepLimit(previousLimit);
    return hits;
}

TEST(ParallelSearch, SameHitsInTreeOrderAsTheSingleWalk)
{
    Quiet quiet;
    std::mt19937 rng(16);
    const struct {
        const char *mode;
        const char *expression;
    } cases[] = {{"regex", "readme"}, {"regex", "\\.zip$"},  {"regex", "^[a-c].*[0-9]$"}, {"regex", "."},
                 {"regex", "^$"},     {"regex", "\xc3\xa9"}, {"approx", "readme"},        {"approx:2", "readme"},
                 {"approx:0", "zip"}, {"soundex", "Robert"}, {"soundex", "data"},         {"soundex", "123"}};
    for (int round = 0; round < 3; ++round) {
        TCatalogTree tree;
        BuildRandom(tree, rng, 2 + round, 300 + 700 * round);
        // The same catalog as a load leaves it: every name side by side;
        // and loaded, then with names renamed, so long runs break inside.
        TCatalogTree loaded, edited;
        tslcat_test::LoadFromBytes(loaded, tslcat_test::SaveToBytes(tree));
        tslcat_test::LoadFromBytes(edited, tslcat_test::SaveToBytes(tree));
        RenameSome(edited, rng, 2);
        for (const TCatalogTree *t : {&tree, &loaded, &edited}) {
            for (const auto &c : cases) {
                for (int kind = 0; kind < 4; ++kind) {
                    for (bool cs : {false, true}) {
                        TSearchRequest r;
                        ASSERT_TRUE(ParseMatchSpec(c.mode, r.match));
                        r.expression = c.expression;
                        r.caseSensitive = cs;
                        r.kind = static_cast<TSearchKind>(kind);
                        r.fileTypeFilter = kind == 0 && round % 2 ? ".zip" : "";
                        r.alternateFileTypeFilter = r.fileTypeFilter.empty() ? "" : ".ZIP";
                        if (round == 2 && kind < 2)
                            r.valueFilter.largerThan = 40000;
                        bool tooComplex = false;
                        const auto expected = SingleWalk(*t, r, &tooComplex);
                        for (int threads : {1, 3, 7}) {
                            const TFoundNodes got = FindNodes(*t, r, nullptr, nullptr, threads);
                            ASSERT_EQ(got.compileResult, 0);
                            EXPECT_FALSE(got.cancelled);
                            EXPECT_EQ(got.tooComplex, tooComplex);
                            EXPECT_EQ(got.nodes, expected) << c.mode << " " << c.expression << " kind " << kind
                                                           << " case " << cs << " threads " << threads;
                        }
                    }
                }
            }
        }
    }
}

TEST(ParallelSearch, RunSearchRowsMatchTheClassicRoutine)
{
    Quiet quiet;
    std::mt19937 rng(1998);
    TCatalogTree tree;
    BuildRandom(tree, rng, 3, 3000);
    for (const char *expression : {"read", "zip$", "^[A-Z]", "\xc3\xa9"}) {
        for (int kind = 0; kind < 4; ++kind) {
            TSearchRequest r;
            r.expression = expression;
            r.alternateExpression = std::string(expression) == "\xc3\xa9" ? "\xe9" : "";
            r.kind = static_cast<TSearchKind>(kind);
            TSearchContext classic(tree, r.expression, r.caseSensitive, r.alternateExpression);
            RunSearchRoutine(classic, r.kind);
            const TSearchOutcome out = RunSearch(tree, r);
            ASSERT_EQ(out.rows.size(), classic.rows.size()) << expression << " kind " << kind;
            for (size_t i = 0; i < out.rows.size(); ++i)
                EXPECT_EQ(out.rows[i].fullPath + "|" + out.rows[i].discName,
                          classic.rows[i].fullPath + "|" + classic.rows[i].discName);
            EXPECT_EQ(out.nodes.size(), out.rows.size());
            EXPECT_EQ(out.noMatches, classic.noMatches);
        }
    }
}

TEST(ParallelSearch, FaultyExpressionsAndTooComplexNames)
{
    Quiet quiet;
    TCatalogTree tree;
    TCatalogNode *d = tree.Items().AddChild(nullptr, "D");
    tree.Items().AddChild(d, "aab");
    tree.Items().AddChild(d, std::string(255, 'a'));
    tree.Items().AddChild(d, "aab");
    TSearchRequest r;
    r.expression = "\\(";
    EXPECT_NE(FindNodes(tree, r).compileResult, 0);
    r.match = TMatchSpec{TMatchMode::Approx, 1};
    r.expression = std::string(300, 'x');
    EXPECT_EQ(FindNodes(tree, r).compileResult, 0); // cut to the box's 50 bytes
    // A back reference that backtracks past the step limit on the long name:
    // the walk ends there with the hits before it.
    r.match = TMatchSpec{};
    r.expression = "\\(a\\)a*a*a*a*a*\\1b";
    const TFoundNodes got = FindNodes(tree, r, nullptr, nullptr, 2);
    EXPECT_TRUE(got.tooComplex);
    ASSERT_EQ(got.nodes.size(), 1u);
    EXPECT_EQ(got.nodes[0]->Text(), "aab");
    // Discs are not candidates of a folder search: the same name as a disc
    // is never asked.
    r.kind = TSearchKind::Discs;
    EXPECT_FALSE(FindNodes(tree, r).tooComplex);
}

TEST(ParallelSearch, GivingUpInsideABlockEndsTheWalkThere)
{
    // Thousands of names side by side; a folder and, later, a file whose
    // long name makes the matcher give up.  A file search skips the folder
    // (never asked) and ends at the file, whichever stretch it falls in.
    Quiet quiet;
    TCatalogTree built;
    TCatalogNodes &b = built.Items();
    TCatalogNode *disc = b.AddChild(nullptr, "D");
    for (int i = 0; i < 9000; ++i) {
        if (i == 1500) {
            TCatalogNode *folder = b.AddChild(disc, std::string(255, 'a'));
            b.AddChild(folder, "aab in folder");
        }
        b.AddChild(disc, i == 6000 ? std::string(255, 'a') : i % 3 ? "aab" : "x" + std::to_string(i));
    }
    TCatalogTree tree;
    tslcat_test::LoadFromBytes(tree, tslcat_test::SaveToBytes(built));
    TSearchRequest r;
    r.expression = "\\(a\\)a*a*a*a*a*\\1b";
    for (TSearchKind kind : {TSearchKind::Files, TSearchKind::Folders, TSearchKind::FilesAndFolders}) {
        r.kind = kind;
        bool tooComplex = false;
        const auto expected = SingleWalk(tree, r, &tooComplex);
        EXPECT_TRUE(tooComplex);
        for (int threads : {1, 2, 3, 5}) {
            const TFoundNodes got = FindNodes(tree, r, nullptr, nullptr, threads);
            EXPECT_TRUE(got.tooComplex) << threads;
            EXPECT_EQ(got.nodes, expected) << "kind " << static_cast<int>(kind) << " threads " << threads;
        }
    }
    r.kind = TSearchKind::Files;
    // The "aab" files before the long name, and the one in the folder.
    EXPECT_EQ(SingleWalk(tree, r).size(), 6000u - 6000u / 3 + 1);
}

// A loaded catalog of one disc and `files` files "name<i>".
void BuildFlat(TCatalogTree &tree, int files)
{
    TCatalogTree built;
    TCatalogNode *d = built.Items().AddChild(nullptr, "D");
    for (int i = 0; i < files; ++i)
        built.Items().AddChild(d, "name" + std::to_string(i));
    tslcat_test::LoadFromBytes(tree, tslcat_test::SaveToBytes(built));
}

TEST(ParallelSearch, CancelBeforeTheStartJudgesNothing)
{
    Quiet quiet;
    TCatalogTree tree;
    BuildFlat(tree, 3 * kNamesBetweenCancelChecks);
    TSearchRequest r;
    r.expression = ".";
    TSearchControl control;
    control.cancel = true;
    int chunks = 0;
    control.chunkDone = [&](int, int) { ++chunks; };
    const TFoundNodes none = FindNodes(tree, r, &control, nullptr, 4);
    EXPECT_TRUE(none.cancelled);
    EXPECT_TRUE(none.nodes.empty());
    EXPECT_EQ(control.scanned.load(), 0);
    EXPECT_EQ(chunks, 0);
}

TEST(ParallelSearch, OneWorkerStopsRightAfterTheChunkThatCancels)
{
    Quiet quiet;
    TCatalogTree tree;
    BuildFlat(tree, 4 * kNamesBetweenCancelChecks);
    const TCatalogNodes &items = tree.Items();
    TSearchRequest r;
    r.expression = ".";
    TSearchControl control;
    std::vector<int> chunks;
    control.chunkDone = [&](int worker, int names) {
        EXPECT_EQ(worker, 0);
        chunks.push_back(names);
        if (chunks.size() == 2)
            control.cancel = true;
    };
    const TFoundNodes got = FindNodes(tree, r, &control, nullptr, 1);
    EXPECT_TRUE(got.cancelled);
    EXPECT_EQ(chunks, std::vector<int>(2, kNamesBetweenCancelChecks));
    EXPECT_EQ(control.scanned.load(), 2 * kNamesBetweenCancelChecks);
    // Every name of the two chunks but the disc's, in order.
    ASSERT_EQ(got.nodes.size(), static_cast<size_t>(2 * kNamesBetweenCancelChecks - 1));
    EXPECT_EQ(control.found.load(), static_cast<int64_t>(got.nodes.size()));
    for (size_t i = 0; i < got.nodes.size(); ++i)
        ASSERT_EQ(got.nodes[i], items.Item(static_cast<int>(i + 1)));
}

TEST(ParallelSearch, EveryWorkerStopsWithinOneChunkOfTheCancel)
{
    // The first chunk reported cancels.  Each worker looks at the flag
    // before taking a chunk: it may finish the chunk it is in (seeing the
    // flag set when it reports it), never start another.
    Quiet quiet;
    TCatalogTree tree;
    BuildFlat(tree, 8 * kNamesBetweenCancelChecks + 100);
    const TCatalogNodes &items = tree.Items();
    TSearchRequest r;
    r.expression = "name";
    for (int threads : {2, 4}) {
        TSearchControl control;
        std::mutex lock;
        std::vector<int> chunks(static_cast<size_t>(threads)), afterCancel(static_cast<size_t>(threads));
        control.chunkDone = [&](int worker, int) {
            std::lock_guard<std::mutex> hold(lock);
            const bool cancelled = control.cancel.load();
            ++chunks[static_cast<size_t>(worker)];
            if (cancelled)
                ++afterCancel[static_cast<size_t>(worker)];
            if (!cancelled)
                control.cancel = true;
        };
        const TFoundNodes got = FindNodes(tree, r, &control, nullptr, threads);
        EXPECT_TRUE(got.cancelled) << threads;
        int judged = 0;
        for (int w = 0; w < threads; ++w) {
            EXPECT_LE(afterCancel[static_cast<size_t>(w)], 1) << "worker " << w << " of " << threads;
            judged += chunks[static_cast<size_t>(w)];
        }
        // The one that cancelled, and at most one more per other worker,
        // of the nine chunks.
        EXPECT_LE(judged, threads) << threads;
        // Chunks are taken in order, and a chunk taken is finished: the
        // first one's hits come first, complete.
        ASSERT_GE(got.nodes.size(), static_cast<size_t>(kNamesBetweenCancelChecks - 1));
        for (int i = 0; i < kNamesBetweenCancelChecks - 1; ++i)
            ASSERT_EQ(got.nodes[static_cast<size_t>(i)], items.Item(i + 1));
        EXPECT_LT(got.nodes.size(), static_cast<size_t>(items.Count() - 1));
    }

    // Through the search driver: the outcome says so.
    TSearchControl control;
    control.chunkDone = [&](int, int) { control.cancel = true; };
    const TSearchOutcome out = RunSearch(tree, r, nullptr, nullptr, &control, false);
    EXPECT_TRUE(out.cancelled);
    EXPECT_LT(out.nodes.size(), static_cast<size_t>(items.Count() - 1));
}

TEST(ParallelSearch, MatchModeNames)
{
    const struct {
        const char *text;
        bool ok;
        TMatchMode mode;
        int errors;
    } cases[] = {{"regex", true, TMatchMode::Regex, 1},      {"approx", true, TMatchMode::Approx, 1},
                 {"approx:3", true, TMatchMode::Approx, 3},  {"approx:0", true, TMatchMode::Approx, 0},
                 {"soundex", true, TMatchMode::Soundex, 1},  {"approx:", false, TMatchMode::Regex, 1},
                 {"approx:12", false, TMatchMode::Regex, 1}, {"Regex", false, TMatchMode::Regex, 1},
                 {"", false, TMatchMode::Regex, 1},          {"approx:x", false, TMatchMode::Regex, 1}};
    for (const auto &c : cases) {
        TMatchSpec spec;
        EXPECT_EQ(ParseMatchSpec(c.text, spec), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(spec.mode, c.mode) << c.text;
            EXPECT_EQ(spec.errors, c.errors) << c.text;
            TMatchSpec again;
            EXPECT_TRUE(ParseMatchSpec(MatchSpecName(spec), again));
            EXPECT_TRUE(again == spec);
        }
    }
}

} // namespace

// The in-place reader of a large catalog file runs three threads at once:
// the walk, the reader filling the ring of chunks ahead of it and the judge
// of the names it gathers.  Their rows must be the tree search's, in order.
TEST(ParallelSearch, InPlaceReaderWithReadAheadGivesTheTreeRows)
{
    Quiet quiet;
    std::mt19937 rng(31);
    TCatalogTree built;
    BuildRandom(built, rng, 3, 20000);
    const std::string bytes = tslcat_test::SaveToBytes(built);
    TCatalogTree tree; // as saved: names cut to what a record holds
    tslcat_test::LoadFromBytes(tree, bytes);
    ASSERT_GT(bytes.size(), size_t{5} << 20); // past the size that gets threads
    QTemporaryDir dir;
    ASSERT_TRUE(tslcat_test::WriteFile(dir.filePath("mdb.dat"), bytes));
    TMappedCatalog mapped(dir.filePath("mdb.dat"));
    ASSERT_TRUE(mapped.Usable());
    auto text = [](const std::vector<TResultRow> &rows) {
        std::string out;
        for (const TResultRow &r : rows)
            out += r.discName + "|" + r.fullPath + "|" + r.nodeName + "\n";
        return out;
    };
    for (const char *expression : {"readme", "^[a-r].*[0-9]$", "."}) {
        SCOPED_TRACE(expression);
        TSearchRequest r;
        r.expression = expression;
        r.kind = TSearchKind::FilesAndFolders;
        const std::string want = text(RunSearch(tree, r).rows);
        EXPECT_NE(want, "");
        for (int round = 0; round < 3; ++round)
            EXPECT_EQ(text(StreamSearch(mapped.Source(), r, false).rows), want);
    }
}
