// The work of the backtracking matcher, counted (this binary compiles the
// library with its step counter): without back references and without tags
// after a repeater, no (element, position) state is visited twice, so a
// search costs at most program length x (text length + 1) steps.  Back
// references are held by the step limit instead.  Nothing here is timed.
#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string>

#include "quarn32.h"
#include "rgrep_block.h"
#include "rgrep_match.h"
#include "rgrep_program.h"

namespace {

using quarn::rgrep::gCountedSteps;

struct Record {
    std::unique_ptr<QuarnPattern> p{new QuarnPattern{}};
};

// Bytes of the compiled program, its END included.
size_t ProgramLength(const QuarnPattern &p)
{
    const unsigned char *program = p.body.regex.program;
    const unsigned char *pc = program;
    while (*pc != quarn::rgrep::END)
        pc += quarn::rgrep::ElementSize(pc);
    return static_cast<size_t>(pc - program) + 1;
}

struct Steps {
    int32_t result;
    uint64_t steps;
};

Steps Count(const std::string &text, QuarnPattern *p)
{
    gCountedSteps = 0;
    const int32_t result = RGrep(text.c_str(), p);
    return {result, gCountedSteps};
}

class MatchSteps : public ::testing::Test {
protected:
    void SetUp() override
    {
        previousOptions_ = QuarnOptions(0);
        QuarnSetStepLimit(0);
    }
    void TearDown() override
    {
        QuarnOptions(previousOptions_);
        QuarnSetStepLimit(0);
    }

private:
    int32_t previousOptions_ = 0;
};

// Patterns built to backtrack: nested runs that fail at the very end, runs
// retried from every start position, `.*` chains, optional elements, tags
// before the repeaters, line anchors and word boundaries.
TEST_F(MatchSteps, WorstPatternsStayWithinProgramTimesLine)
{
    const char *patterns[] = {
        "a*a*a*a*a*a*b",
        "a*b",
        "[a-z]*[a-z]*[a-z]*[a-z]*1",
        "x.*.*.*.*.*y",
        ".*a.*a.*a.*a.*b",
        "a-a-a-a-a-a-a-a-aaaaaaaab",
        "\\(a\\)a*a*a*a*b",
        "\\(.\\)\\(.\\).*.*.*.*z",
        "\\<.*\\>.*\\<.*\\>.*q",
        "^a*a*a*a*$b",
        "a*a*a*c|a*a*a*d|.*.*.*e",
        "[^b]*[^b]*[^b]*[^b]*b[^b]*[^b]*c",
        ".*.*.*.*.*.*.*.*.*.*.*.*.*.*.*.*.*.*.*.*!",
    };
    const std::string texts[] = {
        std::string(255, 'a'),
        std::string(254, 'a') + "c",
        [] {
            std::string t;
            for (int i = 0; i < 255; ++i)
                t += "ab x"[i % 4];
            return t;
        }(),
        std::string(255, 'x'),
        std::string(100, 'a') + std::string(155, 'b'),
    };
    Record r;
    uint64_t most = 0;
    for (const char *pattern : patterns) {
        ASSERT_EQ(CompileRGrep(pattern, 1, r.p.get()), 0) << pattern;
        const size_t program = ProgramLength(*r.p);
        for (const std::string &text : texts) {
            const Steps s = Count(text, r.p.get());
            EXPECT_GE(s.result, 0) << pattern;
            EXPECT_LE(s.steps, program * (text.size() + 1)) << pattern << " on " << text.substr(0, 20) << "...";
            most = std::max(most, s.steps);
        }
    }
    // These texts make the plain backtracker take millions of steps.
    EXPECT_GT(most, 1000u);
}

// Random patterns of a small alphabet over random lines: the bound holds
// for every one of them, with tags before the repeaters as well.
TEST_F(MatchSteps, RandomPatternsStayWithinProgramTimesLine)
{
    std::mt19937 rng(1515);
    static const char *const atoms[] = {"a", "b", ".", "[ab]", "[^a]", "*", "+", "-", ".*", "a*", "\\<", "\\>", "|"};
    Record r;
    int checked = 0;
    for (int iter = 0; iter < 3000; ++iter) {
        std::string pattern = rng() % 3 == 0 ? "\\(a\\)" : "";
        for (int i = 0, n = 2 + static_cast<int>(rng() % 14); i < n; ++i)
            pattern += atoms[rng() % (sizeof atoms / sizeof *atoms)];
        if (rng() % 4 == 0)
            pattern += "$";
        if (CompileRGrep(pattern.c_str(), rng() % 2, r.p.get()) != 0)
            continue;
        if (r.p->body.regex.program[0] == quarn::rgrep::LITERAL ||
            r.p->body.regex.program[0] == quarn::rgrep::LITERAL_ANYCASE)
            continue;
        const size_t program = ProgramLength(*r.p);
        std::string text;
        for (int i = 0, n = static_cast<int>(rng() % 256); i < n; ++i)
            text += "aab. "[rng() % 5];
        const Steps s = Count(text, r.p.get());
        ASSERT_LE(s.steps, program * (text.size() + 1)) << pattern << " on " << text;
        ++checked;
    }
    EXPECT_GT(checked, 1000);
}

// The memo now also serves programs with tags, where the rests it skips
// hold none: a tag group at the front leaves the memo on, one at the end
// turns it off, and both must agree on the match and on tag 1.
TEST_F(MatchSteps, MemoUnderTagsChangesNoResult)
{
    std::mt19937 rng(77);
    static const char *const atoms[] = {"x", "y", ".", "[xy]", "[^7]", "*", "+", "-", ".*", "x*"};
    Record memo, plain;
    int compared = 0, matched = 0;
    for (int iter = 0; iter < 300; ++iter) {
        std::string body;
        int repeaters = 0;
        for (int i = 0, n = 3 + static_cast<int>(rng() % 8); i < n; ++i) {
            const std::string atom = atoms[rng() % (sizeof atoms / sizeof *atoms)];
            const bool repeats = atom.find_first_of("*+-") != std::string::npos;
            if (repeats && repeaters == 2)
                continue; // keeps the memo-less side polynomial
            repeaters += repeats;
            body += atom;
        }
        if (CompileRGrep(("\\([xy]\\)" + body + "7").c_str(), 1, memo.p.get()) != 0 ||
            CompileRGrep(("\\([xy]\\)" + body + "\\(7\\)").c_str(), 1, plain.p.get()) != 0)
            continue;
        for (int t = 0; t < 3; ++t) {
            std::string text;
            for (int i = 0, n = 100 + static_cast<int>(rng() % 150); i < n; ++i)
                text += "xy7"[rng() % 100 < 97 ? rng() % 2 : 2];
            const int32_t a = RGrep(text.c_str(), memo.p.get());
            ASSERT_EQ(a, RGrep(text.c_str(), plain.p.get())) << body << " on " << text;
            for (int k = 0; k < 2; ++k) {
                ASSERT_EQ(memo.p->matchStart[k], plain.p->matchStart[k]) << body << " tag " << k;
                ASSERT_EQ(memo.p->matchEnd[k], plain.p->matchEnd[k]) << body << " tag " << k;
            }
            ++compared;
            matched += a;
        }
    }
    EXPECT_GT(compared, 500);
    EXPECT_GT(matched, 100);
}

// Back references defeat the memo: this pattern tries every way of
// splitting a run of a's among its repeaters.  The limit stops it, and a
// search that stays under the limit is not affected.
TEST_F(MatchSteps, StepLimitStopsBackReferences)
{
    Record r;
    ASSERT_EQ(CompileRGrep("\\(a\\)a*a*a*a*a*\\1b", 1, r.p.get()), 0);
    const std::string longRun(255, 'a');
    const std::string shortRun(8, 'a');

    const Steps unlimited = Count(shortRun, r.p.get());
    EXPECT_EQ(unlimited.result, 0);
    EXPECT_GT(unlimited.steps, ProgramLength(*r.p) * (shortRun.size() + 1)); // beyond what the memo allows

    EXPECT_EQ(QuarnSetStepLimit(20000), 0);
    const Steps limited = Count(longRun, r.p.get());
    EXPECT_EQ(limited.result, -1);
    EXPECT_EQ(r.p->matchStart[0], nullptr);
    EXPECT_EQ(r.p->errorCode, 0);          // the record stays usable
    EXPECT_LT(limited.steps, 20000u * 64); // gave up soon after the limit

    EXPECT_EQ(Count(shortRun, r.p.get()).result, 0); // under the limit: as before
    const std::string hit = shortRun + "b";
    EXPECT_EQ(Count(hit, r.p.get()).result, 1);
    EXPECT_EQ(r.p->matchEnd[0] - r.p->matchStart[0], static_cast<long>(hit.size()));

    EXPECT_EQ(QuarnSetStepLimit(0), 20000);
    EXPECT_EQ(QuarnSetStepLimit(-5), 0);
    EXPECT_EQ(QuarnSetStepLimit(0), 0); // a negative limit is no limit
}

// The longest name the block walk may pass over unseen under a step limit:
// the longest the memo's bound keeps within the limit, and no longer.
// Programs with tags or back references have no such length.
TEST_F(MatchSteps, SureLengthIsTheLongestTheBoundCovers)
{
    struct Row {
        const char *pattern;
        int32_t limit;
        bool bounded;
    } rows[] = {
        {"^[a-c].*[0-9]$", 20000, true},
        {"a*a*a*a*a*a*b", 1000, true},
        {"x.*.*.*.*.*y", 777, true},
        {"\\<.*\\>.*q|[^b]*b-c", 5000, true},
        {"a.b", 10, true},
        {"abc", 20000, false}, // a literal: searched without the matcher, never asked
        {"a*a*a*a*a*\\(cd\\)", 20000, false},
        {"\\(a\\)a*a*a*a*a*\\1b", 20000, false},
        {"\\(x\\)a*b", 20000, false},
    };
    Record r;
    for (const Row &row : rows) {
        ASSERT_EQ(CompileRGrep(row.pattern, 1, r.p.get()), 0) << row.pattern;
        size_t sure = 0;
        ASSERT_EQ(quarn::rgrep::LongestSureName(r.p->body.regex, row.limit, &sure), row.bounded) << row.pattern;
        if (!row.bounded)
            continue;
        const size_t program = ProgramLength(*r.p);
        EXPECT_LE(program * (sure + 1), static_cast<size_t>(row.limit)) << row.pattern;
        EXPECT_GT(program * (sure + 2), static_cast<size_t>(row.limit)) << row.pattern;
    }
    // The block walk's description carries it, and none without a limit.
    quarn::block::Filter filter;
    ASSERT_EQ(CompileRGrep("^[a-c].*[0-9]$", 1, r.p.get()), 0);
    ASSERT_TRUE(quarn::rgrep::DescribeNames(r.p.get(), 0, &filter));
    EXPECT_EQ(filter.maxSafeLength, SIZE_MAX);
    QuarnSetStepLimit(20000);
    ASSERT_TRUE(quarn::rgrep::DescribeNames(r.p.get(), 0, &filter));
    EXPECT_EQ(filter.maxSafeLength, 20000 / ProgramLength(*r.p) - 1);
    ASSERT_EQ(CompileRGrep("^\\([a-c]\\).*[0-9]$", 1, r.p.get()), 0);
    EXPECT_FALSE(quarn::rgrep::DescribeNames(r.p.get(), 0, &filter));
    // Too small a limit for any text at all.
    ASSERT_EQ(CompileRGrep("a*a*b", 1, r.p.get()), 0);
    size_t sure = 0;
    EXPECT_FALSE(quarn::rgrep::LongestSureName(r.p->body.regex, static_cast<int32_t>(ProgramLength(*r.p)) - 1, &sure));
    EXPECT_TRUE(quarn::rgrep::LongestSureName(r.p->body.regex, static_cast<int32_t>(ProgramLength(*r.p)), &sure));
    EXPECT_EQ(sure, 0u);
}

// What the promise is for: random programs under random limits never give
// up on a text of the sure length, however it backtracks.
TEST_F(MatchSteps, NoTextOfTheSureLengthGivesUp)
{
    std::mt19937 rng(2026);
    static const char *const atoms[] = {"a", "b", ".", "[ab]", "[^a]", "*", "+", "-", ".*", "a*", "\\<", "\\>", "|"};
    Record r;
    int checked = 0;
    for (int iter = 0; iter < 2000; ++iter) {
        std::string pattern;
        for (int i = 0, n = 2 + static_cast<int>(rng() % 14); i < n; ++i)
            pattern += atoms[rng() % (sizeof atoms / sizeof *atoms)];
        if (rng() % 4 == 0)
            pattern += "$";
        if (CompileRGrep(pattern.c_str(), rng() % 2, r.p.get()) != 0)
            continue;
        const int32_t limit = 200 + static_cast<int32_t>(rng() % 3000);
        size_t sure = 0;
        if (!quarn::rgrep::LongestSureName(r.p->body.regex, limit, &sure))
            continue;
        std::string text;
        for (size_t i = 0; i < sure; ++i)
            text += "aab. "[rng() % 5];
        QuarnSetStepLimit(limit);
        const Steps s = Count(text, r.p.get());
        ASSERT_GE(s.result, 0) << pattern << " limit " << limit << " on " << text;
        ASSERT_LE(s.steps, static_cast<uint64_t>(limit)) << pattern << " on " << text;
        ++checked;
    }
    EXPECT_GT(checked, 500);
}

} // namespace
