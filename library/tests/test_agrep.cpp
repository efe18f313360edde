// Approximate search: the header's examples, limits and lifecycle, the
// vector layout of a compiled record, and a property test against a naive
// Hamming-distance model in all three search modes and both case modes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "test_support.h"

using quarn_test::Offset;
using quarn_test::Report;
using quarn_test::ReportCapture;

namespace {

// An approximate record: prepared on creation, emptied on destruction.
struct ApproxRecord {
    std::unique_ptr<QuarnPattern> p = quarn_test::NewPattern();
    ApproxRecord() { AGrepInit(p.get()); }
    ~ApproxRecord() { AGrepEmpty(p.get()); }
    QuarnPattern *get() { return p.get(); }
};

struct Window {
    long start;
    long end;
    bool operator==(const Window &o) const { return start == o.start && end == o.end; }
};

std::vector<Window> Recorded(const char *line, const QuarnPattern *p)
{
    std::vector<Window> out;
    for (int i = 0; i < QUARN_MAX_TAGS && p->matchStart[i] != nullptr; ++i)
        out.push_back({Offset(line, p->matchStart[i]), Offset(line, p->matchEnd[i])});
    return out;
}

struct ExampleCase {
    const char *pattern;
    int errors;
    int caseFlag;
    const char *line;
    int count;
    std::vector<Window> windows;
};

TEST(AGrep, DocumentedExamples)
{
    const ExampleCase cases[] = {
        {"hello", 1, 1, "say hallo to jello", 2, {{4, 9}, {13, 18}}},
        {"hello", 1, 0, "HELLO hullo", 2, {{0, 5}, {6, 11}}},
        {"hello", 1, 1, "HELLO hullo", 1, {{6, 11}}},
        {"word", 2, 1, "ward wood", 2, {{0, 4}, {5, 9}}},
        {"abc", 0, 1, "abcabc", 2, {{0, 3}, {3, 6}}},
        {"aaa", 0, 1, "aaaaa", 3, {{0, 3}, {1, 4}, {2, 5}}},
        {"aaa", 0, 0, "AaAa", 2, {{0, 3}, {1, 4}}},
        {"aaa", 0, 1, "AaAa", 0, {}},
        {"ab", 1, 1, "b", 0, {}},           // the alignment would begin before the line
        {"ab", 1, 1, "xb", 1, {{0, 2}}},    // the smallest case: one wrong character
        {"abcd", 3, 1, "xxd", 1, {{0, 3}}}, // match counting: begins one byte early
        {"abc", 1, 1, "", 0, {}},
        {"abc", 3, 1, "xy", 2, {{0, 1}, {0, 2}}}, // errors = length: every byte ends a match
    };
    for (const auto &c : cases) {
        ApproxRecord r;
        ASSERT_EQ(CompileAGrep(c.pattern, c.errors, c.caseFlag, r.get()), 0) << c.pattern;
        EXPECT_EQ(AGrep(c.line, r.get()), c.count) << c.pattern << " in " << c.line;
        EXPECT_EQ(Recorded(c.line, r.get()), c.windows) << c.pattern << " in " << c.line;
    }
}

TEST(AGrep, WorkedExampleVectorLayout)
{
    ApproxRecord r;
    ASSERT_EQ(CompileAGrep("ab", 1, 1, r.get()), 0);
    const QuarnApproxBody &a = r.get()->body.approx;
    EXPECT_EQ(a.searchMode, 1);
    EXPECT_EQ(a.fieldWidth, 2);
    EXPECT_EQ(a.totalBits, 4);
    EXPECT_EQ(a.overflowMask.words[0], 0xAu);
    EXPECT_EQ(a.valueMask.words[0], 0xFu);
    EXPECT_EQ(a.threshold.words[0], 0x8u);
    EXPECT_EQ(a.charMask['a'].words[0], 0x4u);
    EXPECT_EQ(a.charMask['b'].words[0], 0x1u);
    EXPECT_EQ(a.charMask['x'].words[0], 0x5u);
    EXPECT_EQ(a.charMask['A'].words[0], 0x5u); // case sensitive
    for (const QuarnBitList *v : {&a.valueMask, &a.overflowMask, &a.threshold, &a.counterState, &a.overflowState,
                                  &a.scratch, &a.charMask[0], &a.charMask[255]}) {
        EXPECT_EQ(v->wordCount, 1);
        EXPECT_EQ(v->bitCount, 4);
        EXPECT_EQ(v->holdsStorage, 1);
        EXPECT_NE(v->words, nullptr);
    }
    EXPECT_EQ(AGrep("xb", r.get()), 1);
    EXPECT_EQ(a.counterState.words[0], 0x5u);
    EXPECT_EQ(a.overflowState.words[0], 0x0u);
}

TEST(AGrep, FieldWidthFollowsTheLimit)
{
    // limit -> width: 0 -> 1, 1 -> 2, 2..3 -> 3, 4..7 -> 4, 8..15 -> 5.
    struct {
        int length, errors, mode, width;
    } const cases[] = {
        {10, 1, 1, 2}, {10, 2, 1, 3}, {10, 3, 1, 3},  {10, 4, 1, 4}, {10, 5, 1, 4},  {10, 6, 0, 4},
        {10, 7, 0, 3}, {10, 9, 0, 2}, {10, 10, 0, 1}, {40, 8, 1, 5}, {40, 20, 1, 6}, {40, 25, 0, 5},
    };
    for (const auto &c : cases) {
        ApproxRecord r;
        std::string pattern(c.length, 'q');
        ASSERT_EQ(CompileAGrep(pattern.c_str(), c.errors, 1, r.get()), 0);
        EXPECT_EQ(r.get()->body.approx.searchMode, c.mode) << c.length << "/" << c.errors;
        EXPECT_EQ(r.get()->body.approx.fieldWidth, c.width) << c.length << "/" << c.errors;
        EXPECT_EQ(r.get()->body.approx.totalBits, c.width * c.length);
    }
}

TEST(AGrep, LengthLimits)
{
    struct {
        int length, errors, code;
    } const cases[] = {
        {255, 1, 0}, {256, 1, 4}, {170, 3, 0}, {171, 3, 4},   {127, 7, 0},   {128, 7, 4},
        {511, 0, 0}, {512, 0, 4}, {512, 1, 4}, {600, 300, 4}, {511, 511, 0}, // errors = length: width 1
    };
    ReportCapture capture;
    for (const auto &c : cases) {
        ApproxRecord r;
        capture.clear();
        std::string pattern(c.length, 'z');
        EXPECT_EQ(CompileAGrep(pattern.c_str(), c.errors, 1, r.get()), c.code) << c.length << "/" << c.errors;
        EXPECT_EQ(r.get()->errorCode, c.code);
        if (c.code == 4) {
            ASSERT_EQ(capture.reports().size(), 1u);
            EXPECT_EQ(capture.reports()[0], (Report{"pattern too long", "Approximative Find Error"}));
            EXPECT_EQ(AGrep("zzz", r.get()), -1);
        } else {
            EXPECT_TRUE(capture.reports().empty());
            std::string line(c.length, 'z');
            EXPECT_EQ(AGrep(line.c_str(), r.get()), c.errors == c.length ? c.length : 1);
        }
    }
}

TEST(AGrep, NoPatternAndRefusedRecords)
{
    ReportCapture capture;
    ApproxRecord r;
    EXPECT_EQ(AGrep("abc", r.get()), -1) << "prepared but never compiled";
    EXPECT_EQ(CompileAGrep("", 1, 1, r.get()), 6);
    EXPECT_EQ(CompileAGrep(nullptr, 1, 1, r.get()), 6);
    ASSERT_EQ(capture.reports().size(), 2u);
    EXPECT_EQ(capture.reports()[0], (Report{"no pattern", "Approximative Find Error"}));
    EXPECT_EQ(AGrep("abc", r.get()), -1);
    EXPECT_EQ(r.get()->errorCode, 6) << "AGrep leaves the code alone";
    ASSERT_EQ(CompileAGrep("abc", 1, 1, r.get()), 0);
    EXPECT_EQ(AGrep("abd", r.get()), 1);
    EXPECT_EQ(AGrep(nullptr, r.get()), -1);
    EXPECT_EQ(capture.reports().size(), 2u) << "refusals are silent";
    EXPECT_EQ(AGrep("abc", nullptr), -1);
    EXPECT_EQ(CompileAGrep("abc", 1, 1, nullptr), 6);
}

TEST(AGrep, LifecycleStates)
{
    auto p = quarn_test::NewPattern();
    // A zero-filled record reads as "compiled, match counting" but has no
    // vectors: it must be refused, not matched.
    EXPECT_EQ(AGrep("abc", p.get()), -1);
    EXPECT_EQ(AGrepEmpty(p.get()), 1);

    EXPECT_EQ(AGrepInit(p.get()), 1);
    const QuarnApproxBody &a = p->body.approx;
    EXPECT_EQ(p->errorCode, 1);
    EXPECT_EQ(p->option, 1);
    EXPECT_EQ(a.searchMode, -1);
    EXPECT_EQ(a.fieldWidth, -1);
    EXPECT_EQ(a.totalBits, -1);
    EXPECT_EQ(a.charMask[7].holdsStorage, 1);
    EXPECT_EQ(a.charMask[7].bitCount, 1);
    EXPECT_EQ(a.valueMask.holdsStorage, 0);
    EXPECT_EQ(a.scratch.holdsStorage, 0);

    // Bit-parallel, then exact, then bit-parallel again on one record: the
    // storage is replaced, and AGrepEmpty releases everything (the leak
    // checker fails the test otherwise).
    ASSERT_EQ(CompileAGrep("needle", 2, 0, p.get()), 0);
    EXPECT_EQ(AGrep("a neadle", p.get()), 1);
    ASSERT_EQ(CompileAGrep("needle", 0, 0, p.get()), 0);
    EXPECT_EQ(a.searchMode, 2);
    EXPECT_EQ(AGrep("NEEDLE needle", p.get()), 2);
    ASSERT_EQ(CompileAGrep("needles", 5, 1, p.get()), 0);
    EXPECT_EQ(a.searchMode, 0);
    EXPECT_EQ(AGrepEmpty(p.get()), 1);
    EXPECT_EQ(a.valueMask.holdsStorage, 0);
    EXPECT_EQ(a.charMask[200].holdsStorage, 0);
    EXPECT_EQ(AGrep("needles", p.get()), -1) << "emptied";
    EXPECT_EQ(AGrepEmpty(p.get()), 1) << "emptying twice is harmless";
    EXPECT_EQ(AGrepEmpty(nullptr), 1);
    EXPECT_EQ(AGrepInit(nullptr), 1);

    // Exact mode after a bit-parallel compile keeps the old vectors; they
    // must still be released.
    AGrepInit(p.get());
    ASSERT_EQ(CompileAGrep("abcdef", 1, 1, p.get()), 0);
    ASSERT_EQ(CompileAGrep("abcdef", 0, 1, p.get()), 0);
    EXPECT_EQ(a.counterState.holdsStorage, 1);
    EXPECT_EQ(AGrepEmpty(p.get()), 1);
    EXPECT_EQ(a.counterState.holdsStorage, 0);
}

TEST(AGrep, ErrorCountsOutsideTheRangeAreClamped)
{
    ApproxRecord r;
    ASSERT_EQ(CompileAGrep("abc", -3, 1, r.get()), 0);
    EXPECT_EQ(r.get()->body.approx.searchMode, 2) << "negative counts as 0: exact search";
    EXPECT_EQ(AGrep("abd abc", r.get()), 1);
    ASSERT_EQ(CompileAGrep("abc", 1000, 1, r.get()), 0);
    EXPECT_EQ(r.get()->body.approx.fieldWidth, 1) << "above the length counts as the length";
    EXPECT_EQ(AGrep("xyzw", r.get()), 4);
    ASSERT_EQ(CompileAGrep("abc", INT32_MIN, 1, r.get()), 0);
    ASSERT_EQ(CompileAGrep("abc", INT32_MAX, 1, r.get()), 0);
    EXPECT_EQ(AGrep("x", r.get()), 1);
}

TEST(AGrep, MoreThanTenMatchesAreCountedButTenRecorded)
{
    ApproxRecord r;
    const char *line = "ab ab ab ab ab ab ab ab ab ab ab ab ab";
    ASSERT_EQ(CompileAGrep("ab", 0, 1, r.get()), 0);
    EXPECT_EQ(AGrep(line, r.get()), 13);
    auto windows = Recorded(line, r.get());
    ASSERT_EQ(windows.size(), 10u);
    EXPECT_EQ(windows[9], (Window{27, 29}));
    ASSERT_EQ(CompileAGrep("ab", 1, 1, r.get()), 0);
    EXPECT_EQ(AGrep(line, r.get()), 13); // "b " and " a" differ in both positions
    EXPECT_EQ(Recorded(line, r.get()).size(), 10u);
    ASSERT_EQ(CompileAGrep("xb", 1, 1, r.get()), 0);
    EXPECT_EQ(AGrep(line, r.get()), 13); // now each "ab" ends an alignment with one error
    // A search that finds nothing clears the tables.
    EXPECT_EQ(AGrep("zzzz", r.get()), 0);
    EXPECT_TRUE(Recorded("zzzz", r.get()).empty());
}

// --- property test against a naive model -------------------------------

// Windows-1252 case pairs, written out independently of the library.
unsigned char RefUpper(unsigned char c)
{
    if (c >= 'a' && c <= 'z')
        return c - 32;
    if (c >= 0xE0 && c <= 0xFE && c != 0xF7)
        return c - 32;
    switch (c) {
    case 0x9A:
        return 0x8A;
    case 0x9C:
        return 0x8C;
    case 0x9E:
        return 0x8E;
    case 0xFF:
        return 0x9F;
    default:
        return c;
    }
}

unsigned char RefLower(unsigned char c)
{
    if (c >= 'A' && c <= 'Z')
        return c + 32;
    if (c >= 0xC0 && c <= 0xDE && c != 0xD7)
        return c + 32;
    switch (c) {
    case 0x8A:
        return 0x9A;
    case 0x8C:
        return 0x9C;
    case 0x8E:
        return 0x9E;
    case 0x9F:
        return 0xFF;
    default:
        return c;
    }
}

bool Agrees(unsigned char c, unsigned char p, bool caseSensitive)
{
    return caseSensitive ? c == p : (c == RefLower(p) || c == RefUpper(p));
}

struct Expected {
    int compile = 0; // 0 or 4
    int count = 0;
    std::vector<Window> windows;
};

Expected Reference(const std::string &pattern, int errors, bool caseSensitive, const std::string &line)
{
    Expected e;
    const int m = static_cast<int>(pattern.size());
    const int k = std::clamp(errors, 0, m);
    int limit = 0;
    bool countMismatches = true;
    if (k > 0) {
        countMismatches = 2 * k <= m;
        limit = countMismatches ? k : m - k;
        int c = 0;
        while ((1 << c) < limit + 1)
            ++c;
        if ((c + 1) * m >= 512) {
            e.compile = 4;
            return e;
        }
    }
    const int n = static_cast<int>(line.size());
    for (int i = 0; i < n; ++i) {
        // Pattern position j lies on line byte i - (m - 1) + j.
        int agree = 0, differ = 0;
        for (int j = 0; j < m; ++j) {
            int at = i - (m - 1) + j;
            if (at >= 0 &&
                Agrees(static_cast<unsigned char>(line[at]), static_cast<unsigned char>(pattern[j]), caseSensitive))
                ++agree;
            else
                ++differ;
        }
        // Counting mismatches, an alignment that begins before the line never
        // matches; counting agreements, its missing positions just disagree.
        bool match = (k == 0 || countMismatches) ? (i >= m - 1 && differ <= k) : agree >= m - k;
        if (!match)
            continue;
        if (e.count < 10)
            e.windows.push_back({std::max(0, i - (m - 1)), i + 1});
        ++e.count;
    }
    return e;
}

std::string RandomText(std::mt19937 &rng, int length)
{
    // Mostly a small alphabet with case pairs (ASCII, Latin-1 and the
    // Windows-1252 extras) so that matches are frequent; sometimes any byte.
    static const unsigned char kAlphabet[] = {'a',  'b',  'A',  'B',  'c',  0xE9, 0xC9, 0xFF,
                                              0x9F, 0x9A, 0x8A, 0xDF, 0xF7, 0xD7, ' '};
    std::uniform_int_distribution<int> pick(0, sizeof kAlphabet - 1);
    std::uniform_int_distribution<int> any(1, 255);
    std::uniform_int_distribution<int> percent(0, 99);
    std::string s;
    for (int i = 0; i < length; ++i)
        s.push_back(static_cast<char>(percent(rng) < 90 ? kAlphabet[pick(rng)] : any(rng)));
    return s;
}

TEST(AGrepProperty, AgreesWithNaiveHammingModel)
{
    std::mt19937 rng(20261207);
    std::uniform_int_distribution<int> percent(0, 99);
    ApproxRecord r;
    QuarnMessages(0);
    int modes[3] = {0, 0, 0};
    int matched = 0;
    for (int iteration = 0; iteration < 6000; ++iteration) {
        int m;
        int roll = percent(rng);
        if (roll < 70)
            m = std::uniform_int_distribution<int>(1, 8)(rng);
        else if (roll < 95)
            m = std::uniform_int_distribution<int>(9, 70)(rng);
        else
            m = std::uniform_int_distribution<int>(71, 260)(rng);
        std::string pattern = RandomText(rng, m);
        if (pattern.find('\0') != std::string::npos)
            continue;
        int errors = std::uniform_int_distribution<int>(0, m)(rng);
        if (percent(rng) < 3)
            errors = percent(rng) < 50 ? -2 : m + 3;
        const bool caseSensitive = percent(rng) < 50;
        // Lines often contain a copy of the pattern with a few changes.
        std::string line = RandomText(rng, std::uniform_int_distribution<int>(0, 40)(rng));
        if (percent(rng) < 60) {
            std::string planted = pattern;
            for (char &c : planted)
                if (percent(rng) < 20)
                    c = static_cast<char>(RandomText(rng, 1)[0]);
            line.insert(std::uniform_int_distribution<size_t>(0, line.size())(rng), planted);
            line += RandomText(rng, std::uniform_int_distribution<int>(0, 20)(rng));
        }

        const Expected want = Reference(pattern, errors, caseSensitive, line);
        const int code = CompileAGrep(pattern.c_str(), errors, caseSensitive ? 1 : 0, r.get());
        ASSERT_EQ(code, want.compile) << "pattern length " << m << " errors " << errors;
        if (code != 0) {
            EXPECT_EQ(AGrep(line.c_str(), r.get()), -1);
            continue;
        }
        ++modes[r.get()->body.approx.searchMode];
        const int got = AGrep(line.c_str(), r.get());
        ASSERT_EQ(got, want.count) << "iteration " << iteration << " pattern '" << ::testing::PrintToString(pattern)
                                   << "' errors " << errors << " case " << caseSensitive << " line '"
                                   << ::testing::PrintToString(line) << "'";
        ASSERT_EQ(Recorded(line.c_str(), r.get()), want.windows) << "iteration " << iteration;
        for (int i = std::min(got, 10); i < QUARN_MAX_TAGS; ++i)
            ASSERT_EQ(r.get()->matchEnd[i], nullptr);
        matched += got > 0;
    }
    QuarnMessages(1);
    // The generator must have exercised every mode and found matches.
    EXPECT_GT(modes[0], 500);
    EXPECT_GT(modes[1], 500);
    EXPECT_GT(modes[2], 200);
    EXPECT_GT(matched, 1500);
}

TEST(AGrep, CaseInsensitiveUsesTheWesternCodePage)
{
    struct {
        const char *pattern;
        int errors;
        const char *line;
        int count;
    } const cases[] = {
        {"\xe9t\xe9", 0, "\xc9T\xc9", 1}, // e acute pairs with E acute
        {"\xe9t\xe9", 1, "x\xc9T\xc9", 1},
        {"\xff", 0, "\x9f", 1},     // y diaeresis / Y diaeresis
        {"\x9a", 0, "\x8a\x9a", 2}, // s caron
        {"\xdf", 0, "SS\xdf", 1},   // sharp s has no other form
        {"\xf7", 0, "\xd7", 0},     // division and multiplication signs
        {"\xd7", 0, "\xf7\xd7", 1},
    };
    for (const auto &c : cases) {
        ApproxRecord r;
        ASSERT_EQ(CompileAGrep(c.pattern, c.errors, 0, r.get()), 0);
        EXPECT_EQ(AGrep(c.line, r.get()), c.count) << c.pattern << " in " << c.line;
    }
}

TEST(AGrep, ExactModeRecordsPositionsInTheCallersLine)
{
    ApproxRecord r;
    const char line[] = "xx ABC abc";
    ASSERT_EQ(CompileAGrep("abc", 0, 0, r.get()), 0);
    EXPECT_STREQ(r.get()->body.approx.exactText, "ABC");
    EXPECT_STREQ(r.get()->patternText, "abc");
    EXPECT_EQ(AGrep(line, r.get()), 2);
    EXPECT_EQ(r.get()->matchStart[0], line + 3);
    EXPECT_EQ(r.get()->matchEnd[1], line + 10);
    EXPECT_STREQ(line, "xx ABC abc") << "the line is not upper-cased in place";
}

} // namespace

// Lines without any intact piece of the pattern skip the bit-parallel pass
// (k + 1 pieces, at least one survives k differences).  Patterns and error
// counts where that filter applies, with lines that often hold pieces or
// near-copies, must still agree with the naive model.
TEST(AGrepProperty, PieceFilterNeverHidesAMatch)
{
    std::mt19937 rng(77);
    std::uniform_int_distribution<int> percent(0, 99);
    ApproxRecord r;
    QuarnMessages(0);
    int matched = 0;
    for (int iteration = 0; iteration < 4000; ++iteration) {
        const int m = std::uniform_int_distribution<int>(4, 24)(rng);
        const int errors = std::uniform_int_distribution<int>(1, std::min(3, m / 2))(rng);
        std::string pattern = RandomText(rng, m);
        if (pattern.find('\0') != std::string::npos)
            continue;
        const bool caseSensitive = percent(rng) < 50;
        std::string line = RandomText(rng, std::uniform_int_distribution<int>(0, 30)(rng));
        const int pieces = errors + 1;
        const int length = m / pieces;
        if (percent(rng) < 50) {
            // Plant one piece, or a copy with a few bytes changed.
            const int q = std::uniform_int_distribution<int>(0, pieces - 1)(rng);
            std::string planted = percent(rng) < 50
                ? pattern.substr(static_cast<size_t>(q * length), static_cast<size_t>(length))
                : pattern;
            for (char &c : planted)
                if (percent(rng) < 15)
                    c = static_cast<char>(RandomText(rng, 1)[0]);
            line.insert(std::uniform_int_distribution<size_t>(0, line.size())(rng), planted);
        }
        if (line.find('\0') != std::string::npos)
            continue;
        const Expected want = Reference(pattern, errors, caseSensitive, line);
        ASSERT_EQ(CompileAGrep(pattern.c_str(), errors, caseSensitive ? 1 : 0, r.get()), 0);
        const int got = AGrep(line.c_str(), r.get());
        ASSERT_EQ(got, want.count) << "pattern '" << ::testing::PrintToString(pattern) << "' errors " << errors
                                   << " line '" << ::testing::PrintToString(line) << "'";
        ASSERT_EQ(Recorded(line.c_str(), r.get()), want.windows);
        matched += got > 0;
    }
    QuarnMessages(1);
    EXPECT_GT(matched, 500);
}
