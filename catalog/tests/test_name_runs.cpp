// Runs of adjacent names: how names join and break runs, finding a name by
// its byte offset across the marks, counting zero bytes, and the tree's
// runs staying true to its names through loads, renames and deletions.

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "catalog_name_runs.h"
#include "catalog_tree.h"
#include "test_support.h"

using namespace tslcat;

namespace {

TEST(NameRuns, CountZeroBytesAgreesWithAByteLoop)
{
    std::mt19937 rng(7);
    std::string bytes(300, 'x');
    for (char &c : bytes) {
        const unsigned r = rng() % 6;
        // Zero bytes among bytes with the top bit set and small values,
        // which a faulty word trick would count as zeros too.
        c = r == 0 ? '\0' : r == 1 ? '\x80' : r == 2 ? '\x01' : r == 3 ? '\xff' : r == 4 ? '\x7f' : 'a';
    }
    // Every remainder after whole words, short ranges and long ones, at
    // every alignment.
    std::vector<size_t> lengths = {64, 291};
    for (size_t n = 0; n <= 24; ++n)
        lengths.push_back(n);
    for (size_t start = 0; start < 9; ++start) {
        for (size_t length : lengths) {
            size_t expected = 0;
            for (size_t i = start; i < start + length; ++i)
                expected += bytes[i] == '\0';
            EXPECT_EQ(CountZeroBytes(bytes.data() + start, length), expected) << start << "+" << length;
        }
    }
    EXPECT_EQ(CountZeroBytes(std::string(16, '\0').data(), 16), 16u);
}

// Names stored side by side in one buffer, each with its zero byte.
struct Block {
    std::string bytes;
    std::vector<size_t> offsets;
    explicit Block(const std::vector<std::string> &names)
    {
        for (const std::string &n : names) {
            offsets.push_back(bytes.size());
            bytes += n;
            bytes += '\0';
        }
    }
    std::string_view Name(size_t i, const std::vector<std::string> &names) const
    {
        return {bytes.data() + offsets[i], names[i].size()};
    }
};

TEST(NameRuns, AdjacentNamesJoinAndOthersStandAlone)
{
    const std::vector<std::string> names = {"a", "bc", "def", "g"};
    const Block block(names);
    const std::string apart = "apart";
    const std::string withZero("x\0y", 3);
    TNameRuns runs;
    runs.Append(block.Name(0, names));
    runs.Append(block.Name(1, names));
    runs.Append("");                   // empty: alone
    runs.Append(block.Name(2, names)); // adjacent in memory, but after an entry alone: a new run
    runs.Append(block.Name(3, names));
    runs.Append(apart);    // elsewhere: a new run
    runs.Append(withZero); // a zero byte inside: alone
    ASSERT_EQ(runs.NameCount(), 7u);
    const struct {
        uint32_t first, count;
        bool block;
        uint32_t length;
    } expected[] = {{0, 2, true, 5}, {2, 1, false, 0}, {3, 2, true, 6}, {5, 1, true, 6}, {6, 1, false, 0}};
    ASSERT_EQ(runs.Runs().size(), std::size(expected));
    for (size_t i = 0; i < std::size(expected); ++i) {
        const TNameRun &r = runs.Runs()[i];
        EXPECT_EQ(r.first, expected[i].first) << i;
        EXPECT_EQ(r.count, expected[i].count) << i;
        EXPECT_EQ(r.IsBlock(), expected[i].block) << i;
        EXPECT_EQ(r.length, expected[i].length) << i;
    }
    EXPECT_EQ(runs.Runs()[2].start, block.bytes.data() + block.offsets[2]);
    for (uint32_t name = 0; name < 7; ++name) {
        const size_t r = runs.RunOf(name);
        EXPECT_LE(runs.Runs()[r].first, name);
        EXPECT_LT(name, runs.Runs()[r].first + runs.Runs()[r].count);
    }
}

TEST(NameRuns, OffsetsAndNamesAcrossMarks)
{
    // Runs just below, at and beyond the mark spacing, names of 1 to 40
    // bytes: every name's offset, and every name found from its offset
    // whether the cursor starts at the run's start or walks along.
    std::mt19937 rng(3);
    const uint32_t s = TNameRuns::kMarkSpacing;
    for (uint32_t count : {1u, s - 1, s, s + 1, 3 * s + 5, 500u}) {
        std::vector<std::string> names;
        for (uint32_t i = 0; i < count; ++i)
            names.push_back(std::string(1 + rng() % 40, static_cast<char>('a' + i % 26)));
        const Block block(names);
        TNameRuns runs;
        for (size_t i = 0; i < names.size(); ++i)
            runs.Append(block.Name(i, names));
        ASSERT_EQ(runs.Runs().size(), 1u) << count;
        const TNameRun &run = runs.Runs()[0];
        EXPECT_EQ(run.count, count);
        EXPECT_EQ(run.length, block.bytes.size());
        EXPECT_EQ(runs.Marks().size(), (count + s - 1) / s);
        EXPECT_EQ(runs.OffsetOf(run, count), run.length);
        TNameRuns::Cursor walking;
        for (uint32_t k = 0; k < count; ++k) {
            ASSERT_EQ(runs.OffsetOf(run, k), block.offsets[k]) << count << " name " << k;
            TNameRuns::Cursor fresh;
            EXPECT_EQ(runs.NameAt(run, static_cast<uint32_t>(block.offsets[k]), fresh), k) << count;
            EXPECT_EQ(runs.NameAt(run, static_cast<uint32_t>(block.offsets[k]), walking), k) << count;
        }
        // Skipping ahead, as sparse hits do.
        TNameRuns::Cursor skipping;
        for (uint32_t k = 0; k < count; k += 1 + k % 70)
            EXPECT_EQ(runs.NameAt(run, static_cast<uint32_t>(block.offsets[k]), skipping), k) << count;
    }
}

// Every block run of the tree holds exactly the flat order's names, where
// the nodes keep them; single entries are the empty names and those with
// a zero byte.
void ExpectRunsTrue(const TCatalogTree &tree)
{
    const TCatalogNodes &items = tree.Items();
    const TNameRuns &runs = items.NameRuns();
    ASSERT_EQ(runs.NameCount(), static_cast<uint32_t>(items.Count()));
    uint32_t next = 0;
    for (const TNameRun &run : runs.Runs()) {
        ASSERT_EQ(run.first, next);
        next += run.count;
        if (!run.IsBlock()) {
            ASSERT_EQ(run.count, 1u);
            const std::string_view text = items.Item(static_cast<int>(run.first))->Text();
            EXPECT_TRUE(text.empty() || text.find('\0') != std::string_view::npos);
            continue;
        }
        for (uint32_t k = 0; k < run.count; ++k) {
            const std::string_view text = items.Item(static_cast<int>(run.first + k))->Text();
            ASSERT_EQ(text.data(), run.start + runs.OffsetOf(run, k)) << run.first + k;
        }
    }
    EXPECT_EQ(next, runs.NameCount());
}

TEST(NameRuns, TreeRunsFollowLoadsRenamesAndDeletions)
{
    TCatalogTree built;
    TCatalogNodes &b = built.Items();
    for (int d = 0; d < 3; ++d) {
        TCatalogNode *disc = b.AddChild(nullptr, "Disc" + std::to_string(d));
        for (int f = 0; f < 40; ++f) {
            TCatalogNode *folder = b.AddChild(disc, "folder" + std::to_string(f));
            for (int i = 0; i < 200; ++i)
                b.AddChild(folder, i == 7 && f % 10 == 0 ? std::string() : "file" + std::to_string(i) + ".txt");
        }
    }
    TCatalogTree tree;
    tslcat_test::LoadFromBytes(tree, tslcat_test::SaveToBytes(built));
    TCatalogNodes &items = tree.Items();
    ExpectRunsTrue(tree);
    // A load stores every name in flat order: the runs break only at the
    // store's chunks and at the empty names.
    const size_t loadedRuns = items.NameRuns().Runs().size();
    EXPECT_LT(loadedRuns, 40u);
    // Kept up during the load, they are what a rebuild makes of them (a
    // rename to the same text drops them).
    items.Item(0)->SetText(std::string(items.Item(0)->Text()));
    EXPECT_EQ(items.NameRuns().Runs().size(), loadedRuns);

    // Appending at the end extends the runs in place.
    TCatalogNode *last = items.Item(items.Count() - 1);
    items.AddChild(last->Parent(), "appended");
    ExpectRunsTrue(tree);

    // A longer name moves elsewhere, a shorter one stays short in place:
    // both break their run.
    items.Item(5)->SetText("a much longer name than the one before");
    items.Item(9)->SetText("f");
    items.Item(12)->SetText(std::string(TNameStore::kChunkSize / 2, 'L')); // a block of its own in the store
    ExpectRunsTrue(tree);
    EXPECT_GT(items.NameRuns().Runs().size(), loadedRuns);

    // A name with a 0 byte inside stands alone.
    items.Item(20)->SetText(std::string("zero\0inside", 11));
    ExpectRunsTrue(tree);
    EXPECT_FALSE(items.NameRuns().Runs()[items.NameRuns().RunOf(20)].IsBlock());

    // Deleting most of the catalog compacts the names, in flat order again.
    while (items.TopLevelCount() > 1)
        items.Delete(items.TopLevel(0));
    ExpectRunsTrue(tree);
    EXPECT_LT(items.NameRuns().Runs().size(), 16u);

    items.Clear();
    EXPECT_EQ(items.NameRuns().NameCount(), 0u);
    EXPECT_TRUE(items.NameRuns().Runs().empty());
}

} // namespace
