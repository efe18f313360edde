// Bit lists of the approximate kind against a std::vector<bool> model: every
// operation on random contents, lengths across word boundaries, shifts of
// every distance, and the storage rules of allocation and release.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "bitlist.h"

using namespace quarn;

namespace {

using Model = std::vector<bool>; // bit i = element i, over 32 * wordCount bits

Model Read(const QuarnBitList &v)
{
    Model m(static_cast<size_t>(32 * v.wordCount));
    for (size_t i = 0; i < m.size(); ++i)
        m[i] = (v.words[i / 32] >> (i % 32)) & 1u;
    return m;
}

void Write(QuarnBitList &v, const Model &m)
{
    BitClear(&v);
    for (size_t i = 0; i < m.size(); ++i)
        if (m[i])
            BitSet(&v, static_cast<int32_t>(i));
}

Model RandomModel(std::mt19937 &rng, size_t bits)
{
    Model m(bits);
    // Sparse, dense and uniform contents all occur.
    int density = std::uniform_int_distribution<int>(0, 4)(rng);
    std::uniform_int_distribution<int> coin(0, 3);
    for (size_t i = 0; i < bits; ++i) {
        int c = coin(rng);
        m[i] = density == 0 ? false : density == 4 ? true : c < density;
    }
    return m;
}

Model ShiftLeft(const Model &m, int n)
{
    Model out(m.size());
    for (size_t i = 0; i < m.size(); ++i)
        if (static_cast<long>(i) - n >= 0)
            out[i] = m[i - n];
    return out;
}

Model ShiftRight(const Model &m, int n)
{
    Model out(m.size());
    for (size_t i = 0; i < m.size(); ++i)
        if (i + n < m.size())
            out[i] = m[i + n];
    return out;
}

Model Add(const Model &a, const Model &b)
{
    Model out(a.size());
    bool carry = false;
    for (size_t i = 0; i < a.size(); ++i) {
        int s = a[i] + b[i] + carry;
        out[i] = s & 1;
        carry = s > 1;
    }
    return out;
}

int Compare(const Model &a, const Model &b)
{
    for (size_t i = a.size(); i-- > 0;)
        if (a[i] != b[i])
            return a[i] ? 1 : -1;
    return 0;
}

struct Vectors {
    QuarnBitList a{}, b{}, c{};
    explicit Vectors(int32_t bits)
    {
        EXPECT_EQ(BitAllocZeroed(&a, bits), 1);
        EXPECT_EQ(BitAllocZeroed(&b, bits), 1);
        EXPECT_EQ(BitAllocZeroed(&c, bits), 1);
    }
    ~Vectors()
    {
        BitRelease(&a);
        BitRelease(&b);
        BitRelease(&c);
    }
};

TEST(BitList, AllocationSetsCountsAndStorage)
{
    const struct {
        int32_t bits, words;
    } cases[] = {{1, 1}, {31, 1}, {32, 1}, {33, 2}, {64, 2}, {65, 3}, {511, 16}};
    for (const auto &c : cases) {
        QuarnBitList v{};
        ASSERT_EQ(BitAllocOnes(&v, c.bits), 1);
        EXPECT_EQ(v.wordCount, c.words);
        EXPECT_EQ(v.bitCount, c.bits);
        EXPECT_EQ(v.holdsStorage, 1);
        EXPECT_EQ(v.storage, static_cast<void *>(v.words));
        for (int i = 0; i < c.words; ++i)
            EXPECT_EQ(v.words[i], 0xffffffffu);
        // Reallocating frees the old block first (the leak checker would
        // notice otherwise) and gives zeroes.
        ASSERT_EQ(BitAllocZeroed(&v, c.bits), 1);
        for (int i = 0; i < c.words; ++i)
            EXPECT_EQ(v.words[i], 0u);
        QuarnBitList copy{};
        v.words[c.words - 1] = 0x80000001u;
        ASSERT_EQ(BitAllocCopy(&copy, &v, c.bits), 1);
        EXPECT_EQ(Read(copy), Read(v));
        EXPECT_EQ(BitRelease(&copy), 1);
        EXPECT_EQ(BitRelease(&v), 1);
        EXPECT_EQ(v.holdsStorage, 0);
        EXPECT_EQ(v.wordCount, 0);
        EXPECT_EQ(v.bitCount, 0);
        EXPECT_EQ(BitRelease(&v), 1) << "a vector without storage releases fine";
    }
}

TEST(BitList, OperationsMatchTheModel)
{
    std::mt19937 rng(511);
    for (int iteration = 0; iteration < 800; ++iteration) {
        const int32_t bits = std::uniform_int_distribution<int32_t>(1, 511)(rng);
        Vectors v(bits);
        const size_t size = static_cast<size_t>(32 * v.a.wordCount);
        const Model a = RandomModel(rng, size), b = RandomModel(rng, size);
        Write(v.a, a);
        Write(v.b, b);
        ASSERT_EQ(Read(v.a), a);
        const int n = std::uniform_int_distribution<int>(0, static_cast<int>(size) + 40)(rng);
        auto fresh = [&] {
            Write(v.a, a);
            Write(v.b, b);
        };

        BitShiftLeft(&v.a, n);
        ASSERT_EQ(Read(v.a), ShiftLeft(a, n)) << "left " << n << " of " << size;
        fresh();
        BitShiftRight(&v.a, n);
        ASSERT_EQ(Read(v.a), ShiftRight(a, n)) << "right " << n << " of " << size;
        fresh();

        Model want(size);
        BitOrInto(&v.a, &v.b);
        for (size_t i = 0; i < size; ++i)
            want[i] = a[i] || b[i];
        ASSERT_EQ(Read(v.a), want);
        BitOr(&v.c, &v.b, &v.b);
        ASSERT_EQ(Read(v.c), b);
        fresh();
        BitOr(&v.c, &v.a, &v.b);
        ASSERT_EQ(Read(v.c), want);

        BitAndInto(&v.a, &v.b);
        for (size_t i = 0; i < size; ++i)
            want[i] = a[i] && b[i];
        ASSERT_EQ(Read(v.a), want);
        fresh();
        BitAnd(&v.c, &v.a, &v.b);
        ASSERT_EQ(Read(v.c), want);

        BitAndNotInto(&v.a, &v.b);
        for (size_t i = 0; i < size; ++i)
            want[i] = a[i] && !b[i];
        ASSERT_EQ(Read(v.a), want);
        fresh();

        BitAddInto(&v.a, &v.b);
        ASSERT_EQ(Read(v.a), Add(a, b));
        fresh();

        ASSERT_EQ(BitCompare(&v.a, &v.b), Compare(a, b));
        ASSERT_EQ(BitCompare(&v.b, &v.a), Compare(b, a));
        ASSERT_EQ(BitCompare(&v.a, &v.a), 0);

        BitCopy(&v.c, &v.a);
        ASSERT_EQ(Read(v.c), a);
        BitCopy(&v.c, &v.c);
        ASSERT_EQ(Read(v.c), a);
        BitClear(&v.c);
        ASSERT_EQ(Read(v.c), Model(size));
    }
}

TEST(BitList, CarryRunsAcrossWordsAndOutOfTheTop)
{
    Vectors v(96);
    BitAllocOnes(&v.a, 96);
    BitSet(&v.b, 0);
    BitAddInto(&v.a, &v.b);
    EXPECT_EQ(Read(v.a), Model(96)) << "all ones + 1 wraps to zero";
    BitSet(&v.a, 31);
    BitClear(&v.b);
    BitSet(&v.b, 31);
    BitAddInto(&v.a, &v.b); // bit 31 + bit 31 carries into word 1
    EXPECT_EQ(v.a.words[0], 0u);
    EXPECT_EQ(v.a.words[1], 1u);
}

TEST(BitList, ShiftsOfWholeWordsAndBeyond)
{
    Vectors v(64);
    v.a.words[0] = 0x80000001u;
    v.a.words[1] = 0x00000002u;
    BitShiftLeft(&v.a, 32);
    EXPECT_EQ(v.a.words[0], 0u);
    EXPECT_EQ(v.a.words[1], 0x80000001u);
    BitShiftRight(&v.a, 63);
    EXPECT_EQ(v.a.words[0], 1u);
    EXPECT_EQ(v.a.words[1], 0u);
    BitShiftLeft(&v.a, 64);
    EXPECT_EQ(v.a.words[0], 0u);
    v.a.words[1] = 5;
    BitShiftRight(&v.a, 1000);
    EXPECT_EQ(v.a.words[1], 0u);
}

} // namespace
