// Inserting a node when memory runs out at each allocation in turn.  A
// binary of its own: it replaces the global operator new so that a chosen
// allocation fails.

#include <gtest/gtest.h>

#include <cstdlib>
#include <new>

#include "catalog_tree.h"

namespace {

// Allocations left before one fails; -1: none fails.
long g_allocationsBeforeFailure = -1;

void *allocate(std::size_t n)
{
    if (g_allocationsBeforeFailure == 0) {
        g_allocationsBeforeFailure = -1;
        throw std::bad_alloc();
    }
    if (g_allocationsBeforeFailure > 0)
        --g_allocationsBeforeFailure;
    if (void *p = std::malloc(n ? n : 1))
        return p;
    throw std::bad_alloc();
}

} // namespace

void *operator new(std::size_t n)
{
    return allocate(n);
}
void *operator new[](std::size_t n)
{
    return allocate(n);
}
void operator delete(void *p) noexcept
{
    std::free(p);
}
void operator delete[](void *p) noexcept
{
    std::free(p);
}
void operator delete(void *p, std::size_t) noexcept
{
    std::free(p);
}
void operator delete[](void *p, std::size_t) noexcept
{
    std::free(p);
}

using namespace tslcat;

namespace {

// Counts without allocating, so it is never the allocation that fails.
struct CountingObserver : ICatalogTreeObserver {
    int aboutToInsert = 0;
    int inserted = 0;
    void NodeAboutToBeInserted(TCatalogNode *, int) override { ++aboutToInsert; }
    void NodeInserted(TCatalogNode *) override { ++inserted; }
};

} // namespace

// AddChild told the display a row was coming before the steps that can
// fail, so a failure left the display in the middle of an insertion.
TEST(InsertFailure, TheDisplayHearsOfARowOnlyWhenItIsThere)
{
    int failures = 0;
    for (long k = 0; k < 12; ++k) {
        TCatalogTree tree;
        CountingObserver observer;
        TCatalogNode *disc = tree.Items().AddChild(nullptr, "disc");
        disc->SetCheckType(1); // children get an unusual state index: one more allocation
        tree.SetObserver(&observer);
        const int before = tree.Items().Count();
        const std::string name(300, 'n');
        bool threw = false;
        g_allocationsBeforeFailure = k;
        try {
            tree.Items().AddChild(disc, name);
        } catch (const std::bad_alloc &) {
            threw = true;
        }
        g_allocationsBeforeFailure = -1;
        if (threw) {
            ++failures;
            EXPECT_EQ(tree.Items().Count(), before) << "failing allocation " << k;
            EXPECT_EQ(disc->Count(), 0) << "failing allocation " << k;
            EXPECT_EQ(observer.aboutToInsert, 0) << "failing allocation " << k;
            EXPECT_EQ(observer.inserted, 0) << "failing allocation " << k;
        } else {
            EXPECT_EQ(tree.Items().Count(), before + 1);
            EXPECT_EQ(observer.aboutToInsert, 1);
            EXPECT_EQ(observer.inserted, 1);
        }
        tree.SetObserver(nullptr);
    }
    EXPECT_GT(failures, 0); // some allocation of the insertion did fail
}
