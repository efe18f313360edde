// The in-memory tree: structure, flat index, deletion, expansion, update
// nesting, selection and what the display is told.

#include <gtest/gtest.h>

#include "catalog_errors.h"
#include "catalog_tree.h"
#include "test_support.h"

using namespace tslcat;
using tslcat_test::Outline;
using tslcat_test::RecordingObserver;

namespace {

// Disc "D1" with ten nodes below it: f1, f2, folder A (a1, a2, folder B (b1, b2)), f3.
TCatalogNode *BuildElevenNodeDisc(TCatalogTree &tree)
{
    TCatalogNodes &n = tree.Items();
    TCatalogNode *d = n.AddChild(nullptr, "D1");
    n.AddChild(d, "f1");
    n.AddChild(d, "f2");
    TCatalogNode *a = n.AddChild(d, "A");
    n.AddChild(a, "a1");
    n.AddChild(a, "a2");
    TCatalogNode *b = n.AddChild(a, "B");
    n.AddChild(b, "b1");
    n.AddChild(b, "b2");
    n.AddChild(d, "f3");
    return d;
}

template <class F> std::string MessageOf(F &&f)
{
    try {
        f();
    } catch (const Exception &e) {
        return e.what();
    }
    return "<no exception>";
}

} // namespace

TEST(CatalogTree, EmptyTree)
{
    TCatalogTree tree;
    EXPECT_EQ(tree.Items().Count(), 0);
    EXPECT_EQ(tree.Items().GetFirstNode(), nullptr);
    EXPECT_EQ(MessageOf([&] { tree.Items().Item(0); }), "List index out of bounds (0)");
    EXPECT_THROW(tree.Items().Item(0), EListError);
}

TEST(CatalogTree, FlatIndexIsDepthFirstPreOrderAndAgreesWithAbsoluteIndex)
{
    TCatalogTree tree;
    BuildElevenNodeDisc(tree);
    EXPECT_EQ(Outline(tree), "D1\n  f1\n  f2\n  A\n    a1\n    a2\n    B\n      b1\n      b2\n  f3\n");
    ASSERT_EQ(tree.Items().Count(), 10);
    for (int i = 0; i < tree.Items().Count(); ++i) {
        TCatalogNode *node = tree.Items().Item(i);
        EXPECT_EQ(node->AbsoluteIndex(), i);
        // Parent and Index agree with the parent's children array.
        if (node->Parent())
            EXPECT_EQ(node->Parent()->Child(node->Index()), node);
        else
            EXPECT_EQ(tree.Items().TopLevel(node->Index()), node);
    }
    EXPECT_EQ(tree.Items().Item(6)->Text(), "B");
    EXPECT_EQ(tree.Items().Item(6)->Level(), 2);
    EXPECT_EQ(MessageOf([&] { tree.Items().Item(10); }), "List index out of bounds (10)");
    EXPECT_EQ(MessageOf([&] { tree.Items().Item(-1); }), "List index out of bounds (-1)");
    EXPECT_EQ(MessageOf([&] { tree.Items().Item(0)->Child(4); }), "List index out of bounds (4)");
}

TEST(CatalogTree, NewDiscAfterElevenNodesGetsIndexEleven)
{
    TCatalogTree tree;
    TCatalogNode *d = BuildElevenNodeDisc(tree);
    tree.Items().AddChild(d, "f4"); // eleven nodes now: the disc and ten below
    ASSERT_EQ(tree.Items().Count(), 11);
    TCatalogNode *second = tree.Items().AddChild(nullptr, "D2");
    EXPECT_EQ(second->AbsoluteIndex(), 11);
    EXPECT_EQ(second->Level(), 0);
    EXPECT_EQ(second->Parent(), nullptr);
    EXPECT_EQ(tree.Items().Add(d->Child(0), "f5")->Parent(), d);
    EXPECT_EQ(tree.Items().Add(nullptr, "D3")->Index(), 2);
}

TEST(CatalogTree, HasChildrenFollowsChildrenAndDeletingTheOnlyChildCollapses)
{
    TCatalogTree tree;
    TCatalogNodes &n = tree.Items();
    TCatalogNode *d = n.AddChild(nullptr, "D");
    TCatalogNode *folder = n.AddChild(d, "folder");
    EXPECT_FALSE(folder->HasChildren());
    TCatalogNode *only = n.AddChild(folder, "only");
    EXPECT_TRUE(folder->HasChildren());
    folder->SetExpanded(true);
    EXPECT_TRUE(folder->Expanded());
    n.Delete(only);
    EXPECT_FALSE(folder->HasChildren());
    EXPECT_FALSE(folder->Expanded());
    n.Delete(nullptr); // harmless
    EXPECT_EQ(n.Count(), 2);
}

TEST(CatalogTree, DeletingADiscRemovesItsRunAndShiftsLaterIndexes)
{
    TCatalogTree tree;
    TCatalogNodes &n = tree.Items();
    TCatalogNode *first = n.AddChild(nullptr, "first");
    n.AddChild(first, "x");
    TCatalogNode *middle = BuildElevenNodeDisc(tree);
    TCatalogNode *last = n.AddChild(nullptr, "last");
    TCatalogNode *lastChild = n.AddChild(last, "y");
    EXPECT_EQ(last->AbsoluteIndex(), 12);
    n.Delete(middle);
    EXPECT_EQ(n.Count(), 4);
    EXPECT_EQ(first->AbsoluteIndex(), 0);
    EXPECT_EQ(last->AbsoluteIndex(), 2);
    EXPECT_EQ(lastChild->AbsoluteIndex(), 3);
    EXPECT_EQ(last->Index(), 1); // rows of later siblings follow
    EXPECT_EQ(n.TopLevel(1), last);
    EXPECT_EQ(first->GetNextSibling(), last);
    EXPECT_EQ(last->GetNextSibling(), nullptr);
}

TEST(CatalogTree, RenameKeepsPositionAndIndexes)
{
    TCatalogTree tree;
    BuildElevenNodeDisc(tree);
    TCatalogNode *a = tree.Items().Item(3);
    a->SetText("zzz renamed");
    EXPECT_EQ(tree.Items().Item(3), a);
    EXPECT_EQ(a->Index(), 2);
    EXPECT_EQ(a->Text(), "zzz renamed");
}

TEST(CatalogTree, ExpandingRaisesEventsOnlyForNodesWithChildren)
{
    TCatalogTree tree;
    TCatalogNodes &n = tree.Items();
    TCatalogNode *d = n.AddChild(nullptr, "D");
    TCatalogNode *file = n.AddChild(d, "file");
    std::vector<std::string> events;
    bool allow = true;
    tree.OnExpanding = [&](TCatalogTree &, TCatalogNode *node, bool &ok) {
        events.push_back("expanding " + std::string(node->Text()));
        ok = allow;
    };
    tree.OnExpanded = [&](TCatalogTree &, TCatalogNode *node) {
        events.push_back("expanded " + std::string(node->Text()));
    };
    tree.OnCollapsing = [&](TCatalogTree &, TCatalogNode *node, bool &) {
        events.push_back("collapsing " + std::string(node->Text()));
    };
    tree.OnCollapsed = [&](TCatalogTree &, TCatalogNode *node) {
        events.push_back("collapsed " + std::string(node->Text()));
    };

    file->SetExpanded(true);
    EXPECT_FALSE(file->Expanded());
    EXPECT_TRUE(events.empty());

    allow = false;
    d->SetExpanded(true);
    EXPECT_FALSE(d->Expanded());
    allow = true;
    d->SetExpanded(true);
    EXPECT_TRUE(d->Expanded());
    d->SetExpanded(false);
    EXPECT_FALSE(d->Expanded());
    EXPECT_EQ(events,
              (std::vector<std::string>{"expanding D", "expanding D", "expanded D", "collapsing D", "collapsed D"}));
}

TEST(CatalogTree, UpdateCounterNestsAndUnmatchedEndUpdateStaysAtZero)
{
    TCatalogTree tree;
    RecordingObserver obs;
    tree.SetObserver(&obs);
    TCatalogNodes &n = tree.Items();
    n.BeginUpdate();
    n.BeginUpdate();
    EXPECT_EQ(n.UpdateCount(), 2);
    n.EndUpdate();
    EXPECT_EQ(n.UpdateCount(), 1);
    n.EndUpdate();
    n.EndUpdate();
    EXPECT_EQ(n.UpdateCount(), 0);
    EXPECT_EQ(obs.events, (std::vector<std::string>{"update-begun", "update-ended", "update-ended"}));
}

TEST(CatalogTree, ObserverSeesRowsOfInsertionsAndRemovals)
{
    TCatalogTree tree;
    RecordingObserver obs;
    tree.SetObserver(&obs);
    TCatalogNodes &n = tree.Items();
    TCatalogNode *d = n.AddChild(nullptr, "D");
    TCatalogNode *f = n.AddChild(d, "f");
    n.AddChild(d, "g");
    f->SetIcons(1, 2);
    d->SetExpanded(true);
    n.Delete(f);
    n.Clear();
    EXPECT_EQ(obs.events,
              (std::vector<std::string>{"about-insert <top> 0", "inserted D", "about-insert D 0", "inserted f",
                                        "about-insert D 1", "inserted g", "changed f", "expanded D", "about-remove D 0",
                                        "removed D 0", "about-clear", "cleared"}));
}

TEST(CatalogTree, DeletionRaisesOnDeletionForTheWholeSubtreeAndDropsSelection)
{
    TCatalogTree tree;
    TCatalogNode *d = BuildElevenNodeDisc(tree);
    TCatalogNode *a = d->Child(2);
    TCatalogNode *b1 = a->Child(2)->Child(0);
    tree.Items().Select(d);
    tree.SetSelected(b1);
    EXPECT_EQ(tree.Items().SelectionList().size(), 2u);
    std::vector<std::string> deleted;
    tree.OnDeletion = [&](TCatalogTree &, TCatalogNode *node) { deleted.emplace_back(node->Text()); };
    tree.Items().Delete(a);
    std::sort(deleted.begin(), deleted.end());
    EXPECT_EQ(deleted, (std::vector<std::string>{"A", "B", "a1", "a2", "b1", "b2"}));
    EXPECT_EQ(tree.Selected(), nullptr);
    EXPECT_EQ(tree.Items().SelectionList(), (std::vector<TCatalogNode *>{d}));
    EXPECT_EQ(tree.Items().Count(), 4);
    EXPECT_EQ(d->Child(2)->Text(), "f3");
    EXPECT_EQ(d->Child(2)->Index(), 2);
}

TEST(CatalogTree, SelectionMovesLikeTheDisplay)
{
    TCatalogTree tree;
    TCatalogNode *d = BuildElevenNodeDisc(tree);
    tree.SetSelected(d);
    tree.SetSelected(d->Child(0));
    EXPECT_FALSE(d->IsSelected());
    EXPECT_TRUE(d->Child(0)->IsSelected());
    EXPECT_EQ(tree.Items().SelectionList().size(), 1u);
    tree.SetSelected(nullptr);
    EXPECT_TRUE(tree.Items().SelectionList().empty());
}

TEST(CatalogTree, StateIndexFollowsTheParentsCheckType)
{
    const struct {
        uint8_t checkType;
        int32_t stateIndex;
    } cases[] = {{0, 0}, {1, 1}, {2, 1}, {3, 5}, {7, -1}};
    for (const auto &c : cases) {
        TCatalogTree tree;
        TCatalogNode *d = tree.Items().AddChild(nullptr, "D");
        EXPECT_EQ(d->StateIndex(), 0); // the root's check type is 0
        d->SetCheckType(c.checkType);
        EXPECT_EQ(tree.Items().AddChild(d, "x")->StateIndex(), c.stateIndex) << int(c.checkType);
    }
}

TEST(CatalogTree, DefaultsOfANewNode)
{
    TCatalogTree tree;
    TCatalogNode *d = tree.Items().AddChild(nullptr, "D");
    EXPECT_EQ(d->ImageIndex(), -1);
    EXPECT_EQ(d->SelectedIndex(), -1);
    EXPECT_EQ(d->OverlayIndex(), -1);
    EXPECT_EQ(d->IntegralHeight(), 1);
    EXPECT_EQ(d->Data(), 0u);
    EXPECT_TRUE(d->Enabled());
    EXPECT_TRUE(d->ParentColor());
    EXPECT_TRUE(d->ParentFont());
    EXPECT_EQ(d->Font(), nullptr);
    EXPECT_FALSE(d->Expanded());
}

// Deep trees must not recurse: building, indexing, copying and freeing a
// chain far deeper than any stack frame budget.
TEST(CatalogTree, VeryDeepChainNeedsNoRecursion)
{
    TCatalogTree tree;
    TCatalogNode *n = tree.Items().AddChild(nullptr, "D");
    for (int i = 0; i < 200000; ++i)
        n = tree.Items().AddChild(n, "x");
    EXPECT_EQ(n->AbsoluteIndex(), 200000);
    TCatalogTree copy;
    CopySubtree(*tree.Items().GetFirstNode(), copy.Items(), nullptr);
    EXPECT_EQ(copy.Items().Count(), 200001);
    tree.Items().Clear();
    EXPECT_EQ(tree.Items().Count(), 0);
}

namespace {

void NaivePreOrder(TCatalogNode *node, std::vector<TCatalogNode *> &out)
{
    out.push_back(node);
    for (int i = 0; i < node->Count(); ++i)
        NaivePreOrder(node->Child(i), out);
}

} // namespace

// The flat index is extended by appends and dropped by everything else; a
// naive pre-order walk must agree with it after any mix of operations.
TEST(CatalogTree, FlatIndexAgreesWithANaiveWalkUnderRandomEdits)
{
    TCatalogTree tree;
    TCatalogNodes &n = tree.Items();
    uint32_t seed = 12345;
    auto next = [&](uint32_t range) {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 8) % range;
    };
    for (int step = 0; step < 3000; ++step) {
        const uint32_t op = next(10);
        if (n.Count() == 0 || op == 0) {
            n.AddChild(nullptr, "disc");
        } else if (op <= 6) {
            // Mostly appends at the end, sometimes into the middle.
            TCatalogNode *parent =
                op <= 4 ? n.Item(n.Count() - 1) : n.Item(static_cast<int>(next(static_cast<uint32_t>(n.Count()))));
            if (op == 3 && parent->Parent())
                parent = parent->Parent();
            n.AddChild(parent, "x");
        } else if (op == 7 && n.Count() > 50) {
            n.Delete(n.Item(static_cast<int>(next(static_cast<uint32_t>(n.Count())))));
        } else {
            // Read through the index, as the window's expand handler does.
            n.Item(static_cast<int>(next(static_cast<uint32_t>(n.Count()))))->AbsoluteIndex();
        }
        if (step % 100 == 99 || step < 50) {
            std::vector<TCatalogNode *> expected;
            for (int i = 0; i < n.TopLevelCount(); ++i)
                NaivePreOrder(n.TopLevel(i), expected);
            ASSERT_EQ(static_cast<int>(expected.size()), n.Count()) << "step " << step;
            for (size_t i = 0; i < expected.size(); ++i) {
                ASSERT_EQ(n.Item(static_cast<int>(i)), expected[i]) << "step " << step;
                ASSERT_EQ(expected[i]->AbsoluteIndex(), static_cast<int>(i)) << "step " << step;
            }
        }
    }
}

TEST(CatalogTree, LoadingKeepsTheFlatIndexForExpandHandlers)
{
    TCatalogTree source;
    TCatalogNodes &s = source.Items();
    for (int d = 0; d < 3; ++d) {
        TCatalogNode *disc = s.AddChild(nullptr, "disc");
        for (int f = 0; f < 3; ++f) {
            TCatalogNode *folder = s.AddChild(disc, "folder");
            s.AddChild(folder, "file");
            s.AddChild(folder, "file");
            folder->SetExpanded(true);
        }
    }
    // The handler sees the node's absolute index and its next node while
    // the load runs.
    TCatalogTree tree;
    std::vector<int> seen;
    tree.OnExpanding = [&](TCatalogTree &t, TCatalogNode *node, bool &) {
        const int i = node->AbsoluteIndex();
        seen.push_back(i);
        EXPECT_EQ(t.Items().Item(i + 1)->Parent(), node);
    };
    tslcat_test::LoadFromBytes(tree, tslcat_test::SaveToBytes(source));
    EXPECT_EQ(seen, (std::vector<int>{1, 4, 7, 11, 14, 17, 21, 24, 27}));
}
