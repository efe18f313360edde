// Block calls: a block of NUL-separated names answers exactly what the
// per-name calls answer, across the three kinds, with the capacity and the
// stop offset telling a full hit table from a failing name.
#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string>
#include <vector>

#include "test_support.h"

using quarn_test::ReportCapture;

namespace {

using BlockCall = int32_t(QUARN_API *)(const char *, int32_t, int32_t *, int32_t, int32_t *, QuarnPattern *);
using LineCall = int32_t(QUARN_API *)(const char *, QuarnPattern *);

std::string Join(const std::vector<std::string> &names)
{
    std::string block;
    for (const auto &n : names) {
        block += n;
        block.push_back('\0');
    }
    return block;
}

// Offsets of the names that the per-name call counts as hits.
std::vector<int32_t> PerName(LineCall line, const std::vector<std::string> &names, QuarnPattern *p)
{
    std::vector<int32_t> hits;
    int32_t at = 0;
    for (const auto &n : names) {
        if (line(n.c_str(), p) >= 1)
            hits.push_back(at);
        at += static_cast<int32_t>(n.size()) + 1;
    }
    return hits;
}

std::vector<int32_t> Whole(BlockCall call, const std::string &block, QuarnPattern *p, int32_t capacity = 0)
{
    std::vector<int32_t> hits;
    std::vector<int32_t> table(capacity > 0 ? capacity : block.size() + 1);
    int32_t from = 0;
    const int32_t length = static_cast<int32_t>(block.size());
    while (from < length) {
        int32_t stop = -1;
        const int32_t n =
            call(block.data() + from, length - from, table.data(), static_cast<int32_t>(table.size()), &stop, p);
        EXPECT_GE(n, 0);
        if (n < 0)
            break;
        for (int32_t i = 0; i < n; ++i)
            hits.push_back(from + table[i]);
        EXPECT_GT(stop, 0);
        if (stop <= 0)
            break;
        from += stop;
    }
    return hits;
}

std::string RandomName(std::mt19937 &rng)
{
    static const char alphabet[] = "abcdeRMEADrmead.-_ 0189\xe9\xc9";
    std::uniform_int_distribution<int> len(0, 14), ch(0, sizeof alphabet - 2);
    std::string s(static_cast<size_t>(len(rng)), ' ');
    for (char &c : s)
        c = alphabet[ch(rng)];
    return s;
}

TEST(QuarnBlock, AgreesWithPerNameCallsOnRandomNames)
{
    ReportCapture quiet; // SGrep reports nothing here, but keep stderr clean
    std::mt19937 rng(1616);
    const char *regexes[] = {"read", "^r.*e$", "\\.d", "[a-c][0-9]", "e\\>", "^$", "a|b|M", "\\(ea\\).*\\1", "."};
    const struct {
        const char *pattern;
        int errors;
    } approx[] = {{"readme", 1}, {"readme", 2}, {"ab", 1}, {"abcd", 3}, {"ead", 0}};
    const char *sounds[] = {"Rider", "a", "Mead door", "Bob"};
    for (int round = 0; round < 20; ++round) {
        std::vector<std::string> names(static_cast<size_t>(1 + round * 37));
        for (auto &n : names)
            n = RandomName(rng);
        const std::string block = Join(names);
        const int32_t capacity = round % 3 == 0 ? 1 + round % 5 : 0; // small tables force resumes
        for (int cs = 0; cs < 2; ++cs) {
            for (const char *re : regexes) {
                auto p = quarn_test::NewPattern();
                ASSERT_EQ(CompileRGrep(re, cs, p.get()), 0) << re;
                EXPECT_EQ(Whole(QuarnRGrepBlock, block, p.get(), capacity), PerName(RGrep, names, p.get()))
                    << re << " case " << cs << " round " << round;
            }
            for (const auto &a : approx) {
                auto p = quarn_test::NewPattern();
                AGrepInit(p.get());
                ASSERT_EQ(CompileAGrep(a.pattern, a.errors, cs, p.get()), 0);
                EXPECT_EQ(Whole(QuarnAGrepBlock, block, p.get(), capacity), PerName(AGrep, names, p.get()))
                    << a.pattern << "/" << a.errors << " case " << cs;
                AGrepEmpty(p.get());
            }
        }
        for (const char *s : sounds) {
            auto p = quarn_test::NewPattern();
            ASSERT_EQ(CompileSGrep(s, 0, p.get()), 0);
            EXPECT_EQ(Whole(QuarnSGrepBlock, block, p.get(), capacity), PerName(SGrep, names, p.get())) << s;
        }
    }
}

TEST(QuarnBlock, OffsetsCapacityAndStop)
{
    auto p = quarn_test::NewPattern();
    ASSERT_EQ(CompileRGrep("a", 0, p.get()), 0);
    const std::string block("a\0bc\0\0xa\0tail-a", 15); // "tail-a" has no NUL
    int32_t hits[8] = {};
    int32_t stop = -1;
    EXPECT_EQ(QuarnRGrepBlock(block.data(), 15, hits, 8, &stop, p.get()), 2);
    EXPECT_EQ(hits[0], 0);
    EXPECT_EQ(hits[1], 6);
    EXPECT_EQ(stop, 15); // the tail counts as read, and is no hit

    // A full table stops after the name of the last stored hit.
    EXPECT_EQ(QuarnRGrepBlock(block.data(), 15, hits, 1, &stop, p.get()), 1);
    EXPECT_EQ(stop, 2);
    // Full with only the tail left: nothing more to read.
    EXPECT_EQ(QuarnRGrepBlock(block.data() + 2, 13, hits, 1, &stop, p.get()), 1);
    EXPECT_EQ(hits[0], 4);
    EXPECT_EQ(stop, 13);
    // Capacity 0 reads nothing; stop NULL is allowed.
    EXPECT_EQ(QuarnRGrepBlock(block.data(), 15, hits, 0, &stop, p.get()), 0);
    EXPECT_EQ(stop, 0);
    EXPECT_EQ(QuarnRGrepBlock(block.data(), 15, hits, 8, nullptr, p.get()), 2);
    // Empty names are tested: "^$" hits the third name.
    ASSERT_EQ(CompileRGrep("^$", 0, p.get()), 0);
    EXPECT_EQ(QuarnRGrepBlock(block.data(), 15, hits, 8, &stop, p.get()), 1);
    EXPECT_EQ(hits[0], 5);
    // An empty block is read at once.
    EXPECT_EQ(QuarnRGrepBlock("", 0, hits, 8, &stop, p.get()), 0);
    EXPECT_EQ(stop, 0);
    EXPECT_EQ(QuarnRGrepBlock(nullptr, 0, hits, 8, &stop, p.get()), 0);
}

TEST(QuarnBlock, Refusals)
{
    ReportCapture quiet;
    auto p = quarn_test::NewPattern();
    int32_t hits[4];
    int32_t stop = 7;
    const char block[] = "abc\0";
    EXPECT_EQ(QuarnRGrepBlock(block, 4, hits, 4, &stop, nullptr), -1);
    EXPECT_EQ(stop, 0);
    EXPECT_NE(CompileRGrep("a\\(", 0, p.get()), 0);
    EXPECT_EQ(QuarnRGrepBlock(block, 4, hits, 4, &stop, p.get()), -1);
    ASSERT_EQ(CompileRGrep("a", 0, p.get()), 0);
    EXPECT_EQ(QuarnRGrepBlock(block, -1, hits, 4, &stop, p.get()), -1);
    EXPECT_EQ(QuarnRGrepBlock(block, 4, hits, -1, &stop, p.get()), -1);
    EXPECT_EQ(QuarnRGrepBlock(nullptr, 4, hits, 4, &stop, p.get()), -1);
    EXPECT_EQ(QuarnRGrepBlock(block, 4, nullptr, 4, &stop, p.get()), -1);
    EXPECT_EQ(QuarnRGrepBlock(block, 4, nullptr, 0, &stop, p.get()), 0);

    // An uncompiled approximate record and a failed Soundex record refuse.
    auto a = quarn_test::NewPattern();
    AGrepInit(a.get());
    EXPECT_EQ(QuarnAGrepBlock(block, 4, hits, 4, &stop, a.get()), -1);
    AGrepEmpty(a.get());
    auto s = quarn_test::NewPattern();
    EXPECT_EQ(CompileSGrep("", 0, s.get()), 6);
    EXPECT_EQ(QuarnSGrepBlock(block, 4, hits, 4, &stop, s.get()), -1);
}

TEST(QuarnBlock, StepLimitStopsAtTheFailingName)
{
    auto p = quarn_test::NewPattern();
    // A back reference over a long run backtracks far beyond a small limit.
    ASSERT_EQ(CompileRGrep("\\(a\\)a*a*a*a*a*\\1b", 0, p.get()), 0);
    const std::string slow(255, 'a');
    const std::string block = Join({"aab", "aaab", slow, "aab"});
    const int32_t previous = QuarnSetStepLimit(20000);
    int32_t hits[8];
    int32_t stop = -1;
    const int32_t n = QuarnRGrepBlock(block.data(), static_cast<int32_t>(block.size()), hits, 8, &stop, p.get());
    QuarnSetStepLimit(previous);
    ASSERT_EQ(n, 2);
    EXPECT_EQ(hits[0], 0);
    EXPECT_EQ(hits[1], 4);
    EXPECT_EQ(stop, 9); // the slow name: fewer hits than capacity, stop before the end
}

} // namespace
