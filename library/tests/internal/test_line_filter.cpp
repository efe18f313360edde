// The block filter of the file search: what it derives from compiled
// patterns, that every line the matcher accepts holds a candidate, and that
// the bulk scans agree with a byte-by-byte reading.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "line_filter.h"
#include "quarn32.h"

namespace lf = quarn::linefilter;

namespace {

std::string DescribeSet(const lf::ByteSet &set)
{
    if (set.Count() == 255)
        return "(any)";
    std::string members;
    for (int c = 1; c < 256;) {
        if (!set.Has(static_cast<unsigned char>(c))) {
            ++c;
            continue;
        }
        int end = c;
        while (end + 1 < 256 && set.Has(static_cast<unsigned char>(end + 1)))
            ++end;
        auto one = [](int b) {
            if (b > 0x20 && b < 0x7f)
                return std::string(1, static_cast<char>(b));
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02x", b);
            return std::string(hex);
        };
        members += one(c);
        if (end >= c + 2)
            members += "-";
        if (end > c)
            members += one(end);
        c = end + 1;
    }
    if (set.Count() == 1)
        return members;
    return "[" + members + "]";
}

// "none" for no filter, "never" for a filter that admits no line,
// otherwise the runs, one per usable alternative, joined by '|'.
std::string Describe(const char *pattern, int caseFlag, bool crLfToLf)
{
    QuarnPattern p{};
    QuarnMessages(0);
    CompileRGrep(pattern, caseFlag, &p);
    QuarnMessages(1);
    lf::LineFilter filter;
    if (!lf::Build(p, crLfToLf, filter))
        return "none";
    if (filter.runCount == 0)
        return "never";
    std::string out;
    for (int r = 0; r < filter.runCount; ++r) {
        if (r > 0)
            out += "|";
        for (int i = 0; i < filter.runs[r].length; ++i)
            out += DescribeSet(filter.runs[r].sets[i]);
    }
    return out;
}

TEST(LineFilterBuild, RequiredRunsOfEachAlternative)
{
    struct Case {
        const char *pattern;
        int caseFlag;
        bool crLfToLf;
        const char *expected;
    };
    const Case cases[] = {
        // literals, with and without letter case
        {"readme", 1, false, "readme"},
        {"readme", 0, false, "[Rr][Ee][Aa][Dd][Mm][Ee]"},
        {"a{2}", 1, false, "a{2}"},
        {"R2-D2", 0, false, "[2Rr][Dd]2"},
        // alternatives each give their own run
        {"foo|bar|toto", 1, false, "foo|bar|toto"},
        {"Foo|bar", 0, false, "[Ff][Oo][Oo]|[Bb][Aa][Rr]"},
        // anchors, word boundaries and tags consume nothing
        {"\\.zip$", 1, false, ".zip"},
        {"^W.n", 1, false, "W(any)n"},
        {"\\<qu\\>", 0, false, "[Qq][Uu]"},
        {"q\\(u\\)i", 1, false, "qui"},
        // a repeated element may be absent; the byte before what follows
        // is the repeated one or the one before the repeater
        {"[0-9]+x", 1, false, "[0-9]x"},
        {"x[0-9]*y", 1, false, "[0-9x]y"},
        {"q[0-9]-z", 1, false, "[0-9q]z"},
        {"jx*y*k", 1, false, "[jxy]k"},
        {"x*k", 1, false, "k"},
        {"jab*", 1, false, "ja"},
        // classes as written: never folded, never holding the NUL
        {"[Zz][^ -y]", 0, false, "[Zz][\\x01-\\x1fz-\\xff]"},
        {"q[^a-z]", 1, false, "q[\\x01-`{-\\xff]"},
        // a back reference consumes an unknown stretch
        {"\\(jk\\)q\\1vw", 1, false, "jkq"},
        // the line feed also stands for a carriage return dropped before it
        {"zq\\n", 1, false, "zq\\x0a"},
        {"zq\\n", 1, true, "zq[\\x0a\\x0d]"},
        {"zq[^a]", 1, true, "zq[\\x01-`b-\\xff]"},
        // runs longer than kept are cut; the rarer part is kept
        {"abcdefghijklmnopqrstu", 1, false, "abcdefghijklmnop"},
        // alternatives that can never match give no candidates
        {"\\x", 1, false, "never"},
        {"\\x|jq", 1, false, "jq"},
        {"a\\xk|jq", 1, false, "jq"},
        // no filter: empty alternatives, optional-only ones, errors, weak sets
        {"x*", 1, false, "none"},
        {"^", 1, false, "none"},
        {"jq|", 1, false, "none"},
        {"jq|k-", 1, false, "none"},
        {"\\(a\\)\\1", 1, false, "none"},
        {"[a", 1, false, "none"},
        {"e", 1, false, "none"},
        {"[a-z]", 1, false, "none"},
        {"t|h|e", 1, false, "none"},
        {".", 1, false, "none"},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(Describe(c.pattern, c.caseFlag, c.crLfToLf), c.expected)
            << "pattern " << c.pattern << " case " << c.caseFlag << " crlf " << c.crLfToLf;
    }
}

TEST(LineFilterBuild, RefusesRecordsItCannotTrust)
{
    QuarnPattern p{};
    ASSERT_EQ(CompileRGrep("jq|kz", 1, &p), 0);
    lf::LineFilter filter;
    ASSERT_TRUE(lf::Build(p, false, filter));
    EXPECT_EQ(filter.runCount, 2);

    // Alternatives that do not start where the program says.
    QuarnPattern moved = p;
    moved.body.regex.branchStart[1] = moved.body.regex.program + 1;
    EXPECT_FALSE(lf::Build(moved, false, filter));

    // More alternatives in the program than the matcher runs.
    QuarnPattern fewer = p;
    fewer.body.regex.branchCount = 1;
    EXPECT_FALSE(lf::Build(fewer, false, filter));

    // An element the matcher never produces.
    QuarnPattern odd = p;
    odd.body.regex.program[0] = 13;
    EXPECT_FALSE(lf::Build(odd, false, filter));

    // A program that never ends inside its area.
    QuarnPattern endless{};
    ASSERT_EQ(CompileRGrep("jq[0-9]", 1, &endless), 0);
    for (int i = 0; i < QUARN_PROGRAM_SIZE; ++i)
        endless.body.regex.program[i] = 16; // CHAR 16 CHAR 16 ...
    EXPECT_FALSE(lf::Build(endless, false, filter));

    // A record left in error by the compiler.
    QuarnPattern bad{};
    QuarnMessages(0);
    EXPECT_NE(CompileRGrep("\\(a", 1, &bad), 0);
    QuarnMessages(1);
    EXPECT_FALSE(lf::Build(bad, false, filter));
}

// Patterns from the elements the compiler knows, in random order.
std::string RandomPattern(std::mt19937 &rng)
{
    static const char *const pieces[] = {
        "a", "b", "k", "x", "0", "A",   "K",   ".",   "[a-c]", "[^ab]", "[0-9]", "\\n",   "\\r",    "\\x0d", "\\x", "^",
        "$", "*", "+", "-", "|", "\\(", "\\)", "\\1", "\\<",   "\\>",   " ",     "[\\n]", "[^\\n]", "ab",    "kx",  "q",
    };
    std::uniform_int_distribution<int> count(1, 7), pick(0, sizeof pieces / sizeof *pieces - 1);
    std::string p;
    for (int n = count(rng); n > 0; --n)
        p += pieces[pick(rng)];
    return p;
}

// Lines mostly of the pattern's own bytes, so that many of them match.
std::string RandomLine(std::mt19937 &rng, const std::string &pattern)
{
    static const char alphabet[] = "abkxqAK0129 \t\r.-y\xe9";
    std::uniform_int_distribution<int> length(0, 14), pick(0, sizeof alphabet - 2), anyByte(1, 255), coin(0, 19);
    std::string line;
    for (int n = length(rng); n > 0; --n) {
        const int c = coin(rng);
        line += c == 0 ? static_cast<char>(anyByte(rng))
            : c < 10   ? alphabet[pick(rng)]
                       : pattern[rng() % pattern.size()];
        if (c == 1) {
            // Texts that some fixed patterns below match only in part.
            static const char *const phrases[] = {"abak", "ababk", "x12y", "abbx", "kbx", "a\nx", "x\r\ny"};
            line += phrases[rng() % (sizeof phrases / sizeof *phrases)];
        }
    }
    return line;
}

// Soundness: whenever the matcher accepts a line, the filter finds a
// candidate inside it, whatever the line separators of the options word.
TEST(LineFilterBuild, EveryMatchedLineHoldsACandidate)
{
    std::mt19937 rng(7);
    QuarnMessages(0);
    int filtered = 0, matched = 0;
    for (int round = 0; round < 3000; ++round) {
        static const char *const fixed[] = {"ab*x", "a[0-9]*x", "\\(ab\\)\\1k", "a\\(b\\)\\1-x", "ka-b+x",
                                            "x.*y", "a\\nx",    "\\<a\\>k",     "^x[^a]-y$",     "\\(a\\)b\\1k"};
        const std::string pattern =
            round % 4 == 0 ? fixed[(round / 4) % (sizeof fixed / sizeof *fixed)] : RandomPattern(rng);
        const int caseFlag = static_cast<int>(rng() % 2);
        QuarnPattern p{};
        if (CompileRGrep(pattern.c_str(), caseFlag, &p) != 0)
            continue;
        lf::LineFilter filter;
        if (!lf::Build(p, false, filter))
            continue;
        ++filtered;
        for (int i = 0; i < 60; ++i) {
            QuarnOptions(static_cast<int32_t>(rng() % 4));
            std::string line = RandomLine(rng, pattern);
            if (rng() % 3 == 0)
                line += '\n';
            if (RGrep(line.c_str(), &p) != 1)
                continue;
            ++matched;
            const auto *b = reinterpret_cast<const unsigned char *>(line.data());
            ASSERT_NE(lf::FindCandidate(filter, b, b + line.size()), b + line.size())
                << "pattern '" << pattern << "' case " << caseFlag << " line '" << line << "'";
        }
    }
    QuarnOptions(8);
    QuarnMessages(1);
    // The generator must exercise the filter, not skip past it.
    EXPECT_GT(filtered, 300);
    EXPECT_GT(matched, 2000);
}

// A byte-by-byte reference of FindCandidate.
const unsigned char *SlowCandidate(const lf::LineFilter &f, const unsigned char *b, const unsigned char *e)
{
    for (const unsigned char *p = b; p < e; ++p)
        for (int r = 0; r < f.runCount; ++r) {
            const lf::Run &run = f.runs[r];
            if (e - p < run.length)
                continue;
            int i = 0;
            while (i < run.length && run.sets[i].Has(p[i]))
                ++i;
            if (i == run.length)
                return p;
        }
    return e;
}

TEST(LineFilterScan, FindCandidateAgreesWithAByteByByteScan)
{
    const char *const patterns[] = {"readme",   "RE[a-d]Me",     "foo|bar|toto", "[0-9]+x",   "q[^a-z]",   "zq\\n",
                                    "x[^ -~]y", "k.x|[A-C]b|q9", "\\x80\\xff",   "a\\(b\\)c", "a.....z|q9"};
    std::mt19937 rng(11);
    std::uniform_int_distribution<int> anyByte(0, 255), length(0, 300);
    int found = 0;
    for (const char *pattern : patterns)
        for (int caseFlag = 0; caseFlag < 2; ++caseFlag) {
            QuarnPattern p{};
            ASSERT_EQ(CompileRGrep(pattern, caseFlag, &p), 0) << pattern;
            lf::LineFilter filter;
            ASSERT_TRUE(lf::Build(p, caseFlag == 0, filter)) << pattern;
            for (int round = 0; round < 400; ++round) {
                // Mostly bytes of the pattern, so that runs do occur, at
                // every alignment and near the end of the buffer.
                std::vector<unsigned char> buffer(static_cast<size_t>(length(rng)));
                const size_t patternLength = std::strlen(pattern);
                for (auto &b : buffer)
                    b = rng() % 4 == 0
                        ? static_cast<unsigned char>(anyByte(rng))
                        : static_cast<unsigned char>(pattern[rng() % patternLength] ^ (rng() % 5 == 0 ? 0x20 : 0));
                const unsigned char *b = buffer.data(), *e = b + buffer.size();
                const unsigned char *expected = SlowCandidate(filter, b, e);
                found += expected != e;
                ASSERT_EQ(lf::FindCandidate(filter, b, e) - b, expected - b) << pattern << " round " << round;
            }
        }
    EXPECT_GT(found, 500);
}

TEST(LineFilterScan, WholeShortLinesCountsLikeTheReaders)
{
    struct Case {
        std::vector<int> lines; // lengths including the line end; -1: a piece without one
        bool nulEnds;
        size_t bytes;
        long count;
    };
    auto build = [](const Case &c, unsigned char end) {
        std::vector<unsigned char> out;
        for (int length : c.lines) {
            const int body = length < 0 ? -length : length - 1;
            out.insert(out.end(), static_cast<size_t>(body), 'z');
            if (length >= 0)
                out.push_back(end);
        }
        return out;
    };
    const Case cases[] = {
        {{}, false, 0, 0},
        {{1, 1, 1}, false, 3, 3},
        {{5, -3}, false, 5, 1},        // the unfinished last line stays
        {{1023, 4}, false, 1027, 2},   // the longest whole line
        {{10, 1024, 4}, false, 10, 1}, // stops before a line that would be split
        {{1024}, false, 0, 0},
        {{-2000}, false, 0, 0},
        {{17, 30, 1023, 1023, 2}, false, 2095, 5},
        {{3, 1022, 1025}, false, 1025, 2},
    };
    for (const Case &c : cases) {
        for (unsigned char end : {static_cast<unsigned char>('\n'), static_cast<unsigned char>(0)}) {
            const std::vector<unsigned char> bytes = build(c, end);
            const lf::Span span = lf::WholeShortLines(bytes.data(), bytes.data() + bytes.size(), end == 0);
            EXPECT_EQ(span.bytes, c.bytes) << "case with " << c.lines.size() << " lines, end " << int(end);
            EXPECT_EQ(span.lines, c.count) << "case with " << c.lines.size() << " lines, end " << int(end);
            if (end == 0) {
                // The line reader does not end lines at 0 bytes.
                const lf::Span text = lf::WholeShortLines(bytes.data(), bytes.data() + bytes.size(), false);
                EXPECT_EQ(text.lines, 0);
                EXPECT_EQ(text.bytes, 0u);
            }
        }
    }
}

TEST(LineFilterScan, WholeShortLinesAgreesWithAByteByByteCount)
{
    std::mt19937 rng(5);
    for (int round = 0; round < 300; ++round) {
        std::vector<unsigned char> bytes;
        while (bytes.size() < 6000) {
            const int kind = static_cast<int>(rng() % 8);
            const int length = kind == 0 ? 1000 + static_cast<int>(rng() % 40) : static_cast<int>(rng() % 40);
            for (int i = 0; i < length; ++i)
                bytes.push_back(static_cast<unsigned char>("ab\r\t"[rng() % 4]));
            bytes.push_back(rng() % 5 == 0 ? 0 : '\n');
        }
        const bool nulEnds = rng() % 2 == 0;
        const size_t limit = rng() % bytes.size();
        size_t start = 0, skipped = 0;
        long lines = 0;
        for (size_t i = 0; i < limit; ++i)
            if (bytes[i] == '\n' || (nulEnds && bytes[i] == 0)) {
                if (i - start + 1 > 1023)
                    break;
                ++lines;
                start = skipped = i + 1;
            }
        const lf::Span span = lf::WholeShortLines(bytes.data(), bytes.data() + limit, nulEnds);
        ASSERT_EQ(span.bytes, skipped) << "round " << round;
        ASSERT_EQ(span.lines, lines) << "round " << round;
    }
}

} // namespace
