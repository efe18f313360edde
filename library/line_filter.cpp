// Derivation of the block filter of the file search from a compiled regular
// expression, and the bulk scans that use it (see line_filter.h).
#include "line_filter.h"

#include <cstring>

#if defined(__SSE2__) && !defined(QUARN_SCALAR_LINE_FILTER)
#include <emmintrin.h>
#endif

#include "rgrep_program.h"

// QUARN_SCALAR_LINE_FILTER builds the portable scans only, as on targets
// without SSE2 (32-bit Windows), so that tests on this machine cover them.

namespace quarn::linefilter {

using namespace rgrep;

int ByteSet::Count() const
{
    int n = 0;
    for (unsigned char b : bits)
        for (; b != 0; b = static_cast<unsigned char>(b & (b - 1)))
            ++n;
    return n;
}

namespace {

// Rough frequency of each byte value in running text, in parts per 10,000;
// it only ranks the sets of a run against each other.
struct Frequencies {
    unsigned short perTenThousand[256];
    constexpr Frequencies() : perTenThousand{}
    {
        for (int c = 0; c < 256; ++c)
            perTenThousand[c] = 2;
        for (int c = 0x21; c < 0x7f; ++c)
            perTenThousand[c] = 25; // punctuation, digits
        for (int c = 'A'; c <= 'Z'; ++c)
            perTenThousand[c] = 30;
        const char *lower = "etaoinsrhldcumfpgwybvkxjqz";
        const unsigned short weight[26] = {1000, 700, 650, 600, 550, 550, 500, 500, 400, 330, 300, 230, 230,
                                           200,  180, 160, 160, 150, 150, 120, 80,  60,  15,  10,  10,  7};
        for (int i = 0; i < 26; ++i)
            perTenThousand[static_cast<unsigned char>(lower[i])] = weight[i];
        perTenThousand[static_cast<unsigned char>(' ')] = 1500;
        perTenThousand[static_cast<unsigned char>('\n')] = 900;
        perTenThousand[static_cast<unsigned char>('\t')] = 50;
        perTenThousand[0] = 0;
    }
};

constexpr Frequencies kFrequency;

double Frequency(const ByteSet &set)
{
    long sum = 0;
    for (int c = 1; c < 256; ++c)
        if (set.Has(static_cast<unsigned char>(c)))
            sum += kFrequency.perTenThousand[c];
    return sum >= 10000 ? 1.0 : static_cast<double>(sum) / 10000.0;
}

// Above this many expected candidates per byte the filter costs more than
// it saves on lines of a dozen bytes.
constexpr double kMostCandidates = 1.0 / 24;

bool IsLetter(unsigned char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// The bytes one single-position element consumes.  The matcher never
// consumes the terminating NUL, so no set holds 0.
bool SetOf(const unsigned char *el, bool crLfToLf, ByteSet &set)
{
    std::memset(set.bits, 0, sizeof set.bits);
    switch (el[0]) {
    case CHAR_ANYCASE:
        set.Add(el[1]);
        if (IsLetter(el[1]))
            set.Add(static_cast<unsigned char>(el[1] ^ 0x20));
        break;
    case CHAR:
        set.Add(el[1]);
        break;
    case ANY:
        for (int c = 1; c < 256; ++c)
            set.Add(static_cast<unsigned char>(c));
        break;
    case CLASS:
    case NOT_CLASS:
        for (int c = 1; c < 256; ++c) {
            const bool member = ((el[1 + (c >> 3)] >> (c & 7)) & 1) != 0;
            if (member == (el[0] == CLASS))
                set.Add(static_cast<unsigned char>(c));
        }
        break;
    default:
        return false;
    }
    set.bits[0] &= 0xfe;
    if (crLfToLf && set.Has('\n'))
        set.Add('\r');
    return true;
}

void Unite(ByteSet &into, const ByteSet &other)
{
    for (int i = 0; i < 32; ++i)
        into.bits[i] = static_cast<unsigned char>(into.bits[i] | other.bits[i]);
}

// Range tests whose union covers `set`: a letter in both cases as one
// test, otherwise its ranges, the closest ones merged until three remain.
int TestsFor(const ByteSet &set, RangeTest *tests)
{
    const int count = set.Count();
    if (count == 2) {
        int c = 'A';
        while (c <= 'Z' && !(set.Has(static_cast<unsigned char>(c)) && set.Has(static_cast<unsigned char>(c | 0x20))))
            ++c;
        if (c <= 'Z') {
            tests[0] = {0x20, static_cast<unsigned char>(c | 0x20), 0};
            return 1;
        }
    }
    int low[128], high[128], n = 0;
    for (int c = 1; c < 256; ++c) {
        if (!set.Has(static_cast<unsigned char>(c)))
            continue;
        if (n > 0 && high[n - 1] == c - 1)
            high[n - 1] = c;
        else {
            low[n] = high[n] = c;
            ++n;
        }
    }
    while (n > kMaxTests) {
        int best = 0;
        for (int i = 1; i + 1 < n; ++i)
            if (low[i + 1] - high[i] < low[best + 1] - high[best])
                best = i;
        high[best] = high[best + 1];
        for (int i = best + 1; i + 1 < n; ++i) {
            low[i] = low[i + 1];
            high[i] = high[i + 1];
        }
        --n;
    }
    for (int i = 0; i < n; ++i)
        tests[i] = {0, static_cast<unsigned char>(low[i]), static_cast<unsigned char>(high[i] - low[i])};
    return n;
}

// Collects the runs of one alternative and keeps the most selective.
class RunBuilder {
public:
    explicit RunBuilder(Run &best) : best_(best) { best_.length = 0; }

    void Append(const ByteSet &set)
    {
        if (current_.length == kMaxRun)
            Close();
        current_.sets[current_.length++] = set;
    }

    void Close()
    {
        if (current_.length > 0) {
            const double score = Score(current_);
            if (best_.length == 0 || score < bestScore_) {
                best_ = current_;
                bestScore_ = score;
            }
        }
        current_.length = 0;
    }

    bool Found() const { return best_.length > 0; }
    double BestScore() const { return bestScore_; }

private:
    // Expected candidates per byte when the rarest positions are probed;
    // fills in those probes.  Positions next to each other in text are
    // not independent ("to" is far more common than t times o), hence
    // more than two probes where the run allows.
    static double Score(Run &run)
    {
        double f[kMaxRun];
        bool taken[kMaxRun] = {};
        for (int i = 0; i < run.length; ++i)
            f[i] = Frequency(run.sets[i]);
        double expected = 1;
        run.probeCount = 0;
        while (run.probeCount < kMaxProbes && run.probeCount < run.length) {
            int rarest = -1;
            for (int i = 0; i < run.length; ++i)
                if (!taken[i] && (rarest < 0 || f[i] < f[rarest]))
                    rarest = i;
            taken[rarest] = true;
            Probe &probe = run.probes[run.probeCount++];
            probe.offset = rarest;
            probe.testCount = TestsFor(run.sets[rarest], probe.tests);
            expected *= f[rarest];
        }
        return expected;
    }

    Run &best_;
    Run current_{};
    double bestScore_ = 0;
};

constexpr int kProgramSize = QUARN_PROGRAM_SIZE;

} // namespace

bool Build(const QuarnPattern &pattern, bool crLfToLf, LineFilter &out)
{
    out.runCount = 0;
    out.reach = 1;
    if (pattern.errorCode != 0)
        return false;
    const QuarnRegexBody &rx = pattern.body.regex;
    if (rx.branchCount < 1 || rx.branchCount > QUARN_MAX_BRANCHES)
        return false;
    const unsigned char *program = rx.program;
    double expected = 0;
    int pc = 0;
    for (int alt = 0; alt < rx.branchCount; ++alt) {
        // The matcher runs the alternatives from branchStart; they must be
        // the ones read here.
        if (rx.branchStart[alt] != program + pc)
            return false;
        Run &run = out.runs[out.runCount];
        RunBuilder builder(run);
        bool impossible = false;
        // The set of the byte right before the next one consumed, when it
        // is known: the last single position, widened by repeaters since.
        ByteSet before{};
        bool haveBefore = false;
        for (;;) {
            if (pc >= kProgramSize)
                return false;
            const unsigned char op = program[pc];
            if (op == END || op == BRANCH)
                break;
            ByteSet set;
            switch (op) {
            case CHAR_ANYCASE:
            case CHAR:
            case ANY:
            case CLASS:
            case NOT_CLASS:
                if (pc + ElementSize(program + pc) > kProgramSize)
                    return false;
                SetOf(program + pc, crLfToLf, set);
                if (set.Count() == 0)
                    impossible = true;
                builder.Append(set);
                before = set;
                haveBefore = true;
                break;
            case LITERAL_ANYCASE:
            case LITERAL: {
                int i = pc + 1;
                for (; i < kProgramSize && program[i] != 0; ++i) {
                    const unsigned char one[2] = {op == LITERAL ? CHAR : CHAR_ANYCASE, program[i]};
                    SetOf(one, crLfToLf, set);
                    builder.Append(set);
                }
                if (i >= kProgramSize)
                    return false;
                haveBefore = false; // a literal is the whole program
                pc = i + 1;
                continue;
            }
            case LINE_START:
            case LINE_END:
            case WORD_START:
            case WORD_END:
            case TAG_START:
            case TAG_END:
                break; // consume nothing: the bytes on either side are adjacent
            case BACKREF:
                // Consumes an unknown number of bytes.
                builder.Close();
                haveBefore = false;
                break;
            case STAR:
            case OPTIONAL: {
                // The operand may be absent: it ends the run.  The byte in
                // front of whatever follows is either the operand's or the
                // one that came before the repeater.
                if (pc + 1 >= kProgramSize ||
                    !(program[pc + 1] == CHAR_ANYCASE || program[pc + 1] == CHAR || program[pc + 1] == ANY ||
                      program[pc + 1] == CLASS || program[pc + 1] == NOT_CLASS))
                    return false;
                const int size = ElementSize(program + pc);
                if (pc + size > kProgramSize || program[pc + size - 1] != END)
                    return false;
                SetOf(program + pc + 1, crLfToLf, set);
                builder.Close();
                if (haveBefore) {
                    Unite(before, set);
                    builder.Append(before);
                }
                break;
            }
            default:
                return false; // not a program this code knows
            }
            pc += ElementSize(program + pc);
        }
        builder.Close();
        const bool branch = program[pc] == BRANCH;
        if (branch != (alt + 1 < rx.branchCount))
            return false; // alternatives other than the ones the matcher runs
        if (branch)
            ++pc;
        if (impossible)
            continue; // this alternative never matches: no candidates from it
        if (!builder.Found())
            return false; // it may match with no particular byte present
        expected += builder.BestScore();
        if (expected > kMostCandidates)
            return false;
        for (int k = 0; k < run.probeCount; ++k)
            if (run.probes[k].offset + 1 > out.reach)
                out.reach = run.probes[k].offset + 1;
        ++out.runCount;
    }
    return true;
}

namespace {

bool RunAt(const Run &run, const unsigned char *at, const unsigned char *end)
{
    if (end - at < run.length)
        return false;
    for (int i = 0; i < run.length; ++i)
        if (!run.sets[i].Has(at[i]))
            return false;
    return true;
}

[[maybe_unused]] bool AnyRunAt(const LineFilter &filter, const unsigned char *at, const unsigned char *end)
{
    for (int r = 0; r < filter.runCount; ++r)
        if (RunAt(filter.runs[r], at, end))
            return true;
    return false;
}

} // namespace

namespace {

// Number of set bits, without relying on a population-count instruction,
// which the baseline x86 targets lack.
[[maybe_unused]] int CountBits(uint64_t x)
{
    x = x - ((x >> 1) & 0x5555555555555555ull);
    x = (x & 0x3333333333333333ull) + ((x >> 2) & 0x3333333333333333ull);
    x = (x + (x >> 4)) & 0x0f0f0f0f0f0f0f0full;
    return static_cast<int>((x * 0x0101010101010101ull) >> 56);
}

// 0x80 in each byte of `w` that is 0, nothing elsewhere (no carries cross
// from one byte into the next).
[[maybe_unused]] uint64_t ZeroBytes(uint64_t w)
{
    const uint64_t low7 = 0x7f7f7f7f7f7f7f7full;
    return ~(((w & low7) + low7) | w | low7);
}

#if defined(__SSE2__) && !defined(QUARN_SCALAR_LINE_FILTER)

// One probe's tests as vector constants, in the cheapest form each allows.
struct VectorProbe {
    int offset;
    int testCount;
    struct {
        bool plain; // a single byte: one comparison
        __m128i orBits, low, span;
    } tests[kMaxTests];
};

inline __m128i Members(const VectorProbe &probe, __m128i v)
{
    __m128i member = _mm_setzero_si128();
    for (int t = 0; t < probe.testCount; ++t) {
        const auto &test = probe.tests[t];
        if (test.plain) {
            member = _mm_or_si128(member, _mm_cmpeq_epi8(v, test.low));
        } else {
            const __m128i x = _mm_sub_epi8(_mm_or_si128(v, test.orBits), test.low);
            member = _mm_or_si128(member, _mm_cmpeq_epi8(_mm_min_epu8(x, test.span), x));
        }
    }
    return member;
}

inline uint64_t Mask64(__m128i a, __m128i b, __m128i c, __m128i d)
{
    return static_cast<uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(a))) |
        static_cast<uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(b))) << 16 |
        static_cast<uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(c))) << 32 |
        static_cast<uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(d))) << 48;
}

#endif

} // namespace

const unsigned char *FindCandidate(const LineFilter &filter, const unsigned char *begin, const unsigned char *end)
{
    const unsigned char *p = begin;
    if (filter.runCount == 0)
        return end;
#if defined(__SSE2__) && !defined(QUARN_SCALAR_LINE_FILTER)
    VectorProbe probes[QUARN_MAX_BRANCHES][kMaxProbes];
    for (int r = 0; r < filter.runCount; ++r)
        for (int k = 0; k < filter.runs[r].probeCount; ++k) {
            const Probe &from = filter.runs[r].probes[k];
            VectorProbe &to = probes[r][k];
            to.offset = from.offset;
            to.testCount = from.testCount;
            for (int t = 0; t < from.testCount; ++t) {
                const RangeTest &test = from.tests[t];
                to.tests[t].plain = test.orBits == 0 && test.span == 0;
                to.tests[t].orBits = _mm_set1_epi8(static_cast<char>(test.orBits));
                to.tests[t].low = _mm_set1_epi8(static_cast<char>(test.low));
                to.tests[t].span = _mm_set1_epi8(static_cast<char>(test.span));
            }
        }
    // 64 start positions at a time; every load stays below `end`.
    while (end - p >= 64 + filter.reach - 1) {
        uint64_t mask = 0;
        for (int r = 0; r < filter.runCount; ++r) {
            const __m128i ones = _mm_cmpeq_epi8(_mm_setzero_si128(), _mm_setzero_si128());
            __m128i a0 = ones, a1 = ones, a2 = ones, a3 = ones;
            for (int k = 0; k < filter.runs[r].probeCount; ++k) {
                const VectorProbe &probe = probes[r][k];
                const unsigned char *q = p + probe.offset;
                const __m128i v0 = _mm_loadu_si128(reinterpret_cast<const __m128i *>(q));
                const __m128i v1 = _mm_loadu_si128(reinterpret_cast<const __m128i *>(q + 16));
                const __m128i v2 = _mm_loadu_si128(reinterpret_cast<const __m128i *>(q + 32));
                const __m128i v3 = _mm_loadu_si128(reinterpret_cast<const __m128i *>(q + 48));
                if (probe.testCount == 1 && probe.tests[0].plain) {
                    const __m128i c = probe.tests[0].low;
                    a0 = _mm_and_si128(a0, _mm_cmpeq_epi8(v0, c));
                    a1 = _mm_and_si128(a1, _mm_cmpeq_epi8(v1, c));
                    a2 = _mm_and_si128(a2, _mm_cmpeq_epi8(v2, c));
                    a3 = _mm_and_si128(a3, _mm_cmpeq_epi8(v3, c));
                } else {
                    a0 = _mm_and_si128(a0, Members(probe, v0));
                    a1 = _mm_and_si128(a1, Members(probe, v1));
                    a2 = _mm_and_si128(a2, Members(probe, v2));
                    a3 = _mm_and_si128(a3, Members(probe, v3));
                }
            }
            mask |= Mask64(a0, a1, a2, a3);
        }
        for (; mask != 0; mask &= mask - 1) {
            const unsigned char *at = p + __builtin_ctzll(mask);
            if (AnyRunAt(filter, at, end))
                return at;
        }
        p += 64;
    }
    for (; p < end; ++p)
        if (AnyRunAt(filter, p, end))
            return p;
    return end;
#else
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    // Probes of single bytes or letters in both cases (literals, mostly)
    // are tested for eight positions at once in a machine word: a byte
    // equal to the probed one becomes 0, and ZeroBytes marks it.
    bool wordProbes = true;
    for (int r = 0; r < filter.runCount; ++r)
        for (int k = 0; k < filter.runs[r].probeCount; ++k)
            if (filter.runs[r].probes[k].testCount != 1 || filter.runs[r].probes[k].tests[0].span != 0)
                wordProbes = false;
    if (wordProbes) {
        const uint64_t ones = 0x0101010101010101ull;
        for (; end - p >= 8 + filter.reach - 1; p += 8) {
            uint64_t mask = 0;
            for (int r = 0; r < filter.runCount; ++r) {
                uint64_t all = ~0ull;
                for (int k = 0; k < filter.runs[r].probeCount; ++k) {
                    const Probe &probe = filter.runs[r].probes[k];
                    uint64_t w;
                    std::memcpy(&w, p + probe.offset, sizeof w);
                    all &= ZeroBytes((w | probe.tests[0].orBits * ones) ^ (probe.tests[0].low * ones));
                }
                mask |= all;
            }
            for (; mask != 0; mask &= mask - 1) {
                const unsigned char *at = p + (__builtin_ctzll(mask) >> 3);
                if (AnyRunAt(filter, at, end))
                    return at;
            }
        }
        for (; p < end; ++p)
            if (AnyRunAt(filter, p, end))
                return p;
        return end;
    }
#endif
    // Otherwise a table of the runs whose rarest position takes a
    // byte, looked up 8 bytes at a time.  A hit at x stands for a start
    // x - offset, so starts are not met in order: the first confirmed one
    // is final only once x has passed it by the largest offset.
    uint16_t table[256] = {};
    int offset[QUARN_MAX_BRANCHES];
    int largest = 0;
    for (int r = 0; r < filter.runCount; ++r) {
        const Run &run = filter.runs[r];
        offset[r] = run.probes[0].offset;
        if (offset[r] > largest)
            largest = offset[r];
        for (int c = 1; c < 256; ++c)
            if (run.sets[offset[r]].Has(static_cast<unsigned char>(c)))
                table[c] = static_cast<uint16_t>(table[c] | (1u << r));
    }
    const unsigned char *best = end;
    for (const unsigned char *x = p; x < end; ++x) {
        while (end - x >= 8 &&
               (table[x[0]] | table[x[1]] | table[x[2]] | table[x[3]] | table[x[4]] | table[x[5]] | table[x[6]] |
                table[x[7]]) == 0)
            x += 8;
        if (x == end || (best != end && x - best >= largest))
            break;
        for (unsigned runs = table[*x]; runs != 0; runs &= runs - 1) {
            const int r = __builtin_ctz(runs);
            if (x - begin < offset[r])
                continue;
            const unsigned char *start = x - offset[r];
            if (start < best && RunAt(filter.runs[r], start, end))
                best = start;
        }
    }
    return best;
#endif
}

Span WholeShortLines(const unsigned char *begin, const unsigned char *limit, bool nulEndsLine)
{
    const unsigned char *lineStart = begin;
    long lines = 0;
    const unsigned char *p = begin;
#if defined(__SSE2__) && !defined(QUARN_SCALAR_LINE_FILTER)
    const __m128i lf = _mm_set1_epi8('\n');
    const __m128i nul = nulEndsLine ? _mm_setzero_si128() : lf;
    for (; limit - p >= 64; p += 64) {
        __m128i hit[4];
        for (int i = 0; i < 4; ++i) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + 16 * i));
            hit[i] = _mm_or_si128(_mm_cmpeq_epi8(v, lf), _mm_cmpeq_epi8(v, nul));
        }
        const uint64_t ends = Mask64(hit[0], hit[1], hit[2], hit[3]);
        if (ends == 0)
            continue;
        // Lines inside these 64 bytes are short; only the one that reaches
        // back to lineStart may be too long.
        const unsigned char *first = p + __builtin_ctzll(ends);
        if (first - lineStart + 1 > kLongestLine)
            return {static_cast<size_t>(lineStart - begin), lines};
        lines += CountBits(ends);
        lineStart = p + (63 - __builtin_clzll(ends)) + 1;
    }
#elif defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    // Eight bytes to a machine word; a line end gives 0x80 in its byte.
    const uint64_t lf = 0x0a0a0a0a0a0a0a0aull;
    for (; limit - p >= 8; p += 8) {
        uint64_t w;
        std::memcpy(&w, p, sizeof w);
        const uint64_t ends = ZeroBytes(w ^ lf) | (nulEndsLine ? ZeroBytes(w) : 0);
        if (ends == 0)
            continue;
        const unsigned char *first = p + (__builtin_ctzll(ends) >> 3);
        if (first - lineStart + 1 > kLongestLine)
            return {static_cast<size_t>(lineStart - begin), lines};
        lines += CountBits(ends);
        lineStart = p + ((63 - __builtin_clzll(ends)) >> 3) + 1;
    }
#endif
    for (; p < limit; ++p)
        if (*p == '\n' || (nulEndsLine && *p == '\0')) {
            if (p - lineStart + 1 > kLongestLine)
                break;
            ++lines;
            lineStart = p + 1;
        }
    return {static_cast<size_t>(lineStart - begin), lines};
}

} // namespace quarn::linefilter
