// Several threads compile and match their own records at the same time, all
// three kinds at once, against one shared set of lines; every thread's
// results must equal those of a run on one thread.  Built on its own so
// that the `tsan` preset can run it under ThreadSanitizer, which reports
// any state the calls still share.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "quarn32.h"

namespace {

enum class Kind { kRegex, kApprox, kSoundex };

struct Pattern {
    Kind kind;
    const char *text;
    int32_t errors; // approximate kind only
    int32_t caseFlag;
};

// Each regular expression takes a different road through the matcher: a
// literal, a run plan, the candidate scan, the failure memo, tags, back
// references, word boundaries, and compiles that fail.
const Pattern kPatterns[] = {
    {Kind::kRegex, "readme", 0, 0},
    {Kind::kRegex, "\\.zip$", 0, 1},
    {Kind::kRegex, "^W.n", 0, 0},
    {Kind::kRegex, "a[^xyz]c|[0-9][0-9]", 0, 0},
    {Kind::kRegex, "\\<[Aa].*\\>", 0, 0},
    {Kind::kRegex, "x*.*a.*e.*i.*o.*z", 0, 0},
    {Kind::kRegex, "\\([a-z]*\\)[0-9]+\\(.\\)\\2", 0, 0},
    {Kind::kRegex, "\\(.\\)\\(.\\)\\2\\1", 0, 1},
    {Kind::kRegex, "^[a-m]+-*[n-z]*\\.\\(txt\\|doc\\)", 0, 0},
    {Kind::kRegex, "e[^e]*e[^e]*e$", 0, 0},
    {Kind::kRegex, "[unclosed", 0, 0},
    {Kind::kRegex, "\\(open", 0, 0},
    {Kind::kApprox, "report", 1, 0},
    {Kind::kApprox, "archive", 2, 1},
    {Kind::kApprox, "setup.exe", 1, 0},
    {Kind::kSoundex, "robert", 0, 0},
    {Kind::kSoundex, "tymczak data", 0, 0},
};
constexpr size_t kPatternCount = sizeof kPatterns / sizeof kPatterns[0];

// Deterministic names with words, digits, doubled letters and extensions.
std::vector<std::string> MakeLines()
{
    const char *words[] = {"readme", "Winamp", "abc",     "Robert", "rupert", "archive", "arkhive", "setup",
                           "report", "ripert", "tymczak", "data",   "zz9",    "abba",    "xyzzy",   "Anna"};
    const char *exts[] = {".zip", ".txt", ".doc", ".exe", "", ".ZIP"};
    std::vector<std::string> lines;
    unsigned seed = 12345;
    auto next = [&seed] {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 16) & 0x7fff;
    };
    for (int i = 0; i < 400; ++i) {
        std::string line;
        const int n = 1 + static_cast<int>(next() % 4);
        for (int w = 0; w < n; ++w) {
            if (w > 0)
                line += " -_"[next() % 3];
            line += words[next() % 16];
            if (next() % 3 == 0)
                line += std::to_string(next() % 100);
        }
        line += exts[next() % 6];
        lines.push_back(line);
    }
    lines.push_back("");
    lines.push_back(std::string(255, 'a') + "e");
    return lines;
}

// The outcome of one pattern over every line: compile result, then per line
// the match result with the match and tag offsets.
std::vector<long> Outcome(const Pattern &pattern, const std::vector<std::string> &lines)
{
    std::unique_ptr<QuarnPattern> p(new QuarnPattern{});
    std::vector<long> out;
    int32_t code = 0;
    switch (pattern.kind) {
    case Kind::kRegex:
        code = CompileRGrep(pattern.text, pattern.caseFlag, p.get());
        break;
    case Kind::kApprox:
        AGrepInit(p.get());
        code = CompileAGrep(pattern.text, pattern.errors, pattern.caseFlag, p.get());
        break;
    case Kind::kSoundex:
        code = CompileSGrep(pattern.text, 0, p.get());
        break;
    }
    out.push_back(code);
    for (const std::string &line : lines) {
        const char *text = line.c_str();
        int32_t result = 0;
        switch (pattern.kind) {
        case Kind::kRegex:
            result = RGrep(text, p.get());
            break;
        case Kind::kApprox:
            result = AGrep(text, p.get());
            break;
        case Kind::kSoundex:
            result = SGrep(text, p.get());
            break;
        }
        out.push_back(result);
        if (result > 0)
            for (int t = 0; t < QUARN_MAX_TAGS; ++t)
                if (p->matchStart[t] != nullptr && p->matchEnd[t] != nullptr) {
                    out.push_back(t);
                    out.push_back(p->matchStart[t] - text);
                    out.push_back(p->matchEnd[t] - text);
                }
    }
    if (pattern.kind == Kind::kApprox)
        AGrepEmpty(p.get());
    return out;
}

class Threads : public ::testing::Test {
protected:
    void SetUp() override { previousOptions_ = QuarnOptions(0); } // no reports: threads would interleave them
    void TearDown() override { QuarnOptions(previousOptions_); }

private:
    int32_t previousOptions_ = 0;
};

TEST_F(Threads, CompileAndMatchAtOnceAsOnOneThread)
{
    const std::vector<std::string> lines = MakeLines();
    std::vector<std::vector<long>> expected;
    for (const Pattern &pattern : kPatterns)
        expected.push_back(Outcome(pattern, lines));
    // The table is worth running: patterns that match, miss and fail.
    int matching = 0, failing = 0;
    for (const auto &e : expected) {
        failing += e[0] != 0;
        for (size_t i = 1; i < e.size(); ++i)
            matching += e[0] == 0 && e[i] == 1;
    }
    ASSERT_GT(matching, 100);
    ASSERT_EQ(failing, 2);

    // Each thread walks the whole table from its own starting point, so the
    // kinds and patterns overlap in time in ever different pairs.
    constexpr int kThreads = 6, kRounds = 3;
    std::vector<std::thread> threads;
    std::vector<std::vector<std::string>> mismatches(kThreads);
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            for (int round = 0; round < kRounds; ++round)
                for (size_t k = 0; k < kPatternCount; ++k) {
                    const size_t i = (k + static_cast<size_t>(t) * 3 + static_cast<size_t>(round)) % kPatternCount;
                    if (Outcome(kPatterns[i], lines) != expected[i])
                        mismatches[t].push_back(kPatterns[i].text);
                }
        });
    for (std::thread &thread : threads)
        thread.join();
    for (int t = 0; t < kThreads; ++t)
        EXPECT_TRUE(mismatches[t].empty()) << "thread " << t << " differs first on " << mismatches[t].front();
}

// The error word is the one piece of library-wide state that many threads
// may write: the first code set stays, whoever sets it.
TEST_F(Threads, FirstErrorWordCodeStays)
{
    QuarnResetError(0);
    constexpr int kThreads = 4;
    std::atomic<int> stored{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < 1000; ++i) {
                if (QuarnSetError(100 + t) == 0)
                    stored.fetch_add(1);
                const int32_t word = QuarnGetError();
                if (word < 100 || word >= 100 + kThreads)
                    stored.fetch_add(1000);
            }
        });
    for (std::thread &thread : threads)
        thread.join();
    EXPECT_EQ(stored.load(), 1); // exactly one store, and never a torn or foreign value
    const int32_t word = QuarnResetError(0);
    EXPECT_GE(word, 100);
    EXPECT_LT(word, 100 + kThreads);
}

} // namespace
