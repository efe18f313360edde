// The block calls look at a whole block at once and pass over names that
// cannot match.  Whatever they pass over, the answer must be the one of a
// name-by-name walk: the same hits, the same stop offset, the same -1, and
// the record left as the last name read leaves it.  The walk below is that
// name-by-name reference, run on the same bytes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "block_scan.h"
#include "rgrep_program.h"
#include "test_support.h"

namespace {

using BlockCall = int32_t(QUARN_API *)(const char *, int32_t, int32_t *, int32_t, int32_t *, QuarnPattern *);
using LineCall = int32_t(QUARN_API *)(const char *, QuarnPattern *);

struct Outcome {
    int32_t result = 0;
    std::vector<int32_t> hits;
    int32_t stop = 0;
    std::vector<long> tables; // the record's match positions, as offsets in the block (-1: none)

    bool operator==(const Outcome &o) const
    {
        return result == o.result && hits == o.hits && stop == o.stop && tables == o.tables;
    }
};

std::ostream &operator<<(std::ostream &out, const Outcome &o)
{
    out << "result " << o.result << " stop " << o.stop << " hits";
    for (int32_t h : o.hits)
        out << ' ' << h;
    out << " tables";
    for (long t : o.tables)
        out << ' ' << t;
    return out;
}

// The match positions every call of the kind rewrites: all ten for the
// approximate kind, the whole match for regular expressions (their tags
// keep values of earlier calls by design).
std::vector<long> Tables(const QuarnPattern *p, const char *block, bool all)
{
    std::vector<long> t;
    const int n = all ? QUARN_MAX_TAGS : 1;
    for (int i = 0; i < n; ++i) {
        t.push_back(p->matchStart[i] != nullptr ? static_cast<long>(p->matchStart[i] - block) : -1);
        t.push_back(p->matchEnd[i] != nullptr ? static_cast<long>(p->matchEnd[i] - block) : -1);
    }
    return t;
}

// One name at a time, as the header describes the block calls.
Outcome ByName(LineCall line, const char *block, int32_t length, int32_t capacity, QuarnPattern *p, bool all)
{
    Outcome o;
    int32_t at = 0;
    while (at < length && static_cast<int32_t>(o.hits.size()) < capacity) {
        const void *nul = std::memchr(block + at, '\0', static_cast<size_t>(length - at));
        if (nul == nullptr) {
            at = length;
            break;
        }
        const int32_t r = line(block + at, p);
        if (r < 0)
            break;
        if (r > 0)
            o.hits.push_back(at);
        at = static_cast<int32_t>(static_cast<const char *>(nul) - block) + 1;
    }
    if (static_cast<int32_t>(o.hits.size()) == capacity && at < length &&
        std::memchr(block + at, '\0', static_cast<size_t>(length - at)) == nullptr)
        at = length;
    o.result = static_cast<int32_t>(o.hits.size());
    o.stop = at;
    o.tables = Tables(p, block, all);
    return o;
}

Outcome InOneCall(BlockCall call, const char *block, int32_t length, int32_t capacity, QuarnPattern *p, bool all)
{
    Outcome o;
    std::vector<int32_t> table(static_cast<size_t>(capacity) + 1, -7);
    o.result = call(block, length, table.data(), capacity, &o.stop, p);
    for (int32_t i = 0; i < o.result; ++i)
        o.hits.push_back(table[static_cast<size_t>(i)]);
    EXPECT_EQ(table[static_cast<size_t>(o.result > 0 ? o.result : 0)], -7) << "wrote past the hits it counts";
    o.tables = Tables(p, block, all);
    return o;
}

std::string Join(const std::vector<std::string> &names)
{
    std::string block;
    for (const auto &n : names) {
        block += n;
        block.push_back('\0');
    }
    return block;
}

// Names of the benchmark's flavour, with what the scans must not trip on:
// empty names, 255-byte names, high bytes, separators, near-misses.
std::string RandomName(std::mt19937 &rng)
{
    static const char alphabet[] = "abcxyzREADMEreadme.zipZIP09_- \n\xe9\xc9\xff";
    static const char *pieces[] = {"readme", "README", ".zip", "reedme", "rdme", "a1", "c9", "zip", ".ZIP", "b"};
    std::uniform_int_distribution<int> kind(0, 19), len(0, 24), ch(0, sizeof alphabet - 2), piece(0, 9);
    const int k = kind(rng);
    if (k == 0)
        return "";
    std::string s;
    const size_t target = k == 1 ? 255 : static_cast<size_t>(len(rng));
    while (s.size() < target) {
        if (ch(rng) < 4)
            s += pieces[piece(rng)];
        else
            s.push_back(alphabet[ch(rng)]);
    }
    s.resize(target);
    return s;
}

struct Case {
    BlockCall call;
    LineCall line;
    bool all; // compare every match table entry
};

// Compares a block call with the name-by-name walk over `names`: the whole
// block, a block cut inside its last name (an unterminated tail), a block
// that does not begin on an aligned address, and small hit tables.
void Compare(const Case &c, const std::vector<std::string> &names, QuarnPattern *p, QuarnPattern *ref,
             const std::string &label, std::mt19937 &rng)
{
    std::string storage = "xyz" + Join(names) + "tail";
    const char *block = storage.data() + 3;
    const int32_t whole = static_cast<int32_t>(storage.size() - 3 - 4);
    std::uniform_int_distribution<int32_t> cut(0, whole + 4);
    const int32_t lengths[] = {whole, whole + 4, cut(rng)};
    const int32_t capacities[] = {whole + 1, 1, 2, 3, 0};
    for (int32_t length : lengths) {
        for (int32_t capacity : capacities) {
            // Resume after each stop, as a caller with a small table does.
            int32_t from = 0;
            for (int guard = 0; guard < 10000 && from < length; ++guard) {
                const Outcome expect = ByName(c.line, block + from, length - from, capacity, ref, c.all);
                const Outcome got = InOneCall(c.call, block + from, length - from, capacity, p, c.all);
                ASSERT_EQ(got, expect) << label << " length " << length << " capacity " << capacity << " from " << from;
                if (got.stop == 0) {
                    // A capacity of 0 ends here; past a name the matcher gave
                    // up on, the caller goes on with the next one.
                    const void *nul = std::memchr(block + from, '\0', static_cast<size_t>(length - from));
                    if (capacity == 0 || nul == nullptr)
                        break;
                    from = static_cast<int32_t>(static_cast<const char *>(nul) - block) + 1;
                    continue;
                }
                from += got.stop;
            }
        }
    }
}

const char *const kRegexes[] = {
    "readme",
    "README",
    "a",
    "\xe9",
    "zip",
    ".zip",
    "\\.zip$",
    "\\.ZIP$",
    "^[a-c].*[0-9]$",
    "^re",
    "me$",
    "^a$",
    "^$",
    "x*",
    "e*$",
    "[a-c][0-9]",
    "[^a-z]x",
    "a.c",
    "foo|bar",
    "^a|b$",
    "ab|^c",
    "readme|\\.zip$",
    "\\(ab\\).*\\1",
    "\\(e\\)\\1",
    "\\<re",
    "me\\>",
    "a\\>b",
    "ab-c",
    "\\(re\\)adme",
    "[ab][cd][ef]",
    ".",
    "a$b",
    "r[e]*d",
    "^\\(rea\\)dme$",
    "[0-9]$",
    "^[rR]",
    "z|y|x|c|b",
    "e\\>$",
    "\\<\\(r\\)",
    "[\xe9\xc9]",
    // Sets too wide to look for: the names' first and last bytes decide.
    "[a-z][0-9a-z][a-z]$",
    "^[a-z][^a-c]",
    "^[^.][^.]*[^a-c][a-z]$",
    "^[a-z]\\(.\\)[a-z]|[0-9][0-9]$",
};

TEST(BlockScan, RegexAnswersAsNameByName)
{
    quarn_test::ReportCapture quiet;
    std::mt19937 rng(20261208);
    for (int round = 0; round < 12; ++round) {
        std::vector<std::string> names(static_cast<size_t>(1 + round * round * 9));
        for (auto &n : names)
            n = RandomName(rng);
        for (int cs = 0; cs < 2; ++cs) {
            for (const char *re : kRegexes) {
                auto p = quarn_test::NewPattern();
                auto ref = quarn_test::NewPattern();
                ASSERT_EQ(CompileRGrep(re, cs, p.get()), 0) << re;
                ASSERT_EQ(CompileRGrep(re, cs, ref.get()), 0) << re;
                Compare({QuarnRGrepBlock, RGrep, false}, names, p.get(), ref.get(),
                        std::string(re) + (cs ? " case" : " icase"), rng);
            }
        }
    }
}

TEST(BlockScan, RegexWithLineSeparatorsAnswersAsNameByName)
{
    std::mt19937 rng(9);
    std::vector<std::string> names(400);
    for (auto &n : names)
        n = RandomName(rng);
    const int32_t previous = QuarnOptions(QUARN_OPT_LF | QUARN_OPT_CR);
    for (const char *re : {"^re", "me$", "\\.zip$", "^a|b$", "readme"}) {
        auto p = quarn_test::NewPattern();
        auto ref = quarn_test::NewPattern();
        ASSERT_EQ(CompileRGrep(re, 0, p.get()), 0);
        ASSERT_EQ(CompileRGrep(re, 0, ref.get()), 0);
        Compare({QuarnRGrepBlock, RGrep, false}, names, p.get(), ref.get(), re, rng);
    }
    QuarnOptions(previous);
}

TEST(BlockScan, ApproximateAnswersAsNameByName)
{
    quarn_test::ReportCapture quiet;
    std::mt19937 rng(16);
    const char *patterns[] = {"readme", "zip", "ab", "abcd", "\xe9t\xe9", "README.zip", "r"};
    for (int round = 0; round < 6; ++round) {
        std::vector<std::string> names(static_cast<size_t>(1 + round * round * 20));
        for (auto &n : names)
            n = RandomName(rng);
        for (int cs = 0; cs < 2; ++cs) {
            for (const char *pattern : patterns) {
                for (int k = 0; k <= 3; ++k) {
                    auto p = quarn_test::NewPattern();
                    auto ref = quarn_test::NewPattern();
                    AGrepInit(p.get());
                    AGrepInit(ref.get());
                    ASSERT_EQ(CompileAGrep(pattern, k, cs, p.get()), 0);
                    ASSERT_EQ(CompileAGrep(pattern, k, cs, ref.get()), 0);
                    Compare({QuarnAGrepBlock, AGrep, true}, names, p.get(), ref.get(),
                            std::string(pattern) + "/" + std::to_string(k) + (cs ? " case" : " icase"), rng);
                    AGrepEmpty(p.get());
                    AGrepEmpty(ref.get());
                }
            }
        }
    }
}

// A name the backtracking matcher gives up on stops the block there, also
// when the scan could tell that the name holds no match.
TEST(BlockScan, StepLimitGivesUpMidBlockAsNameByName)
{
    const std::string slow(255, 'a');
    const std::vector<std::string> names = {"xaab", "aab", "q", slow, "aab", slow + "b", "zz"};
    const int32_t previous = QuarnSetStepLimit(20000);
    std::mt19937 rng(3);
    // Back references and repeaters: the backtracking matcher; a run plan;
    // a literal.
    for (const char *re : {"\\(a\\)a*a*a*a*a*\\1b", "a*a*a*a*a*c", "^a*a*a*a*q$", "ab$", "aab"}) {
        auto p = quarn_test::NewPattern();
        auto ref = quarn_test::NewPattern();
        ASSERT_EQ(CompileRGrep(re, 0, p.get()), 0);
        ASSERT_EQ(CompileRGrep(re, 0, ref.get()), 0);
        Compare({QuarnRGrepBlock, RGrep, false}, names, p.get(), ref.get(), re, rng);
    }
    QuarnSetStepLimit(previous);
}

// Byte-exact cases of the scans: matches never straddle a NUL, anchors
// hold at each name's own ends, hits at the first and last names.
TEST(BlockScan, NamesKeepTheirOwnEnds)
{
    struct Row {
        const char *pattern;
        int caseSensitive;
        std::vector<std::string> names;
        std::vector<int32_t> hits;
    } rows[] = {
        {"bc", 1, {"xab", "cdx", "abc"}, {8}},
        {"readme", 0, {"READ", "ME", "xReAdMe"}, {8}},
        {"\\.zip$", 1, {"a.zip", "b.zipx", "", ".zip"}, {0, 14}},
        // A class compares exactly, whatever the case flag.
        {"^[a-c].*[0-9]$", 0, {"b9", "B9", "x1", "c 0", "9"}, {0, 9}},
        {"^a", 1, {"ba", "a"}, {3}},
        {"a$", 1, {"ab", "ba", "a"}, {3, 6}},
        {"^ab$", 0, {"AB", "abab", "ab"}, {0, 8}},
        {"z|^q", 1, {"aq", "qa", "az"}, {3, 6}},
    };
    for (const Row &row : rows) {
        auto p = quarn_test::NewPattern();
        ASSERT_EQ(CompileRGrep(row.pattern, row.caseSensitive, p.get()), 0);
        const std::string block = Join(row.names);
        int32_t hits[16];
        int32_t stop = -1;
        const int32_t n = QuarnRGrepBlock(block.data(), static_cast<int32_t>(block.size()), hits, 16, &stop, p.get());
        ASSERT_GE(n, 0) << row.pattern;
        EXPECT_EQ(std::vector<int32_t>(hits, hits + n), row.hits) << row.pattern;
        EXPECT_EQ(stop, static_cast<int32_t>(block.size())) << row.pattern;
    }
}

// Bytes of a compiled program, its END included.
size_t ProgramLength(const QuarnPattern &p)
{
    const unsigned char *pc = p.body.regex.program;
    while (*pc != quarn::rgrep::END)
        pc += quarn::rgrep::ElementSize(pc);
    return static_cast<size_t>(pc - p.body.regex.program) + 1;
}

// Under a step limit, the scan passes over only names short enough that the
// matcher's memo keeps it within the limit (program length x (length + 1)
// steps); longer names are judged one by one, and those the matcher gives up
// on stop the block.  Names of every length around that bound, of bytes that
// make the repeaters backtrack, for programs the memo bounds and for programs
// with tags or back references, which it does not.
TEST(BlockScan, StepLimitAroundTheSureLengthAsNameByName)
{
    quarn_test::ReportCapture quiet;
    struct Row {
        const char *pattern;
        int32_t limit;
    } rows[] = {
        {"^[a-c].*[0-9]$", 20000},
        {"^[a-c].*[0-9]$", 3000},
        {"a*a*a*a*a*cd", 1000},
        {"a*a*a*a*a*cd", 4000},
        {"x.*.*.*.*yz", 1500},
        {"[ab]*[ab]*[ab]*q9$", 2000},
        {"a-a-a*a*b*zq|^b", 1200},
        {"\\<a.*a.*ab\\>", 1000},
        // Tags and back references: every name goes to the matcher.
        {"a*a*a*a*a*\\(cd\\)", 20000},
        {"\\(a\\)a*a*a*a*\\1cd", 20000},
        {"^\\([a-c]\\).*[0-9]$", 2000},
    };
    const char *fillers[] = {"a", "ab", "xy", "a b", "ba9"};
    std::mt19937 rng(16);
    for (const Row &row : rows) {
        auto p = quarn_test::NewPattern();
        auto ref = quarn_test::NewPattern();
        ASSERT_EQ(CompileRGrep(row.pattern, 1, p.get()), 0) << row.pattern;
        ASSERT_EQ(CompileRGrep(row.pattern, 1, ref.get()), 0) << row.pattern;
        const size_t sure = static_cast<size_t>(row.limit) / ProgramLength(*p) - 1;
        std::vector<std::string> names;
        for (size_t length = sure > 3 ? sure - 3 : 0; length <= sure + 3; ++length) {
            for (const char *filler : fillers) {
                std::string name;
                while (name.size() < length)
                    name += filler;
                name.resize(length);
                names.push_back(name);
                names.push_back("q");
                if (length > 2)
                    names.push_back(name.substr(0, length - 2) + "cd");
            }
        }
        // Names the matcher gives up on under the smaller limits.
        names.push_back(std::string(255, 'a'));
        names.push_back("b" + std::string(250, 'a') + "9");
        names.push_back("x" + std::string(250, 'y') + "z");
        names.push_back("a9");
        const int32_t previous = QuarnSetStepLimit(row.limit);
        Compare({QuarnRGrepBlock, RGrep, false}, names, p.get(), ref.get(),
                std::string(row.pattern) + " limit " + std::to_string(row.limit), rng);
        std::shuffle(names.begin(), names.end(), rng);
        Compare({QuarnRGrepBlock, RGrep, false}, names, p.get(), ref.get(),
                std::string(row.pattern) + " shuffled, limit " + std::to_string(row.limit), rng);
        QuarnSetStepLimit(previous);
    }
}

#if defined(__SSE2__)

// The walk itself under a length bound: which names reach the per-name
// matcher.  The matcher below records each name it is asked about and
// answers from its first byte ('!' gives up, '+' matches).
std::vector<std::string> gJudged;

int32_t QUARN_API RecordingMatcher(const char *name, QuarnPattern *)
{
    gJudged.emplace_back(name);
    return name[0] == '!' ? -1 : name[0] == '+' ? 1 : 0;
}

struct WalkResult {
    int32_t found;
    int32_t stop;
    std::vector<int32_t> hits;
};

WalkResult WalkBlock(const std::string &block, const quarn::block::Filter &filter, int32_t capacity = 1 << 20)
{
    gJudged.clear();
    std::vector<int32_t> hits(static_cast<size_t>(capacity));
    quarn::block::Walk walk(RecordingMatcher, block.data(), static_cast<int32_t>(block.size()), hits.data(), capacity,
                            nullptr);
    EXPECT_TRUE(quarn::block::RunFiltered(walk, filter));
    WalkResult r;
    r.found = walk.Finish(&r.stop);
    r.hits.assign(hits.begin(), hits.begin() + r.found);
    return r;
}

// Filters no name of the blocks below passes: a byte pair, and a last byte.
std::vector<quarn::block::Filter> FiltersPassingNothing(size_t maxSafeLength)
{
    quarn::block::Filter pairs;
    pairs.kind = quarn::block::Filter::kPairs;
    pairs.pairs.count = 1;
    pairs.pairs.alt[0].firstCount = 1;
    pairs.pairs.alt[0].first[0] = 'Q';
    pairs.pairs.alt[0].secondCount = 1;
    pairs.pairs.alt[0].second[0] = 'Z';
    quarn::block::Filter ends;
    ends.kind = quarn::block::Filter::kEnds;
    ends.endCount = 1;
    ends.ends[0].suffix = 1;
    ends.ends[0].suf[0]['#' >> 3] = 1 << ('#' & 7);
    pairs.maxSafeLength = ends.maxSafeLength = maxSafeLength;
    return {pairs, ends};
}

// Every name longer than the bound is judged, none up to it is (but the
// last, which the walk always reads), across stretch ends and at every
// alignment of the long names.
TEST(BlockScan, LengthBoundJudgesExactlyTheLongerNames)
{
    std::mt19937 rng(1208);
    for (size_t bound : {14u, 15u, 16u, 17u, 31u, 61u, 62u, 63u, 64u, 100u, 276u}) {
        std::vector<std::string> names;
        size_t bytes = 0;
        for (int i = 0; bytes < 80 * 1024; ++i) {
            std::uniform_int_distribution<size_t> around(bound > 20 ? bound - 20 : 0, bound + 20);
            size_t length = i % 7 == 0 ? around(rng) : rng() % 24;
            if (i % 41 == 0)
                length = bound + 1 + rng() % 3000;
            std::string name(length, 'n');
            for (char &c : name)
                c = static_cast<char>('a' + rng() % 26);
            names.push_back(name);
            bytes += length + 1;
        }
        names.push_back("last");
        const std::string block = Join(names);
        std::vector<std::string> expect;
        for (size_t i = 0; i + 1 < names.size(); ++i)
            if (names[i].size() > bound)
                expect.push_back(names[i]);
        expect.push_back("last");
        for (const quarn::block::Filter &filter : FiltersPassingNothing(bound)) {
            const WalkResult r = WalkBlock(block, filter);
            EXPECT_EQ(r.found, 0);
            EXPECT_EQ(r.stop, static_cast<int32_t>(block.size()));
            ASSERT_EQ(gJudged.size(), expect.size()) << "bound " << bound << " kind " << filter.kind;
            for (size_t i = 0; i < expect.size(); ++i)
                ASSERT_EQ(gJudged[i].size(), expect[i].size()) << "bound " << bound << " name " << i;
        }
    }
}

// A long name the matcher gives up on stops the walk at its start; hits
// before it count, and a full table stops the walk after the hit.
TEST(BlockScan, LengthBoundStopsWhereTheMatcherGivesUp)
{
    const std::string longHit = "+" + std::string(40, 'h');
    const std::string longGiveUp = "!" + std::string(40, 'g');
    const std::vector<std::string> names = {"short", longHit, "tiny", longGiveUp, "after", longHit, "end"};
    const std::string block = Join(names);
    const int32_t hitAt = 6, giveUpAt = 6 + 42 + 5;
    for (const quarn::block::Filter &filter : FiltersPassingNothing(30)) {
        WalkResult r = WalkBlock(block, filter);
        EXPECT_EQ(r.hits, std::vector<int32_t>{hitAt});
        EXPECT_EQ(r.stop, giveUpAt);
        EXPECT_EQ(gJudged, (std::vector<std::string>{longHit, longGiveUp}));
        r = WalkBlock(block, filter, 1);
        EXPECT_EQ(r.hits, std::vector<int32_t>{hitAt});
        EXPECT_EQ(r.stop, hitAt + 42);
        EXPECT_EQ(gJudged, std::vector<std::string>{longHit});
    }
    // Under 14 bytes nearly every name would be judged: the walk declines.
    for (const quarn::block::Filter &filter : FiltersPassingNothing(13)) {
        quarn::block::Walk walk(RecordingMatcher, block.data(), static_cast<int32_t>(block.size()), nullptr, 0,
                                nullptr);
        EXPECT_FALSE(quarn::block::RunFiltered(walk, filter));
    }
}

#endif

} // namespace
