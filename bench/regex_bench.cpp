// Per-line regular-expression matching: QUARN32 against PCRE2 (JIT), RE2,
// glibc regexec, std::regex, and strstr/strcasestr/strlen for literals.
// Every engine runs over the same lines in the same process; each figure is
// the median of several runs, in nanoseconds per line.  Match counts are
// printed so that disagreements between engines stand out.
//
// The first column, "block", is QuarnRGrepBlock over the same lines lying
// side by side with their NULs (they do in the loaded file), in blocks of
// 65,536 names as the catalog's search hands them out; "blk20k" is the same
// under QuarnSetStepLimit(20000), as the catalog sets it; "quarn" is one
// RGrep call per line.  Ratios are block / peer.
//
// usage: regex_bench NAMES_FILE [TEXT_FILE] [RUNS]
#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>
#include <re2/re2.h>
#include <regex.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "bench_lines.h"
#include "quarn32.h"

namespace {

using quarn_bench::Lines;
using quarn_bench::Load;

struct Case {
    const char *quarn; // our dialect
    const char *pcre;  // PCRE2 / RE2 / std::regex (ECMAScript)
    const char *posix; // glibc extended syntax with GNU word boundaries
    bool literal;
    const char *icaseNote = nullptr; // why the counts may differ when case is ignored
};

// Our bracket classes compare bytes exactly whatever the case flag; the
// peers fold them.
const char *const kClassNote = "icase counts differ: our classes compare exactly, the peers fold them";

const Case kCases[] = {
    {"readme", "readme", "readme", true},
    {"\\.zip$", "\\.zip$", "\\.zip$", false},
    {"^[a-c].*[0-9]$", "^[a-c].*[0-9]$", "^[a-c].*[0-9]$", false, kClassNote},
    {"^W.n", "^W.n", "^W.n", false},
    {"a[^xyz]c", "a[^xyz]c", "a[^xyz]c", false, kClassNote},
    {"[0-9]+", "[0-9]+", "[0-9]+", false},
    {"\\<[Aa].*\\>", "\\b[Aa].*\\b", "\\<[Aa].*\\>", false},
    {"foo|bar|toto", "foo|bar|toto", "foo|bar|toto", false},
};

using Matcher = std::function<bool(const char *)>;

struct Figure {
    double ns = -1;
    long matches = -1;
};

// The lines' storage is one run of NUL-terminated lines: the blocks are
// read where they lie, 65,536 lines each.
Figure MeasureBlocks(const Lines &data, QuarnPattern *p, int runs)
{
    const auto [ns, matches] = quarn_bench::TimeBlocks(
        data,
        [p](const char *b, int32_t n, int32_t *h, int32_t c, int32_t *stop) {
            return QuarnRGrepBlock(b, n, h, c, stop, p);
        },
        runs);
    return {ns, matches};
}

Figure Measure(const Lines &data, const Matcher &match, int runs, size_t sample)
{
    const size_t n = std::min(sample, data.lines.size());
    std::vector<double> times;
    long matches = 0;
    for (int r = 0; r < runs; ++r) {
        matches = 0;
        auto t0 = std::chrono::steady_clock::now();
        for (size_t i = 0; i < n; ++i)
            matches += match(data.lines[i]);
        auto t1 = std::chrono::steady_clock::now();
        times.push_back(std::chrono::duration<double, std::nano>(t1 - t0).count() / static_cast<double>(n));
    }
    std::sort(times.begin(), times.end());
    return {times[times.size() / 2], matches};
}

void Row(const char *label, const char *pattern, bool icase, const std::vector<std::pair<std::string, Figure>> &figs,
         const char *note)
{
    const Figure &ours = figs.front().second;
    std::printf("%-7s %-16s %-5s", label, pattern, icase ? "icase" : "case");
    for (const auto &f : figs) {
        if (f.second.ns < 0)
            std::printf(" | %-9s %7s %6s", f.first.c_str(), "-", "");
        else
            std::printf(" | %-9s %7.1f %5.2fx", f.first.c_str(), f.second.ns, ours.ns / f.second.ns);
    }
    std::printf("\n        matches:");
    for (const auto &f : figs)
        if (f.second.ns >= 0)
            std::printf(" %s=%ld", f.first.c_str(), f.second.matches);
    std::printf("\n");
    // The note only where the full-set counts of block and a regex peer differ.
    bool differ = false;
    for (const auto &f : figs)
        if (f.second.ns >= 0 && f.first != "std200k" && f.first != "strlen" && f.second.matches != ours.matches)
            differ = true;
    if (note != nullptr && differ)
        std::printf("        (%s)\n", note);
    std::fflush(stdout);
}

void RunSet(const Lines &data, int runs)
{
    std::printf("\n== %s: %zu lines; ns/line (median of %d), ratio = block / peer (<= 1.00: we lead)\n",
                data.name.c_str(), data.lines.size(), runs);
    std::printf("block: QuarnRGrepBlock, 65,536 names a call; blk20k: the same under a step limit of 20,000; "
                "quarn: RGrep per line; std200k: std::regex over the "
                "first 200,000 lines only (its count is of those)\n");
    {
        Figure f = Measure(
            data, [](const char *s) { return std::strlen(s) > 1000; }, runs, ~size_t{0});
        std::printf("strlen over every line: %.1f ns/line\n", f.ns);
    }
    QuarnMessages(0);
    for (const Case &c : kCases) {
        for (int icase = 1; icase >= 0; --icase) {
            std::vector<std::pair<std::string, Figure>> figs;
            auto rec = std::make_unique<QuarnPattern>();
            if (CompileRGrep(c.quarn, icase ? 0 : 1, rec.get()) != 0) {
                std::printf("compile failed: %s\n", c.quarn);
                continue;
            }
            QuarnPattern *p = rec.get();
            figs.push_back({"block", MeasureBlocks(data, p, runs)});
            // The catalog's setting: a step limit, which the block walk must
            // respect for names the matcher could give up on.
            const int32_t previousLimit = QuarnSetStepLimit(20000);
            figs.push_back({"blk20k", MeasureBlocks(data, p, runs)});
            QuarnSetStepLimit(previousLimit);
            figs.push_back({"quarn",
                            Measure(
                                data, [p](const char *s) { return RGrep(s, p) > 0; }, runs, ~size_t{0})});

            int err;
            PCRE2_SIZE off;
            pcre2_code *code = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(c.pcre), PCRE2_ZERO_TERMINATED,
                                             icase ? PCRE2_CASELESS : 0, &err, &off, nullptr);
            pcre2_jit_compile(code, PCRE2_JIT_COMPLETE);
            pcre2_match_data *md = pcre2_match_data_create_from_pattern(code, nullptr);
            figs.push_back({"pcre2-jit",
                            Measure(
                                data,
                                [&](const char *s) {
                                    return pcre2_jit_match(code, reinterpret_cast<PCRE2_SPTR>(s), std::strlen(s), 0, 0,
                                                           md, nullptr) >= 0;
                                },
                                runs, ~size_t{0})});
            pcre2_match_data_free(md);
            pcre2_code_free(code);

            RE2::Options opt;
            opt.set_case_sensitive(!icase);
            opt.set_log_errors(false);
            opt.set_encoding(RE2::Options::EncodingLatin1);
            RE2 re2(c.pcre, opt);
            figs.push_back({"re2",
                            Measure(
                                data, [&](const char *s) { return RE2::PartialMatch(s, re2); }, runs, ~size_t{0})});

            regex_t posix;
            regcomp(&posix, c.posix, REG_EXTENDED | REG_NOSUB | (icase ? REG_ICASE : 0));
            figs.push_back(
                {"regexec",
                 Measure(
                     data, [&](const char *s) { return regexec(&posix, s, 0, nullptr, 0) == 0; }, runs, ~size_t{0})});
            regfree(&posix);

            std::regex stdre(c.pcre, icase ? std::regex::ECMAScript | std::regex::icase : std::regex::ECMAScript);
            figs.push_back({"std200k", // std::regex is slow: the first 200,000 lines only

                            Measure(
                                data, [&](const char *s) { return std::regex_search(s, stdre); }, 1, 200000)});

            if (c.literal) {
                const char *lit = c.quarn;
                figs.push_back(
                    {icase ? "strcasestr" : "strstr",
                     Measure(
                         data,
                         [&](const char *s) { return (icase ? strcasestr(s, lit) : std::strstr(s, lit)) != nullptr; },
                         runs, ~size_t{0})});
                figs.push_back({"strlen",
                                Measure(
                                    data, [](const char *s) { return std::strlen(s) > 1000; }, runs, ~size_t{0})});
            }
            Row("regex", c.quarn, icase, figs, icase ? c.icaseNote : nullptr);
        }
    }
    QuarnMessages(1);
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s NAMES_FILE [TEXT_FILE] [RUNS]\n", argv[0]);
        return 2;
    }
    const int runs = argc > 3 ? std::max(1, std::atoi(argv[3])) : 5;
    RunSet(Load(argv[1], ~size_t{0}), runs);
    if (argc > 2 && argv[2][0] != '\0')
        RunSet(Load(argv[2], ~size_t{0}), runs);
    return 0;
}
