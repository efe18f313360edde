// Result lists: rows built on demand from node references equal the rows a
// search builds, stay the same after Detach while the tree changes, keep
// their order, sort like the rows themselves and export the same bytes.

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "catalog_export.h"
#include "catalog_search.h"
#include "catalog_tree.h"
#include "result_list.h"
#include "scan_source.h"

using namespace tslcat;

namespace {

std::string Describe(const TResultRow &r)
{
    std::string out = r.discName + "|" + r.nodeName + "|" + r.fullPath + "|";
    for (const std::string &c : r.components)
        out += c + "/";
    out += "|" + std::to_string(r.archiveComponent) + "|" + std::to_string(int(r.kind)) + "|" + std::to_string(r.size) +
        "|" + std::to_string(r.modifiedTime);
    return out;
}

std::vector<std::string> Texts(const TResultList &list)
{
    std::vector<std::string> out;
    for (size_t i = 0; i < list.Size(); ++i)
        out.push_back(Describe(*list.Row(i)));
    return out;
}

// Discs with random folders, sizes and times, a few opened archives (one
// inside another), an empty disc, a name with a backslash and a folder
// chain deeper than the row builders' fixed stacks.
void BuildTree(TCatalogTree &tree, std::mt19937 &rng)
{
    TCatalogNodes &items = tree.Items();
    std::uniform_int_distribution<int> pick(0, 99);
    for (int d = 0; d < 3; ++d) {
        TCatalogNode *disc = items.AddChild(nullptr, "Disc " + std::to_string(d));
        std::vector<TCatalogNode *> folders{disc};
        for (int i = 0; i < 400; ++i) {
            TCatalogNode *parent = folders[std::uniform_int_distribution<size_t>(0, folders.size() - 1)(rng)];
            TCatalogNode *node = items.AddChild(parent, "n" + std::to_string(pick(rng)) + (i % 7 ? ".txt" : ""));
            node->SetFileInfo(TNodeKind::File, pick(rng) < 10 ? kUnknownSize : uint64_t(pick(rng)),
                              pick(rng) < 10 ? kUnknownTime : 1600000000 + pick(rng));
            if (pick(rng) < 20)
                folders.push_back(node);
            if (pick(rng) < 3)
                node->SetData(kArchiveNodeData);
        }
    }
    items.AddChild(items.TopLevel(0), "back\\slash");
    TCatalogNode *deep = items.AddChild(items.TopLevel(1), "deep");
    for (int i = 0; i < 80; ++i)
        deep = items.AddChild(deep, "level" + std::to_string(i));
    items.AddChild(nullptr, "Empty CD");
    items.UpdateTotals();
}

std::vector<const TCatalogNode *> AllNodes(const TCatalogTree &tree)
{
    std::vector<const TCatalogNode *> nodes;
    for (int i = 0; i < tree.Items().Count(); ++i)
        nodes.push_back(tree.Items().Item(i));
    return nodes;
}

} // namespace

TEST(ResultList, RowsEqualTheSearchRowsBeforeAndAfterDetach)
{
    std::mt19937 rng(16);
    TCatalogTree tree;
    BuildTree(tree, rng);
    // Every node, and a shuffled half of them: order is the caller's.
    std::vector<const TCatalogNode *> every = AllNodes(tree);
    std::vector<const TCatalogNode *> shuffled = every;
    std::shuffle(shuffled.begin(), shuffled.end(), rng);
    shuffled.resize(shuffled.size() / 2);
    for (const auto *nodes : {&every, &shuffled}) {
        std::vector<std::string> expected;
        for (const TCatalogNode *n : *nodes)
            expected.push_back(Describe(MakeResultRow(*n)));
        TResultList list(*nodes);
        EXPECT_TRUE(list.RefersToNodes());
        EXPECT_EQ(Texts(list), expected);
        list.Detach();
        EXPECT_FALSE(list.RefersToNodes());
        EXPECT_EQ(Texts(list), expected);
    }
    // The rows cover discs, archive members and deep paths.
    const TResultList all(every);
    int discs = 0, members = 0, deep = 0;
    for (size_t i = 0; i < all.Size(); ++i) {
        discs += all.Row(i)->IsDiscRow();
        members += all.Row(i)->IsArchiveMember();
        deep += all.Row(i)->components.size() > 64;
    }
    EXPECT_EQ(discs, 4);
    EXPECT_GT(members, 0);
    EXPECT_GT(deep, 0);
}

TEST(ResultList, DetachedRowsOutliveRemovalRenameAndClear)
{
    std::mt19937 rng(7);
    TCatalogTree tree;
    BuildTree(tree, rng);
    TSearchRequest request{"1", false, TSearchKind::FilesAndFolders, ""};
    TSearchOutcome outcome = RunSearch(tree, request, nullptr, nullptr, nullptr, false);
    ASSERT_GT(outcome.nodes.size(), 10u);
    EXPECT_TRUE(outcome.rows.empty()); // no rows built for a light search
    std::vector<std::string> expected;
    for (const TCatalogNode *n : outcome.nodes)
        expected.push_back(Describe(MakeResultRow(*n)));

    TResultList list(std::move(outcome.nodes));
    const auto held = list.Row(3); // a row taken before: kept by its holder
    const std::string heldText = Describe(*held);
    list.Detach();
    list.Detach(); // a second time changes nothing

    // Rename the disc and a hit's folder, remove a disc, then clear all:
    // each change also repacks or frees the names the hits referred to.
    TCatalogNodes &items = tree.Items();
    items.TopLevel(0)->SetText("renamed disc");
    items.TopLevel(0)->Child(0)->SetText("renamed folder");
    EXPECT_EQ(Texts(list), expected);
    items.Delete(items.TopLevel(1));
    EXPECT_EQ(Texts(list), expected);
    items.Clear();
    EXPECT_EQ(Texts(list), expected);
    EXPECT_EQ(Describe(*held), heldText);
    EXPECT_EQ(list.Row(list.Size()), nullptr);
}

TEST(ResultList, CopiedRowsComeBackAsTheyWere)
{
    std::mt19937 rng(3);
    TCatalogTree tree;
    BuildTree(tree, rng);
    std::vector<TResultRow> rows;
    for (const TCatalogNode *n : AllNodes(tree))
        rows.push_back(MakeResultRow(*n));
    const TResultList list(rows);
    EXPECT_FALSE(list.RefersToNodes());
    ASSERT_EQ(list.Size(), rows.size());
    for (size_t i = 0; i < rows.size(); ++i)
        EXPECT_EQ(Describe(*list.Row(i)), Describe(rows[i])) << i;
    EXPECT_TRUE(TResultList().Empty());
}

TEST(ResultList, SortsLikeTheRowsInBothForms)
{
    std::mt19937 rng(11);
    TCatalogTree tree;
    BuildTree(tree, rng);
    const std::vector<const TCatalogNode *> nodes = AllNodes(tree);
    const struct {
        TResultField field;
        bool (*less)(const TResultRow &, const TResultRow &);
    } fields[] = {
        {TResultField::Disc, [](const TResultRow &a, const TResultRow &b) { return a.discName < b.discName; }},
        {TResultField::Name, [](const TResultRow &a, const TResultRow &b) { return a.nodeName < b.nodeName; }},
        {TResultField::Path, [](const TResultRow &a, const TResultRow &b) { return a.fullPath < b.fullPath; }},
        {TResultField::Size, [](const TResultRow &a, const TResultRow &b) { return a.size + 1 < b.size + 1; }},
        {TResultField::Modified,
         [](const TResultRow &a, const TResultRow &b) { return a.modifiedTime < b.modifiedTime; }},
    };
    for (const auto &f : fields) {
        for (bool ascending : {true, false}) {
            std::vector<TResultRow> rows;
            for (const TCatalogNode *n : nodes)
                rows.push_back(MakeResultRow(*n));
            std::vector<size_t> order(rows.size());
            for (size_t i = 0; i < order.size(); ++i)
                order[i] = i;
            std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
                return ascending ? f.less(rows[a], rows[b]) : f.less(rows[b], rows[a]);
            });
            std::vector<std::string> expected;
            for (size_t i : order)
                expected.push_back(Describe(rows[i]));

            for (bool detached : {false, true}) {
                TResultList list(nodes);
                if (detached)
                    list.Detach();
                const std::vector<size_t> moved = list.Sort(f.field, ascending);
                const std::string what =
                    std::to_string(int(f.field)) + (ascending ? " up" : " down") + (detached ? " detached" : " light");
                EXPECT_EQ(Texts(list), expected) << what;
                for (size_t old = 0; old < moved.size(); ++old)
                    ASSERT_EQ(Describe(*list.Row(moved[old])), Describe(rows[old])) << what;
            }
        }
    }
}

TEST(ResultList, ExportsTheSameBytesAsBuiltRows)
{
    std::mt19937 rng(5);
    TCatalogTree tree;
    BuildTree(tree, rng);
    const std::vector<const TCatalogNode *> nodes = AllNodes(tree);
    std::vector<TResultRow> rows;
    for (const TCatalogNode *n : nodes)
        rows.push_back(MakeResultRow(*n));
    TResultList list(nodes);
    for (TExportFormat format : {TExportFormat::Tsv, TExportFormat::Csv, TExportFormat::Json})
        for (bool longFields : {false, true})
            EXPECT_EQ(ExportRows(list, format, longFields), ExportRows(rows, format, longFields));
    list.Detach();
    tree.Items().Clear();
    EXPECT_EQ(ExportRows(list, TExportFormat::Csv), ExportRows(rows, TExportFormat::Csv));
}
