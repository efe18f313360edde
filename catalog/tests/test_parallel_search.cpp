// The parallel walk against the single walk of one node after another: the
// same hits in the same order on random catalogs, for every kind, mode,
// case flag, thread count and filter; names that do not lie side by side
// (renamed, empty); cancellation; and the match-mode names.

#include <gtest/gtest.h>

#include <atomic>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "catalog_search.h"
#include "catalog_store.h"
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
    for (int i = 0; i < items.Count(); ++i)
        if (pick(rng) < 5)
            items.Item(i)->SetText(RandomName(rng));
}

// One name after another with the library's per-name calls.
std::vector<const TCatalogNode *> SingleWalk(const TCatalogTree &tree, const TSearchRequest &r)
{
    TNameMatcher matcher(r.match, r.expression, r.caseSensitive, r.alternateExpression);
    std::vector<const TCatalogNode *> hits;
    const TCatalogNodes &items = tree.Items();
    for (int i = 0; i < items.Count(); ++i) {
        const TCatalogNode &n = *items.Item(i);
        if (!IsSearchCandidate(n, r.kind))
            continue;
        if (r.kind == TSearchKind::Files && !r.fileTypeFilter.empty() && ExtensionOf(n.Text()) != r.fileTypeFilter)
            continue;
        if (matcher.Match(n.TextCString()) == 1)
            hits.push_back(&n);
    }
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
        // The same catalog as a load leaves it: every name side by side.
        TCatalogTree loaded;
        tslcat_test::LoadFromBytes(loaded, tslcat_test::SaveToBytes(tree));
        for (const TCatalogTree *t : {&tree, &loaded}) {
            for (const auto &c : cases) {
                for (int kind = 0; kind < 4; ++kind) {
                    for (bool cs : {false, true}) {
                        TSearchRequest r;
                        ASSERT_TRUE(ParseMatchSpec(c.mode, r.match));
                        r.expression = c.expression;
                        r.caseSensitive = cs;
                        r.kind = static_cast<TSearchKind>(kind);
                        r.fileTypeFilter = kind == 0 && round % 2 ? ".zip" : "";
                        const auto expected = SingleWalk(*t, r);
                        for (int threads : {1, 3, 7}) {
                            const TFoundNodes got = FindNodes(*t, r, nullptr, nullptr, threads);
                            ASSERT_EQ(got.compileResult, 0);
                            EXPECT_FALSE(got.cancelled);
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

TEST(ParallelSearch, CancelStopsEveryWorker)
{
    Quiet quiet;
    TCatalogTree tree;
    TCatalogNode *d = tree.Items().AddChild(nullptr, "D");
    for (int i = 0; i < 200000; ++i)
        tree.Items().AddChild(d, "name" + std::to_string(i));
    TSearchRequest r;
    r.expression = ".";
    // Cancelled before the start: no worker reads more than one stretch of
    // names between two looks at the flag.
    TSearchControl control;
    control.cancel = true;
    const TFoundNodes none = FindNodes(tree, r, &control, nullptr, 4);
    EXPECT_TRUE(none.cancelled);
    EXPECT_TRUE(none.nodes.empty());
    EXPECT_EQ(control.scanned.load(), 0);

    // Cancelled from the progress hook while the workers run: they stop
    // within one stretch each after the flag.
    struct Canceller : ICatalogProgress {
        TSearchControl *control;
        int64_t scannedAtCancel = -1;
        void ProcessEvents() override
        {
            if (scannedAtCancel < 0 && control->scanned.load() > 0) {
                scannedAtCancel = control->scanned.load();
                control->cancel = true;
            }
        }
    };
    TSearchControl running;
    Canceller canceller;
    canceller.control = &running;
    const TFoundNodes part = FindNodes(tree, r, &running, &canceller, 2);
    if (canceller.scannedAtCancel >= 0 &&
        canceller.scannedAtCancel < tree.Items().Count() - 2 * kNamesBetweenCancelChecks) {
        EXPECT_TRUE(part.cancelled);
        EXPECT_LE(running.scanned.load(), canceller.scannedAtCancel + 2 * kNamesBetweenCancelChecks);
        EXPECT_LT(part.nodes.size(), static_cast<size_t>(tree.Items().Count()));
    }
    EXPECT_LE(kNamesBetweenCancelChecks, 65536);
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
