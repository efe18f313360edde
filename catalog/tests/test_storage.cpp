// The bulk storage under the tree (slab pool, name store, out-of-line
// attributes) and the tree's promises that rest on it: node pointers and
// names of surviving nodes stay intact through additions, deletions,
// renames and name repacking.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "catalog_storage.h"
#include "catalog_tree.h"
#include "test_support.h"

using namespace tslcat;
using tslcat_test::LoadFromBytes;
using tslcat_test::Outline;
using tslcat_test::SaveToBytes;

namespace {

struct Blob {
    char bytes[40];
};

} // namespace

TEST(SlabPool, SlotsAreDistinctAcrossSlabsAndFreedSlotsAreReusedFirst)
{
    TSlabPool<Blob, 16> pool;
    std::vector<Blob *> taken;
    for (int i = 0; i < 50; ++i) {
        auto *b = static_cast<Blob *>(pool.Allocate());
        std::memset(b->bytes, i, sizeof b->bytes);
        taken.push_back(b);
    }
    EXPECT_EQ(pool.LiveCount(), 50u);
    EXPECT_EQ(pool.SlabCount(), 4u);
    // Every slot still holds what was written into it: no two overlap.
    for (int i = 0; i < 50; ++i)
        for (char c : taken[static_cast<size_t>(i)]->bytes)
            ASSERT_EQ(c, static_cast<char>(i)) << "slot " << i;

    pool.Free(taken[3]);
    pool.Free(taken[20]);
    EXPECT_EQ(pool.LiveCount(), 48u);
    EXPECT_EQ(pool.Allocate(), taken[20]);
    EXPECT_EQ(pool.Allocate(), taken[3]);
    EXPECT_EQ(pool.SlabCount(), 4u); // reuse took no new slab
    EXPECT_EQ(pool.LiveCount(), 50u);

    pool.Reset();
    EXPECT_EQ(pool.SlabCount(), 0u);
    EXPECT_EQ(pool.LiveCount(), 0u);
    EXPECT_NE(pool.Allocate(), nullptr);
}

TEST(NameStore, StoredNamesKeepTheirBytesWhileTheStoreGrows)
{
    TNameStore store;
    EXPECT_EQ(store.Store(""), nullptr);
    std::vector<std::pair<const char *, std::string>> kept;
    for (int i = 0; i < 20000; ++i) {
        std::string name = "name-" + std::to_string(i) + std::string(static_cast<size_t>(i % 37), 'x');
        kept.emplace_back(store.Store(name), name);
    }
    // Longer than a quarter chunk: a chunk of its own; the next short name
    // still fits after the previous short ones.
    const std::string huge(TNameStore::kChunkSize * 2, 'h');
    const char *hugeAt = store.Store(huge);
    const char *afterHuge = store.Store("tail");
    for (auto &[at, name] : kept) {
        ASSERT_EQ(std::string(at, name.size()), name);
        ASSERT_EQ(at[name.size()], '\0') << name;
    }
    EXPECT_EQ(std::string(hugeAt, huge.size()), huge);
    EXPECT_EQ(std::string(afterHuge, 4), "tail");

    // A stored name can feed the next Store.
    const char *copy = store.Store(std::string_view(kept[5].first, kept[5].second.size()));
    EXPECT_EQ(std::string(copy, kept[5].second.size()), kept[5].second);
    EXPECT_NE(copy, kept[5].first);
}

TEST(NameStore, CompactingIsWorthItOnlyWhenWasteDominates)
{
    TNameStore store;
    const std::string name(1000, 'n');
    for (int i = 0; i < 200; ++i)
        store.Store(name);
    EXPECT_EQ(store.LiveBytes(), 200u * TNameStore::HeldBytes(1000)); // each with its zero byte
    store.Release(60000);                                             // waste below a chunk and below the live bytes
    EXPECT_FALSE(store.WorthCompacting());
    store.Release(60000); // 120000 wasted, 80200 live
    EXPECT_TRUE(store.WorthCompacting());
    EXPECT_EQ(store.LiveBytes(), 80200u);
    EXPECT_EQ(store.WastedBytes(), 120000u);
    store.Reset();
    EXPECT_EQ(store.LiveBytes(), 0u);
    EXPECT_EQ(store.ChunkCount(), 0u);
}

// Renames that fit in place, that grow, that take part of the node's own
// name, or another node's name as their source.
TEST(CatalogStorage, RenamesFromEverySourceKeepTheRightBytes)
{
    TCatalogTree tree;
    TCatalogNodes &n = tree.Items();
    TCatalogNode *d = n.AddChild(nullptr, "disc");
    TCatalogNode *a = n.AddChild(d, "alphabet.txt");
    TCatalogNode *b = n.AddChild(d, "b");
    TCatalogNode *c = n.AddChild(d, "");

    a->SetText(a->Text().substr(5)); // "bet.txt", overlapping the old bytes
    EXPECT_EQ(a->Text(), "bet.txt");
    EXPECT_STREQ(a->TextCString(), "bet.txt");
    a->SetText(a->Text().substr(0, 3)); // shrink in place
    EXPECT_EQ(a->Text(), "bet");
    EXPECT_STREQ(a->TextCString(), "bet") << "the zero byte moves with the name";
    b->SetText("a much longer name than before");
    EXPECT_EQ(b->Text(), "a much longer name than before");
    c->SetText(b->Text()); // another node's bytes
    b->SetText("");
    EXPECT_EQ(c->Text(), "a much longer name than before");
    EXPECT_STREQ(c->TextCString(), "a much longer name than before");
    EXPECT_EQ(b->Text(), "");
    EXPECT_STREQ(b->TextCString(), "");
    EXPECT_EQ(d->Text(), "disc");
    // A child named with its parent's stored bytes.
    TCatalogNode *e = n.AddChild(c, c->Text());
    EXPECT_EQ(e->Text(), "a much longer name than before");
    EXPECT_EQ(Outline(tree),
              "disc\n  bet\n  \n  a much longer name than before\n"
              "    a much longer name than before\n");
}

// Deleting a large disc leaves most stored name bytes unused, so the
// survivors' names are repacked: their nodes, texts and order must come
// through unchanged, and the tree must keep working afterwards.
TEST(CatalogStorage, SurvivorsOfALargeDeletionKeepTheirNodesAndNames)
{
    TCatalogTree tree;
    TCatalogNodes &n = tree.Items();
    TCatalogNode *keep1 = n.AddChild(nullptr, "keep-1");
    std::vector<std::pair<TCatalogNode *, std::string>> survivors;
    for (int i = 0; i < 300; ++i) {
        std::string name = "kept file " + std::to_string(i);
        survivors.emplace_back(n.AddChild(keep1, name), name);
    }
    TCatalogNode *big = n.AddChild(nullptr, "big");
    for (int f = 0; f < 40; ++f) {
        TCatalogNode *folder = n.AddChild(big, "folder " + std::to_string(f));
        for (int i = 0; i < 100; ++i)
            n.AddChild(folder, std::string(60, static_cast<char>('a' + f % 26)) + std::to_string(i));
    }
    TCatalogNode *keep2 = n.AddChild(nullptr, "keep-2");
    TCatalogNode *last = n.AddChild(keep2, "last.doc");
    last->SetData(42);
    const std::string before = SaveToBytes(tree);

    n.Delete(big);

    EXPECT_EQ(n.Count(), 1 + 300 + 2);
    for (auto &[node, name] : survivors)
        ASSERT_EQ(node->Text(), name);
    EXPECT_EQ(keep1->Text(), "keep-1");
    EXPECT_EQ(last->Text(), "last.doc");
    EXPECT_EQ(last->Data(), 42u);
    EXPECT_EQ(n.TopLevel(1), keep2);
    EXPECT_EQ(keep2->Index(), 1);

    // The same catalog as one saved without the big disc ever existing.
    TCatalogTree expected;
    TCatalogNode *e1 = expected.Items().AddChild(nullptr, "keep-1");
    for (int i = 0; i < 300; ++i)
        expected.Items().AddChild(e1, "kept file " + std::to_string(i));
    TCatalogNode *e2 = expected.Items().AddChild(nullptr, "keep-2");
    expected.Items().AddChild(e2, "last.doc")->SetData(42);
    EXPECT_EQ(tslcat_test::ToHex(SaveToBytes(tree)), tslcat_test::ToHex(SaveToBytes(expected)));
    EXPECT_NE(before.size(), SaveToBytes(tree).size());

    // Renames and additions keep working on the repacked store.
    survivors[7].first->SetText("renamed");
    TCatalogNode *added = n.AddChild(keep2, "added after");
    EXPECT_EQ(survivors[7].first->Text(), "renamed");
    EXPECT_EQ(survivors[8].first->Text(), "kept file 8");
    EXPECT_EQ(added->Text(), "added after");
    EXPECT_EQ(added->AbsoluteIndex(), n.Count() - 1);
}

TEST(CatalogStorage, DiscAddedAfterALoadJoinsTheLoadedNodes)
{
    TCatalogTree source;
    tslcat_test::BuildBackupExample(source);
    TCatalogTree tree;
    LoadFromBytes(tree, SaveToBytes(source));
    TCatalogNode *docs = tree.Items().Item(1);
    TCatalogNode *disc = tree.Items().AddChild(nullptr, "Second");
    tree.Items().AddChild(disc, "x.zip");
    tree.Items().AddChild(docs, "c.txt");
    EXPECT_EQ(Outline(tree), "Backup\n  Docs\n    a.txt\n    b.doc\n    c.txt\nSecond\n  x.zip\n");
    EXPECT_EQ(docs->Child(2)->Index(), 2);
    EXPECT_EQ(docs->Child(2)->Parent(), docs);
    EXPECT_EQ(tree.Items().Item(6)->Text(), "x.zip");
}

// A deleted node's slot is handed to the next new node; what the deleted
// node kept out of line must not reappear on it.
TEST(CatalogStorage, ANodeInAReusedSlotStartsWithTheUsualAttributes)
{
    TCatalogTree tree;
    TCatalogNodes &n = tree.Items();
    TCatalogNode *d = n.AddChild(nullptr, "d");
    TCatalogNode *odd = n.AddChild(d, "odd");
    odd->SetData(7);
    odd->SetColor(0x123456);
    odd->SetOverlayIndex(3);
    odd->SetIntegralHeight(2);
    odd->SetStateIndex(4);
    odd->SetFont(TNodeFont{-11, "Arial", 1, 2, 0xFF});
    n.Delete(odd);
    TCatalogNode *fresh = n.AddChild(d, "fresh");
    ASSERT_EQ(fresh, odd) << "the pool hands out the slot freed last";
    EXPECT_EQ(fresh->Data(), 0u);
    EXPECT_EQ(fresh->Color(), 0);
    EXPECT_EQ(fresh->OverlayIndex(), -1);
    EXPECT_EQ(fresh->IntegralHeight(), 1);
    EXPECT_EQ(fresh->StateIndex(), 0);
    EXPECT_EQ(fresh->Font(), nullptr);
    EXPECT_TRUE(fresh->ParentFont());
    // Giving the new node one unusual value must not bring back the others.
    fresh->SetData(1);
    EXPECT_EQ(fresh->Data(), 1u);
    EXPECT_EQ(fresh->Color(), 0);
    EXPECT_EQ(fresh->OverlayIndex(), -1);
    EXPECT_EQ(fresh->IntegralHeight(), 1);
    EXPECT_EQ(fresh->StateIndex(), 0);
    EXPECT_EQ(fresh->Font(), nullptr);
}

TEST(CatalogStorage, OutOfLineAttributesComeAndGoWithTheirValues)
{
    TCatalogTree tree;
    TCatalogNode *x = tree.Items().AddChild(nullptr, "x");
    x->SetData(9);
    x->SetFont(TNodeFont{12, "Mono", 2, 1, 5});
    EXPECT_EQ(x->Data(), 9u);
    ASSERT_NE(x->Font(), nullptr);
    EXPECT_EQ(x->Font()->name, "Mono");
    EXPECT_FALSE(x->ParentFont());
    x->SetData(0); // the font keeps the entry alive
    ASSERT_NE(x->Font(), nullptr);
    EXPECT_EQ(x->Font()->height, 12);
    x->SetParentFont();
    EXPECT_EQ(x->Font(), nullptr);
    x->SetColor(77);
    EXPECT_EQ(x->Color(), 77);
    EXPECT_EQ(x->Data(), 0u);
    // Through the file and back, next to an ordinary node.
    tree.Items().AddChild(x, "plain");
    TCatalogTree copy;
    LoadFromBytes(copy, SaveToBytes(tree));
    x->SetParentColor(false);
    TCatalogTree copy2;
    LoadFromBytes(copy2, SaveToBytes(tree));
    EXPECT_EQ(copy.Items().Item(0)->Color(), 0) << "colour is read only without ParentColor";
    EXPECT_EQ(copy2.Items().Item(0)->Color(), 77);
    EXPECT_EQ(copy2.Items().Item(1)->Color(), 0);
    EXPECT_EQ(copy2.Items().Item(1)->Data(), 0u);
}

TEST(CatalogStorage, ClearReleasesEverythingAndTheTreeIsUsableAgain)
{
    TCatalogTree tree;
    TCatalogNodes &n = tree.Items();
    for (int d = 0; d < 3; ++d) {
        TCatalogNode *disc = n.AddChild(nullptr, "disc" + std::to_string(d));
        for (int i = 0; i < 3000; ++i)
            n.AddChild(disc, "file " + std::to_string(i))->SetData(static_cast<uint32_t>(i));
    }
    n.Clear();
    EXPECT_EQ(n.Count(), 0);
    EXPECT_EQ(n.GetFirstNode(), nullptr);
    TCatalogNode *again = n.AddChild(nullptr, "again");
    n.AddChild(again, "child");
    EXPECT_EQ(Outline(tree), "again\n  child\n");
    EXPECT_EQ(n.Item(1)->Data(), 0u);
    // Deleting the last disc empties the tree the same way.
    n.Delete(again);
    EXPECT_EQ(n.Count(), 0);
    EXPECT_EQ(n.AddChild(nullptr, "third")->Index(), 0);
}

namespace {

// A plain model of the tree: the reference the storage is checked against.
struct ModelNode {
    std::string text;
    uint32_t data = 0;
    std::vector<ModelNode> children;
};

void ModelOutline(const std::vector<ModelNode> &level, int depth, std::string &out)
{
    for (const ModelNode &m : level) {
        out += std::string(static_cast<size_t>(depth) * 2, ' ') + m.text + " #" + std::to_string(m.data) + "\n";
        ModelOutline(m.children, depth + 1, out);
    }
}

void TreeOutline(const TCatalogNode *node, int depth, std::string &out)
{
    out += std::string(static_cast<size_t>(depth) * 2, ' ') + std::string(node->Text()) + " #" +
        std::to_string(node->Data()) + "\n";
    for (int i = 0; i < node->Count(); ++i)
        TreeOutline(node->Child(i), depth + 1, out);
}

} // namespace

// Random additions, deletions (enough to trigger name repacking), renames
// and attribute changes, mirrored on the plain model; the two must agree
// in names, attributes, order, rows and parents throughout.
TEST(CatalogStorage, RandomEditsAgreeWithAPlainModel)
{
    TCatalogTree tree;
    TCatalogNodes &n = tree.Items();
    std::vector<ModelNode> model;
    uint32_t seed = 2024;
    auto next = [&](uint32_t range) {
        seed = seed * 1664525u + 1013904223u;
        return (seed >> 8) % range;
    };
    // Path of child indexes from the top level to a node, and back.
    auto modelAt = [&](const std::vector<int> &path) -> ModelNode & {
        ModelNode *m = &model[static_cast<size_t>(path[0])];
        for (size_t i = 1; i < path.size(); ++i)
            m = &m->children[static_cast<size_t>(path[i])];
        return *m;
    };
    auto pathOf = [](const TCatalogNode *node) {
        std::vector<int> path;
        for (; node; node = node->Parent())
            path.insert(path.begin(), node->Index());
        return path;
    };
    auto randomName = [&] {
        // At most 249 bytes: the file keeps 255, and the last check reads it.
        std::string s(next(3) == 0 ? 80 + next(170) : next(24), 'a');
        for (char &c : s)
            c = static_cast<char>('a' + next(26));
        return s;
    };

    for (int step = 0; step < 4000; ++step) {
        const uint32_t op = next(12);
        if (n.Count() == 0 || op == 0) {
            std::string name = randomName();
            n.AddChild(nullptr, name);
            model.push_back({name, 0, {}});
        } else {
            TCatalogNode *node = n.Item(static_cast<int>(next(static_cast<uint32_t>(n.Count()))));
            const std::vector<int> path = pathOf(node);
            if (op <= 6) {
                std::string name = randomName();
                n.AddChild(node, name);
                modelAt(path).children.push_back({name, 0, {}});
            } else if (op <= 8) {
                std::string name = next(2)
                    ? randomName()
                    : std::string(node->Text().substr(std::min<size_t>(next(4), node->Text().size())));
                node->SetText(name);
                modelAt(path).text = name;
            } else if (op == 9) {
                const uint32_t v = next(3);
                node->SetData(v);
                modelAt(path).data = v;
            } else if (n.Count() > 30) {
                n.Delete(node);
                if (path.size() == 1) {
                    model.erase(model.begin() + path[0]);
                } else {
                    std::vector<int> parentPath(path.begin(), path.end() - 1);
                    auto &siblings = modelAt(parentPath).children;
                    siblings.erase(siblings.begin() + path.back());
                }
            }
        }
        if (step % 50 == 49) {
            std::string expected, actual;
            ModelOutline(model, 0, expected);
            for (int i = 0; i < n.TopLevelCount(); ++i)
                TreeOutline(n.TopLevel(i), 0, actual);
            ASSERT_EQ(actual, expected) << "step " << step;
            for (int i = 0; i < n.Count(); ++i) {
                const TCatalogNode *node = n.Item(i);
                ASSERT_EQ(std::string(node->TextCString()), node->Text()) << "step " << step;
                const TCatalogNode *parent = node->Parent();
                ASSERT_EQ(parent ? parent->Child(node->Index()) : n.TopLevel(node->Index()), node);
            }
        }
    }
    // The file written from the edited tree reads back as the same tree.
    TCatalogTree copy;
    LoadFromBytes(copy, SaveToBytes(tree));
    EXPECT_EQ(Outline(copy), Outline(tree));
}
