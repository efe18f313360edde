// The matcher's worst cases: patterns built to backtrack, each against
// 255-byte names built to make it fail late, in microseconds per name (the
// median of RUNS runs, the slowest name counted).  The goal is at most
// 1 ms (1000 us) a name.  Every pattern runs under the catalog search's
// step limit: those without back references and without tags after a
// repeater are bounded by the failure memo and must finish (result 0 or 1)
// within it when they fit the catalog's 50-byte box; the others give up
// (-1) once past it.  The 509-byte ones show the bound of the largest
// programs, without the limit.
//
// usage: worst_bench [RUNS]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "quarn32.h"

namespace {

// The catalog's limit (catalog_search.h), repeated so that this benchmark
// needs the library only.
constexpr int32_t kCatalogStepLimit = 20000;

struct Case {
    const char *what;
    std::string pattern;
    bool bounded; // by the memo: must not reach the limit
};

std::string Repeat(const std::string &piece, int times, const std::string &tail)
{
    std::string out;
    for (int i = 0; i < times; ++i)
        out += piece;
    return out + tail;
}

std::vector<std::string> Names()
{
    std::string mixed;
    for (int i = 0; i < 255; ++i)
        mixed += "ab x"[i % 4];
    return {std::string(255, 'a'), std::string(254, 'a') + "c", std::string(255, 'x'), mixed,
            std::string(127, 'a') + std::string(128, 'b')};
}

double MicrosPerName(QuarnPattern *p, const std::string &name, int runs, int32_t *result)
{
    std::vector<double> times;
    int reps = 1;
    for (int r = 0; r < runs; ++r) {
        for (;;) {
            auto t0 = std::chrono::steady_clock::now();
            for (int i = 0; i < reps; ++i)
                *result = RGrep(name.c_str(), p);
            const double us = std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - t0).count();
            if (us < 2000 && reps < (1 << 20)) {
                reps *= 4; // too short to measure well: more calls
                continue;
            }
            times.push_back(us / reps);
            break;
        }
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

} // namespace

int main(int argc, char **argv)
{
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    QuarnOptions(0);
    const std::vector<Case> cases = {
        {"nested runs", "a*a*a*a*a*a*b", true},
        {"run from every start", "a*b", true},
        {"class runs", "[a-z]*[a-z]*[a-z]*[a-z]*1", true},
        {".* chain", "x.*.*.*.*.*y", true},
        {".* between letters", ".*a.*a.*a.*a.*b", true},
        {"optional chain", "a-a-a-a-a-a-a-a-aaaaaaaab", true},
        {"50-byte .* chain", Repeat(".*", 24, "!"), true},
        {"50-byte run chain", Repeat("a*", 24, "b"), true},
        {"tag, then runs", "\\(a\\)a*a*a*a*a*b", true},
        {"509-byte run chain", Repeat("a*", 254, "b"), true},
        {"509-byte .* chain", Repeat(".*", 254, "!"), true},
        {"back reference", "\\(a\\)a*a*a*a*a*a*\\1b", false},
        {"back reference, .*", "\\(.\\).*.*.*.*.*\\1x", false},
        {"tag after runs", "a*a*a*a*a*a*\\(b\\)", false},
    };
    std::printf("== worst cases per 255-byte name: us/name (median of %d, slowest name); goal <= 1000 us\n", runs);
    std::printf("   step limit: %d (the catalog search's) for patterns of up to 50 bytes\n", kCatalogStepLimit);
    std::vector<QuarnPattern> record(1);
    for (const Case &c : cases) {
        std::string pattern = c.pattern;
        if (pattern.size() > 511)
            pattern.resize(511);
        if (CompileRGrep(pattern.c_str(), 1, &record[0]) != 0) {
            std::printf("%-22s does not compile\n", c.what);
            continue;
        }
        QuarnSetStepLimit(c.pattern.size() <= 50 ? kCatalogStepLimit : 0);
        double worst = 0;
        int32_t worstResult = 0;
        for (const std::string &name : Names()) {
            int32_t result = 0;
            const double us = MicrosPerName(&record[0], name, runs, &result);
            if (us >= worst) {
                worst = us;
                worstResult = result;
            }
        }
        const bool wrong = c.bounded && worstResult < 0;
        std::printf("%-22s %-26.26s %9.1f us  %5.3f of goal  result %d%s\n", c.what, pattern.c_str(), worst,
                    worst / 1000.0, worstResult, wrong ? "  (BOUNDED PATTERN HIT THE LIMIT)" : "");
    }
    QuarnSetStepLimit(0);
    return 0;
}
