// Approximate compile + match with hostile patterns, error counts, case
// flags and lines.  Differential check: the count and the first ten
// recorded matches agree with a brute-force Hamming count over every
// alignment ending in the line.
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "fuzz_block.h"
#include "fuzz_input.h"
#include "quarn32.h"

namespace {

// Upper case of the ANSI (Windows-1252) mapping the library documents.
unsigned char Upper(unsigned char c)
{
    if ((c >= 'a' && c <= 'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7))
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

struct Match {
    size_t start, end;
};

// Every line position where an alignment of the pattern ends with at most
// k differing positions.  Positions before the line differ; with 2k <= m
// (mismatch counting) an alignment that begins before the line never
// matches, otherwise it is recorded from the line's first byte.
std::vector<Match> BruteForce(const std::string &pattern, int errors, bool exactCase, const std::string &line)
{
    const long m = static_cast<long>(pattern.size());
    const long k = errors < 0 ? 0 : (errors > m ? m : errors);
    const bool beforeLineNeverMatches = k == 0 || 2 * k <= m;
    std::vector<Match> out;
    for (long end = 0; end < static_cast<long>(line.size()); ++end) {
        const long start = end - m + 1;
        if (start < 0 && beforeLineNeverMatches)
            continue;
        long differ = 0;
        for (long j = 0; j < m; ++j) {
            const long at = start + j;
            if (at < 0) {
                ++differ;
                continue;
            }
            const unsigned char a = static_cast<unsigned char>(line[at]);
            const unsigned char b = static_cast<unsigned char>(pattern[j]);
            if (a != b && (exactCase || Upper(a) != Upper(b)))
                ++differ;
        }
        if (differ <= k)
            out.push_back({static_cast<size_t>(start < 0 ? 0 : start), static_cast<size_t>(end + 1)});
    }
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    quarn_fuzz::FuzzInput in(data, size);
    const uint8_t control = in.Byte();
    // Mostly small error counts, now and then a hostile one.
    int errors = static_cast<int8_t>(in.Byte());
    if (!(control & 4))
        errors &= 7;
    const int caseFlag = control & 1;
    const std::string pattern = in.Text();
    const std::string line = in.Text();

    QuarnMessages(0);
    auto p = std::make_unique<QuarnPattern>();
    AGrepInit(p.get());
    const int code = CompileAGrep(pattern.c_str(), errors, caseFlag, p.get());
    FUZZ_CHECK(code == 0 || code == 4 || code == 6);
    if (pattern.empty())
        FUZZ_CHECK(code == 6);
    const int count = AGrep(line.c_str(), p.get());
    if (code != 0) {
        FUZZ_CHECK(count == -1);
    } else {
        const std::vector<Match> expected = BruteForce(pattern, errors, caseFlag != 0, line);
        FUZZ_CHECK(count == static_cast<int>(expected.size()));
        for (size_t i = 0; i < expected.size() && i < QUARN_MAX_TAGS; ++i) {
            FUZZ_CHECK(p->matchStart[i] == line.c_str() + expected[i].start);
            FUZZ_CHECK(p->matchEnd[i] == line.c_str() + expected[i].end);
        }
        // A second search with the same record starts from a clean state.
        FUZZ_CHECK(AGrep(line.c_str(), p.get()) == count);
        FUZZ_CHECK(BlockAgrees(line, p.get(), AGrep, QuarnAGrepBlock));
    }
    if (control & 2) {
        // Recompiling a record that already holds storage, then emptying it.
        AGrepEmpty(p.get());
        FUZZ_CHECK(AGrep(line.c_str(), p.get()) == -1);
        AGrepInit(p.get());
        CompileAGrep(line.c_str(), errors, caseFlag, p.get());
        AGrep(pattern.c_str(), p.get());
    }
    AGrepEmpty(p.get());
    QuarnMessages(1);
    return 0;
}
