// Regular-expression matcher: match positions as offsets for each element
// and repeater rule, tags and back references, line separators, and the
// word-character table.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "rgrep_program.h"
#include "test_support.h"

using quarn::rgrep::kHFlags;
using quarn::rgrep::kHintOffset;
using quarn::rgrep::kHintPlan;

using quarn_test::Offset;

namespace {

struct MatchCase {
    const char *pattern;
    int caseFlag;
    int options; // the options word during the match (messages off)
    const char *text;
    int result;
    long start; // -1: no match recorded
    long end;
};

const MatchCase kMatches[] = {
    // literals
    {"abc", 0, 0, "xxABCxx", 1, 2, 5},
    {"abc", 1, 0, "xxABCxx", 0, -1, -1},
    {"abc", 1, 0, "xxabcxx", 1, 2, 5},
    {"abc", 0, 0, "ab", 0, -1, -1},
    {"a{2}", 1, 0, "xa{2}", 1, 1, 5},
    {"foo&&bar", 0, 0, "FOO&&BAR!", 1, 0, 8},
    {"\xe9t\xe9", 0, 0, "\xc9T\xc9 \xe9T\xe9", 1, 4, 7}, // only ASCII letters fold
    // anchors
    {"a$", 0, 0, "a", 1, 0, 1},
    {"a$", 0, 0, "ba", 1, 1, 2},
    {"a$", 0, 0, "ab", 0, -1, -1},
    {"^a", 0, 0, "ba", 0, -1, -1},
    {"^", 0, 0, "", 1, 0, 0},
    {"$", 0, 0, "abc", 1, 3, 3},
    // alternatives: leftmost start, then first alternative in order
    {"a|b", 0, 0, "a", 1, 0, 1},
    {"ab|a", 0, 0, "ab", 1, 0, 2},
    {"a|ab", 0, 0, "ab", 1, 0, 1},
    {"x|b", 0, 0, "abx", 1, 1, 2},
    {"|a", 0, 0, "a", 1, 0, 0},
    {"q|", 0, 0, "a", 1, 0, 0},
    // repeaters
    {"ab*", 0, 0, "abbb", 1, 0, 1},
    {"ab*c", 0, 0, "abbbc", 1, 0, 5},
    {"ab*|z", 0, 0, "abbb", 1, 0, 4}, // followed by BRANCH: not the final END
    {"xa*y", 0, 0, "XAAAY", 1, 0, 5},
    {"xa*", 0, 0, "XAAA", 1, 0, 1},
    {"x*", 0, 0, "", 1, 0, 0},
    {"a+b", 1, 0, "caaab", 1, 1, 5},
    {"a+b", 1, 0, "cb", 0, -1, -1},
    {"a.*b", 0, 0, "axbxb", 1, 0, 3},
    {"a.*$", 0, 0, "axbxb", 1, 0, 5},
    {"a.*", 0, 0, "axbxb", 1, 0, 1},
    {"[0-9]+x", 0, 0, "a123x", 1, 1, 5},
    {"[^a]*b", 0, 0, "aaxxb", 1, 2, 5},
    {"colou-r", 0, 0, "color", 1, 0, 5},
    {"colou-r", 0, 0, "colour", 1, 0, 6},
    {"a.-b", 0, 0, "ab", 1, 0, 2},
    {"a.-b", 0, 0, "axb", 1, 0, 3},
    {"a.-b", 0, 0, "axxb", 0, -1, -1},
    {"a[xy]-c", 0, 0, "ayc", 1, 0, 3},
    {"a-$", 0, 0, "a", 1, 0, 1}, // the operand is tried first, then R after it
    {"ba-c", 0, 0, "bc", 1, 0, 2},
    // classes and ANY never consume the terminating NUL
    {"x[^a]", 0, 0, "x", 0, -1, -1},
    {".[^a]", 0, 0, "x", 0, -1, -1},
    {"x.", 0, 0, "x", 0, -1, -1},
    {"x[\\x]", 0, 0, "x", 0, -1, -1},
    {"[A-Z]", 0, 0, "abc", 0, -1, -1}, // class members compare exactly
    {"[a-z][A-Z]", 1, 0, "aB", 1, 0, 2},
    // escapes
    {"a\\tb", 0, 0, "xa\tb", 1, 1, 4},
    {"\\x41", 0, 0, "a", 0, -1, -1},
    {"\\x41", 0, 0, "A", 1, 0, 1},
    {"\\.c", 0, 0, "abc.c", 1, 3, 5},
    {"a\\", 0, 0, "xa\\", 1, 1, 3},
    // line separators move the line start only
    {"^b", 0, 0, "a\nb", 0, -1, -1},
    {"^b", 0, QUARN_OPT_LF, "a\nb", 1, 2, 3},
    {"^b", 0, QUARN_OPT_CR, "a\nb", 0, -1, -1},
    {"^b", 0, QUARN_OPT_CR, "a\rb", 1, 2, 3},
    {"a$", 0, 0, "a\nb", 0, -1, -1},
    {"a$", 0, QUARN_OPT_LF, "a\nb", 1, 0, 1},
    {"a$", 0, QUARN_OPT_CR, "a\r\nb", 1, 0, 1},
    {"a.b", 0, 0, "a\nb", 1, 0, 3},
    {"a.b", 0, QUARN_OPT_LF | QUARN_OPT_CR, "a\nb", 1, 0, 3},
    {"a[^x]b", 0, QUARN_OPT_LF, "a\nb", 1, 0, 3},
    {"\\<b", 0, QUARN_OPT_LF, "a\nb", 1, 2, 3},
    // word boundaries with the default table
    {"\\<ab\\>", 0, 0, "ab cd", 1, 0, 2},
    {"\\<ab\\>", 0, 0, "cab", 0, -1, -1},
    {"\\<ab\\>", 0, 0, "x ab-y", 1, 2, 4},
    {"\\<ab\\>", 0, 0, "x_ab", 0, -1, -1},
    {"\\>", 0, 0, "ab", 1, 2, 2},
    {"\\<", 0, 0, "  ab", 1, 2, 2},
    {"\\<\xe9", 0, 0, "\xe9", 0, -1, -1},
    // tags and back references
    {"\\(a\\)\\1", 0, 0, "aa", 1, 0, 2},
    {"\\(a\\)\\1", 0, 0, "xaba", 0, -1, -1},
    {"\\([a-z]*\\)=\\1", 1, 0, "key=key", 1, 0, 7},
    {"\\(a*\\)b\\1", 1, 0, "aabaa", 1, 0, 5},
    {"\\(A\\)\\1", 0, 0, "Aa", 0, -1, -1},      // back references compare exact case
    {"x\\(y\\)|\\1z", 1, 0, "z", 1, 0, 1},      // tag 1 never set in this call: empty
    {"\\(a\\(b\\1\\)\\)", 1, 0, "ab", 1, 0, 2}, // reference to an open tag: not ended yet, empty
};

TEST(RGrep, MatchPositions)
{
    for (const auto &c : kMatches) {
        auto p = quarn_test::NewPattern();
        QuarnOptions(0);
        ASSERT_EQ(CompileRGrep(c.pattern, c.caseFlag, p.get()), 0) << c.pattern;
        QuarnOptions(c.options);
        const std::string text = c.text;
        EXPECT_EQ(RGrep(text.c_str(), p.get()), c.result) << c.pattern << " on \"" << c.text << '"';
        EXPECT_EQ(Offset(text.c_str(), p->matchStart[0]), c.start) << c.pattern << " on \"" << c.text << '"';
        EXPECT_EQ(Offset(text.c_str(), p->matchEnd[0]), c.end) << c.pattern << " on \"" << c.text << '"';
    }
    QuarnOptions(QUARN_OPT_MESSAGES);
}

TEST(RGrep, TagPositions)
{
    auto p = quarn_test::NewPattern();
    const char *text = "xaay";
    ASSERT_EQ(CompileRGrep("\\(a\\)\\1", 0, p.get()), 0);
    ASSERT_EQ(RGrep(text, p.get()), 1);
    EXPECT_EQ(Offset(text, p->matchStart[1]), 1);
    EXPECT_EQ(Offset(text, p->matchEnd[1]), 2);

    const char *kv = "name=value";
    ASSERT_EQ(CompileRGrep("\\([a-z]*\\)=\\([a-z]*\\)", 1, p.get()), 0);
    ASSERT_EQ(RGrep(kv, p.get()), 1);
    EXPECT_EQ(Offset(kv, p->matchStart[1]), 0);
    EXPECT_EQ(Offset(kv, p->matchEnd[1]), 4);
    EXPECT_EQ(Offset(kv, p->matchStart[2]), 5);
    EXPECT_EQ(Offset(kv, p->matchEnd[2]), 10);
    EXPECT_EQ(p->matchStart[3], nullptr);
}

TEST(RGrep, EndTagsSurviveFromEarlierCallsButStartsAreCleared)
{
    auto p = quarn_test::NewPattern();
    const char *first = "ab";
    ASSERT_EQ(CompileRGrep("a\\(b\\)", 1, p.get()), 0);
    ASSERT_EQ(RGrep(first, p.get()), 1);
    const char *end1 = p->matchEnd[1];
    ASSERT_EQ(Offset(first, end1), 2);
    EXPECT_EQ(RGrep("zz", p.get()), 0);
    EXPECT_EQ(p->matchStart[0], nullptr);
    EXPECT_EQ(p->matchEnd[0], nullptr);
    EXPECT_EQ(p->matchStart[1], nullptr);
    EXPECT_EQ(p->matchEnd[1], end1);
}

TEST(RGrep, StaleTagFromAnotherTextIsAnEmptyReference)
{
    // Tag 1 is set only in the first alternative; on a later text the second
    // alternative refers to it while matchEnd[1] still points into the old
    // text.  The reference must count as empty, never read the old text.
    auto p = quarn_test::NewPattern();
    ASSERT_EQ(CompileRGrep("q\\(x\\)|a\\1b", 1, p.get()), 0);
    std::string old = "qx";
    ASSERT_EQ(RGrep(old.c_str(), p.get()), 1);
    const char *text = "zab";
    EXPECT_EQ(RGrep(text, p.get()), 1);
    EXPECT_EQ(Offset(text, p->matchStart[0]), 1);
    EXPECT_EQ(Offset(text, p->matchEnd[0]), 3);
}

TEST(RGrep, RefusedRecordsAndNullArguments)
{
    auto p = quarn_test::NewPattern();
    QuarnMessages(0);
    CompileRGrep("\\(", 0, p.get());
    QuarnMessages(1);
    p->matchStart[0] = "untouched";
    EXPECT_EQ(RGrep("(", p.get()), -1);
    EXPECT_STREQ(p->matchStart[0], "untouched");
    EXPECT_EQ(RGrep("x", nullptr), -1);
    ASSERT_EQ(CompileRGrep("x", 0, p.get()), 0);
    EXPECT_EQ(RGrep(nullptr, p.get()), -1);
}

TEST(RGrep, RecordCopiedAfterCompileStillMatches)
{
    auto p = quarn_test::NewPattern();
    ASSERT_EQ(CompileRGrep("ab|c[0-9]+x", 0, p.get()), 0);
    auto copy = quarn_test::NewPattern();
    std::memcpy(copy.get(), p.get(), sizeof(QuarnPattern));
    std::memset(p.get(), 0xEE, sizeof(QuarnPattern)); // the original's program is gone
    const char *text = "xxC42x";
    EXPECT_EQ(RGrep(text, copy.get()), 1);
    EXPECT_EQ(Offset(text, copy->matchStart[0]), 2);
    EXPECT_EQ(Offset(text, copy->matchEnd[0]), 6);
}

TEST(RGrep, LongTextsNeedNoDeepRecursion)
{
    // Recursion depth follows the repeaters, not the text: a megabyte line
    // through several repeaters must not exhaust the stack.
    std::string text(1 << 20, 'a');
    text += "b";
    auto p = quarn_test::NewPattern();
    ASSERT_EQ(CompileRGrep("a*[a-c]*b", 1, p.get()), 0);
    EXPECT_EQ(RGrep(text.c_str(), p.get()), 1);
    EXPECT_EQ(Offset(text.c_str(), p->matchEnd[0]), static_cast<long>(text.size()));
    ASSERT_EQ(CompileRGrep("x.*y", 1, p.get()), 0);
    std::string many(3000, 'x');
    EXPECT_EQ(RGrep(many.c_str(), p.get()), 0);
}

// Literal search agrees with a naive scan on random texts, at every
// alignment to the 16-byte blocks of the vector scan.  '@' and '`' differ
// from each other only in bit 0x20, like the two forms of a letter.
TEST(RGrep, LiteralPathAgreesWithNaiveSearch)
{
    std::mt19937 rng(7);
    auto p = quarn_test::NewPattern();
    const char letters[] = "aAbB_@`\xe1\xc1";
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    std::vector<char> buffer(128);
    int found = 0;
    for (int iter = 0; iter < 20000; ++iter) {
        std::string needle, hay;
        // Up to six bytes, so that the scan's pair is not always the first.
        for (int i = 0, n = 1 + rng() % 6; i < n; ++i)
            needle += letters[rng() % (sizeof letters - 1)];
        for (int i = 0, n = rng() % 70; i < n; ++i)
            hay += letters[rng() % (sizeof letters - 1)];
        const int caseFlag = rng() % 2;
        ASSERT_EQ(CompileRGrep(needle.c_str(), caseFlag, p.get()), 0);
        long expected = -1;
        for (size_t s = 0; s + needle.size() <= hay.size() && expected < 0; ++s) {
            bool eq = true;
            for (size_t k = 0; k < needle.size() && eq; ++k)
                eq = caseFlag ? hay[s + k] == needle[k] : lower(hay[s + k]) == lower(needle[k]);
            if (eq)
                expected = static_cast<long>(s);
        }
        char *text = buffer.data() + rng() % 32;
        std::memcpy(text, hay.c_str(), hay.size() + 1);
        ASSERT_EQ(RGrep(text, p.get()), expected >= 0 ? 1 : 0) << needle << " in " << hay;
        ASSERT_EQ(Offset(text, p->matchStart[0]), expected) << needle << " in " << hay;
        if (expected >= 0) {
            ++found;
            ASSERT_EQ(Offset(text, p->matchEnd[0]), expected + static_cast<long>(needle.size()));
        }
    }
    EXPECT_GT(found, 3000);
}

TEST(WordTable, ChangesApplyAtMatchTimeUntilReset)
{
    auto p = quarn_test::NewPattern();
    ASSERT_EQ(CompileRGrep("\\<ab\\>", 0, p.get()), 0);
    EXPECT_EQ(RGrep("x ab-y", p.get()), 1);

    AddWordChar("-");
    EXPECT_EQ(RGrep("x ab-y", p.get()), 0);
    InitWordCharTable();
    EXPECT_EQ(RGrep("x ab-y", p.get()), 1);

    ASSERT_EQ(CompileRGrep("\\<ab", 0, p.get()), 0);
    EXPECT_EQ(RGrep("x_ab", p.get()), 0);
    RemoveWordChar("_");
    EXPECT_EQ(RGrep("x_ab", p.get()), 1);
    InitWordCharTable();

    ASSERT_EQ(CompileRGrep("\\<\xe9t\xe9\\>", 1, p.get()), 0);
    EXPECT_EQ(RGrep("l'\xe9t\xe9!", p.get()), 0);
    AddWordChar("\xe9\xe9");
    EXPECT_EQ(RGrep("l'\xe9t\xe9!", p.get()), 1);
    RemoveWordChar("");
    AddWordChar(nullptr);
    RemoveWordChar(nullptr);
    EXPECT_EQ(RGrep("l'\xe9t\xe9!", p.get()), 1);
    InitWordCharTable();
    EXPECT_EQ(RGrep("l'\xe9t\xe9!", p.get()), 0);
}

TEST(WordTable, DefaultSetIsDigitsLettersAndUnderscore)
{
    auto p = quarn_test::NewPattern();
    InitWordCharTable();
    ASSERT_EQ(CompileRGrep("\\<.", 1, p.get()), 0);
    int members = 0;
    for (int c = 1; c < 256; ++c) {
        char text[2] = {static_cast<char>(c), 0};
        const bool word = RGrep(text, p.get()) == 1;
        members += word;
        EXPECT_EQ(word, (c < 128 && isalnum(c)) || c == '_') << c;
    }
    EXPECT_EQ(members, 63);
}

} // namespace

namespace {

// Random patterns built from the dialect's constructs.
std::string RandomPattern(std::mt19937 &rng)
{
    static const char *const atoms[] = {"a",   "b",   "A",   "x", ".", "[ab]", "[^a]", "[a-c]", "\\n", "\\<", "\\>",
                                        "\\(", "\\)", "\\1", "^", "$", "|",    "*",    "+",     "-",   "\\.", "\\x41"};
    std::string pattern;
    const int n = 1 + static_cast<int>(rng() % 7);
    for (int i = 0; i < n; ++i)
        pattern += atoms[rng() % (sizeof atoms / sizeof *atoms)];
    return pattern;
}

// Alternatives of plain elements (characters, classes, `.`), perhaps
// anchored or ending in a repeater: the run plan's shapes and their near
// misses.
std::string RandomRun(std::mt19937 &rng)
{
    static const char *const atoms[] = {"a",    "b",     "A",   "x",   ".", "[ab]", "[^a]", "[a-c]",
                                        "[aA]", "[xX-]", "\\.", "\\n", "-", "c",    "B"};
    std::string pattern;
    const int alternatives = 1 + static_cast<int>(rng() % 3);
    for (int a = 0; a < alternatives; ++a) {
        if (a > 0)
            pattern += '|';
        if (rng() % 6 == 0)
            pattern += '^';
        for (int i = 0, n = 1 + static_cast<int>(rng() % 6); i < n; ++i)
            pattern += atoms[rng() % (sizeof atoms / sizeof *atoms)];
    }
    static const char *const tails[] = {"", "", "", "$", "*", "+", "-"};
    pattern += tails[rng() % (sizeof tails / sizeof *tails)];
    return pattern;
}

} // namespace

// The compiler's scan hints only skip positions where nothing can begin: a
// record whose hints are wiped (forcing the position-by-position walk) must
// give the same results and positions on random patterns and texts.
TEST(RGrep, ScanHintsNeverChangeTheResult)
{
    QuarnMessages(0);
    std::mt19937 rng(2024);
    const char letters[] = "aAbBx.\n\r -_c\xe1\xc1";
    auto hinted = quarn_test::NewPattern();
    auto plain = quarn_test::NewPattern();
    int compared = 0;
    int withHints = 0; // records that carry a scan summary
    int withPlans = 0; // ... and a run plan
    for (int iter = 0; iter < 60000; ++iter) {
        // A third of the patterns are runs of plain elements, the shapes
        // that get a run plan.
        const std::string pattern = iter % 3 == 0 ? RandomRun(rng) : RandomPattern(rng);
        const int caseFlag = static_cast<int>(rng() % 2);
        if (CompileRGrep(pattern.c_str(), caseFlag, hinted.get()) != 0)
            continue;
        const bool marked = hinted->body.regex.branchCount < QUARN_MAX_BRANCHES &&
            hinted->body.regex.branchStart[QUARN_MAX_BRANCHES - 1] == hinted->body.regex.program + kHintOffset;
        withHints += marked;
        withPlans += marked && (hinted->body.regex.program[kHintOffset + kHFlags] & kHintPlan);
        // The same program without its summary (the marker cleared; a long
        // program owns the bytes where a summary would be).
        std::memcpy(plain.get(), hinted.get(), sizeof(QuarnPattern));
        if (plain->body.regex.branchCount < QUARN_MAX_BRANCHES)
            plain->body.regex.branchStart[QUARN_MAX_BRANCHES - 1] = nullptr;
        static const int optionChoices[] = {0, QUARN_OPT_LF, QUARN_OPT_CR | QUARN_OPT_LF};
        QuarnOptions(optionChoices[rng() % 3]);
        for (int t = 0; t < 4; ++t) {
            // Long texts cross the 16-byte blocks of the vector scan.
            std::string text;
            for (int i = 0, n = static_cast<int>(rng() % (t < 2 ? 20 : 70)); i < n; ++i)
                text += letters[rng() % (sizeof letters - 1)];
            const int a = RGrep(text.c_str(), hinted.get());
            const int b = RGrep(text.c_str(), plain.get());
            ASSERT_EQ(a, b) << pattern << " on " << text;
            for (int n = 0; n < QUARN_MAX_TAGS; ++n) {
                ASSERT_EQ(Offset(text.c_str(), hinted->matchStart[n]), Offset(text.c_str(), plain->matchStart[n]))
                    << pattern << " on " << text << " tag " << n;
                if (hinted->matchStart[n] != nullptr) {
                    ASSERT_EQ(Offset(text.c_str(), hinted->matchEnd[n]), Offset(text.c_str(), plain->matchEnd[n]))
                        << pattern << " on " << text << " tag " << n;
                }
            }
            ++compared;
        }
        QuarnOptions(0);
    }
    EXPECT_GT(compared, 75000);
    EXPECT_GT(withHints, 2000);
    EXPECT_GT(withPlans, 5000);
    QuarnOptions(QUARN_OPT_MESSAGES);
}

// Nested repeaters once took n^k steps: "x.*.*.*.*.*7" against a line with
// no 7 ran for minutes.  Failures are now remembered, so these finish.
TEST(RGrep, NestedRepeatersDoNotBacktrackExponentially)
{
    auto p = quarn_test::NewPattern();
    std::string line(1000, 'x');
    ASSERT_EQ(CompileRGrep(".*.*.*.*.*7", 1, p.get()), 0);
    EXPECT_EQ(RGrep(line.c_str(), p.get()), 0);
    line += '7';
    EXPECT_EQ(RGrep(line.c_str(), p.get()), 1);
    EXPECT_EQ(Offset(line.c_str(), p->matchStart[0]), 0);
    EXPECT_EQ(Offset(line.c_str(), p->matchEnd[0]), 1001);

    ASSERT_EQ(CompileRGrep("x*x*x*x*x*x*y", 1, p.get()), 0);
    EXPECT_EQ(RGrep(std::string(600, 'x').c_str(), p.get()), 0);
    ASSERT_EQ(CompileRGrep("[a-z]*[a-z]*[a-z]*[a-z]*$", 1, p.get()), 0);
    std::string letters(800, 'q');
    letters += '!';
    EXPECT_EQ(RGrep(letters.c_str(), p.get()), 1); // the empty match at the end
    EXPECT_EQ(Offset(letters.c_str(), p->matchStart[0]), 801);

    // With line separators the memo is reset whenever the line start moves.
    QuarnOptions(QUARN_OPT_LF);
    ASSERT_EQ(CompileRGrep("^a.*.*.*.*b", 1, p.get()), 0);
    std::string lines;
    for (int i = 0; i < 20; ++i)
        lines += std::string(50, 'a') + "\n";
    EXPECT_EQ(RGrep(lines.c_str(), p.get()), 0);
    lines += "ab";
    EXPECT_EQ(RGrep(lines.c_str(), p.get()), 1);
    // `.` also matches the line feeds, so the first line's start wins.
    EXPECT_EQ(Offset(lines.c_str(), p->matchStart[0]), 0);
    EXPECT_EQ(Offset(lines.c_str(), p->matchEnd[0]), static_cast<long>(lines.size()));
    QuarnOptions(QUARN_OPT_MESSAGES);
}

// The failure memo must never change a result.  A tag around the last
// character turns the memo off without changing what matches, so the two
// programs are compared on random patterns and long random lines.
TEST(RGrep, FailureMemoNeverChangesTheResult)
{
    QuarnMessages(0);
    std::mt19937 rng(99);
    static const char *const atoms[] = {"x", "y", ".", "[xy]", "[^7]", "*", "+", "-", ".*", "x*", "$"};
    auto memo = quarn_test::NewPattern();
    auto plain = quarn_test::NewPattern();
    int compared = 0, matched = 0;
    for (int iter = 0; iter < 400; ++iter) {
        // At most two repeaters keep the memo-less side polynomial.
        std::string body;
        int repeaters = 0;
        for (int i = 0, n = 3 + static_cast<int>(rng() % 8); i < n; ++i) {
            const std::string atom = atoms[rng() % (sizeof atoms / sizeof *atoms)];
            const bool repeats = atom.find_first_of("*+-") != std::string::npos;
            if (repeats && repeaters == 2)
                continue;
            repeaters += repeats;
            body += atom;
        }
        if (CompileRGrep((body + "7").c_str(), 1, memo.get()) != 0 ||
            CompileRGrep((body + "\\(7\\)").c_str(), 1, plain.get()) != 0)
            continue;
        for (int t = 0; t < 3; ++t) {
            std::string text;
            for (int i = 0, n = 120 + static_cast<int>(rng() % 150); i < n; ++i)
                text += "xy7"[rng() % 100 < 97 ? rng() % 2 : 2];
            const int a = RGrep(text.c_str(), memo.get());
            ASSERT_EQ(a, RGrep(text.c_str(), plain.get())) << body << " on " << text;
            ASSERT_EQ(Offset(text.c_str(), memo->matchStart[0]), Offset(text.c_str(), plain->matchStart[0])) << body;
            ASSERT_EQ(Offset(text.c_str(), memo->matchEnd[0]), Offset(text.c_str(), plain->matchEnd[0])) << body;
            ++compared;
            matched += a;
        }
    }
    QuarnMessages(1);
    EXPECT_GT(compared, 500);
    EXPECT_GT(matched, 100);
}

// A program longer than the scan summary's room once lost two of its own
// bytes to the summary's marker: the tab class at the end stopped matching.
TEST(RGrep, LongProgramsKeepEveryByte)
{
    auto p = quarn_test::NewPattern();
    std::string pattern;
    for (int i = 0; i < 30; ++i)
        pattern += "[a]";
    pattern += "[\\t]"; // its set bytes lie where a short program's summary would
    ASSERT_EQ(CompileRGrep(pattern.c_str(), 1, p.get()), 0);
    const std::string text = "x" + std::string(30, 'a') + "\t";
    EXPECT_EQ(RGrep(text.c_str(), p.get()), 1);
    EXPECT_EQ(Offset(text.c_str(), p->matchStart[0]), 1);
    EXPECT_EQ(RGrep((std::string(30, 'a') + " ").c_str(), p.get()), 0);
}
