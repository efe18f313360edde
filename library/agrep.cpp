// AGREP: the approximate kind.  A pattern of m bytes with k allowed
// differences becomes m fields of w bits in a row of bit vectors; reading a
// line byte by byte, field j counts (mismatches or agreements) for the
// alignment whose pattern position j lies on the current byte, so the top
// field holds the count of the whole pattern ending there.  Counting the
// rarer event keeps w small: mismatches when 2k <= m, agreements (at least
// m - k) otherwise.  Each field's top bit is a sticky overflow flag that
// keeps a count from wrapping into its neighbour.  With no errors allowed
// the kind is a plain substring search.
#include <cstddef>
#include <cstdlib>
#include <cstring>

#include "ansi_case.h"
#include "bitlist.h"
#include "block_scan.h"
#include "byte_scan.h"
#include "quarn32.h"
#include "quarn_private.h"
#include "subst.h"

namespace quarn {

namespace {

enum SearchMode : int32_t {
    kNotCompiled = -1,
    kMatchCounting = 0,
    kMismatchCounting = 1,
    kExact = 2,
};

// Counters live in fewer than this many bits.
constexpr int32_t kMaxTotalBits = 512;

int32_t Fail(QuarnPattern *p, int32_t code, const char *text)
{
    p->errorCode = code;
    ShowErrorBox(text, gCaptionApprox);
    return code;
}

void ClearMatches(QuarnPattern *p)
{
    for (int i = 0; i < QUARN_MAX_TAGS; ++i) {
        p->matchStart[i] = nullptr;
        p->matchEnd[i] = nullptr;
    }
}

QuarnBitList *StateVectors(QuarnApproxBody &a, int i)
{
    // Release order of AGrepEmpty; the six vectors lie one after the other.
    static_assert(offsetof(QuarnApproxBody, scratch) == 5 * sizeof(QuarnBitList), "state vectors in a row");
    return &a.valueMask + i;
}

constexpr int kStateVectorCount = 6;

// 1 + the smallest c with 2^c >= limit + 1: room for the limit plus the
// overflow bit.
int32_t FieldWidth(int32_t limit)
{
    int32_t c = 0;
    while ((int64_t{1} << c) < int64_t{limit} + 1)
        ++c;
    return c + 1;
}

// Marks, for every pattern position, whether byte `pattern[j]` agrees:
// sets (match counting) or clears (mismatch counting) the lowest bit of
// field j in that byte's mask.
void WalkPattern(QuarnApproxBody &a, QuarnBitList *marker, const char *pattern, bool counting)
{
    BitClear(marker);
    BitSet(marker, 0);
    for (const unsigned char *s = reinterpret_cast<const unsigned char *>(pattern); *s; ++s) {
        if (counting)
            BitOrInto(&a.charMask[*s], marker);
        else
            BitAndNotInto(&a.charMask[*s], marker);
        BitShiftLeft(marker, a.fieldWidth);
    }
}

bool Holds(const QuarnBitList &v, int32_t words)
{
    return v.holdsStorage == 1 && v.words != nullptr && v.wordCount == words;
}

// True when the record's vectors all have the size its field width and
// total bits promise; anything else (never compiled, emptied, a failed or
// foreign record) must not be matched with.
bool BitParallelReady(QuarnApproxBody &a)
{
    if (a.fieldWidth < 1 || a.totalBits < a.fieldWidth || a.totalBits >= kMaxTotalBits ||
        a.totalBits % a.fieldWidth != 0)
        return false;
    const int32_t words = (a.totalBits + 31) / 32;
    for (int i = 0; i < kStateVectorCount; ++i)
        if (!Holds(*StateVectors(a, i), words))
            return false;
    // A successful compile allocates every character mask or fails with a
    // code; the first and last stand for all 256 so that the check stays
    // constant-time per line.
    return Holds(a.charMask[0], words) && Holds(a.charMask[255], words);
}

int32_t CountExact(const char *line, QuarnPattern *p)
{
    QuarnApproxBody &a = p->body.approx;
    const size_t patternLength = strnlen(a.exactText, QUARN_PATTERN_TEXT_SIZE);
    if (patternLength == 0 || patternLength == QUARN_PATTERN_TEXT_SIZE)
        return -1;
    const char *haystack = line;
    char *copy = nullptr;
    if (p->option == 0) {
        const size_t lineLength = std::strlen(line);
        copy = static_cast<char *>(std::malloc(lineLength + 1));
        if (copy == nullptr) {
            Fail(p, kNoMemory, "not enough memory");
            return -1;
        }
        std::memcpy(copy, line, lineLength + 1);
        AnsiUpperString(copy);
        haystack = copy;
    }
    int32_t count = 0;
    for (const char *hit = std::strstr(haystack, a.exactText); hit != nullptr;
         hit = std::strstr(hit + 1, a.exactText)) {
        // Same offsets in the caller's line as in the upper-cased copy.
        const char *at = line + (hit - haystack);
        if (count < QUARN_MAX_TAGS) {
            p->matchStart[count] = at;
            p->matchEnd[count] = at + patternLength;
        }
        ++count;
    }
    std::free(copy);
    return count;
}

// A window with at most k differing bytes leaves at least one of k + 1
// disjoint pieces of the pattern intact.  When a line holds none of the
// pieces anywhere, no byte of it can end a match and the bit-parallel pass
// is skipped.  The compiler prepares the filter in the exact-pattern field,
// which only the exact mode uses: a marker, the pieces' length and count,
// and the distinct bytes that can begin a piece.
enum PieceField {
    kPieceMarker = 0, // 'P' when the filter below is valid
    kPieceLength = 1,
    kPieceCount = 2,
    kPieceFirstCount = 3,
    kPieceFirst = 4,     // up to 8 bytes
    kPieceForms = 12,    // per pattern position j < pieces x length: the two bytes that agree
    kPieceVectors = 256, // per piece: both forms of its first and second byte, 16 bytes each
};
constexpr int kPieceVectorBytes = 4 * 16;
static_assert(kPieceVectors + 4 * kPieceVectorBytes <= QUARN_PATTERN_TEXT_SIZE, "piece vectors must fit");

void PreparePieces(QuarnPattern *p, int32_t m, int32_t k)
{
    QuarnApproxBody &a = p->body.approx;
    a.exactText[kPieceMarker] = '\0';
    const int32_t pieces = k + 1;
    const int32_t length = m / pieces;
    if (length < 2 || pieces > 4)
        return; // pieces too short to filter anything
    if (kPieceForms + 2 * pieces * length > kPieceVectors)
        return;
    unsigned char first[8];
    int count = 0;
    for (int32_t q = 0; q < pieces; ++q) {
        const unsigned char c = static_cast<unsigned char>(p->patternText[q * length]);
        const unsigned char forms[2] = {p->option != 0 ? c : AnsiLower(c), p->option != 0 ? c : AnsiUpper(c)};
        for (unsigned char f : forms) {
            bool known = false;
            for (int i = 0; i < count; ++i)
                known = known || first[i] == f;
            if (!known)
                first[count++] = f;
        }
    }
    // The bytes that agree with each covered position, as the character
    // masks have it: the pattern byte, or both its case forms.
    for (int32_t j = 0; j < pieces * length; ++j) {
        const unsigned char c = static_cast<unsigned char>(p->patternText[j]);
        a.exactText[kPieceForms + 2 * j] = static_cast<char>(p->option != 0 ? c : AnsiLower(c));
        a.exactText[kPieceForms + 2 * j + 1] = static_cast<char>(p->option != 0 ? c : AnsiUpper(c));
    }
    // The scan looks for the first two bytes of a piece side by side.
    for (int32_t q = 0; q < pieces; ++q)
        for (int b = 0; b < 2; ++b)
            for (int form = 0; form < 2; ++form)
                std::memset(a.exactText + kPieceVectors + q * kPieceVectorBytes + (2 * b + form) * 16,
                            a.exactText[kPieceForms + 2 * (q * length + b) + form], 16);
    a.exactText[kPieceLength] = static_cast<char>(length);
    a.exactText[kPieceCount] = static_cast<char>(pieces);
    a.exactText[kPieceFirstCount] = static_cast<char>(count);
    std::memcpy(a.exactText + kPieceFirst, first, static_cast<size_t>(count));
    a.exactText[kPieceMarker] = 'P';
}

// The piece filter's fields, when they are valid for the record `a`;
// null otherwise.
const unsigned char *PieceFilter(const QuarnApproxBody &a)
{
    const unsigned char *f = reinterpret_cast<const unsigned char *>(a.exactText);
    if (f[kPieceMarker] != 'P')
        return nullptr;
    const int32_t length = f[kPieceLength];
    const int32_t pieces = f[kPieceCount];
    const int count = f[kPieceFirstCount];
    if (length < 2 || pieces < 1 || pieces > 4 || count < 1 || count > 8 ||
        length * pieces > a.totalBits / a.fieldWidth || kPieceForms + 2 * pieces * length > kPieceVectors)
        return nullptr;
    return f;
}

// True when the line certainly holds no match (see PreparePieces).
bool NoPieceOccurs(const unsigned char *line, const QuarnApproxBody &a)
{
#if defined(__SSE2__)
    const unsigned char *f = PieceFilter(a);
    if (f == nullptr)
        return false;
    const int32_t length = f[kPieceLength];
    const int32_t pieces = f[kPieceCount];
    const unsigned char *forms = f + kPieceForms;
    // Candidates: positions where the first byte of some piece (either form)
    // is followed by that piece's second byte; the whole piece is then
    // compared.
    const unsigned char *vectors = f + kPieceVectors;
    auto vec = [vectors](int q, int k) {
        return _mm_loadu_si128(reinterpret_cast<const __m128i *>(vectors + q * kPieceVectorBytes + 16 * k));
    };
    auto is = [&](__m128i v, int q, int b) {
        return _mm_or_si128(_mm_cmpeq_epi8(v, vec(q, 2 * b)), _mm_cmpeq_epi8(v, vec(q, 2 * b + 1)));
    };
    auto hits = [&](__m128i v, const unsigned char *block, auto ahead) QUARN_BLOCK_READS {
        unsigned any = 0;
        if (decltype(ahead)::value) {
            const __m128i w = _mm_loadu_si128(reinterpret_cast<const __m128i *>(block + 1));
            __m128i both = _mm_setzero_si128();
            for (int32_t q = 0; q < pieces; ++q)
                both = _mm_or_si128(both, _mm_and_si128(is(v, q, 0), is(w, q, 1)));
            any = scan::Mask(both);
        } else {
            for (int32_t q = 0; q < pieces; ++q)
                any |= scan::Mask(is(v, q, 0)) & ((scan::Mask(is(v, q, 1)) >> 1) | 0x8000u);
        }
        return any;
    };
    auto occurs = [&](const unsigned char *at) {
        for (int32_t q = 0; q < pieces; ++q) {
            const int32_t j0 = q * length;
            int32_t n = 0;
            // The NUL agrees with no position, so this stops at the line's end.
            const unsigned char *form = forms + 2 * j0;
            while (n < length && (at[n] == form[2 * n] || at[n] == form[2 * n + 1]))
                ++n;
            if (n == length)
                return true;
        }
        return false;
    };
    return scan::ScanText(line, hits, occurs) == nullptr;
#else
    (void)line;
    (void)a;
    return false;
#endif
}

int32_t CountBitParallel(const char *line, QuarnPattern *p)
{
    QuarnApproxBody &a = p->body.approx;
    const int32_t w = a.fieldWidth;
    const int32_t m = a.totalBits / w;
    const bool mismatches = a.searchMode == kMismatchCounting;
    QuarnBitList *counters = &a.counterState;
    QuarnBitList *overflow = &a.overflowState;
    QuarnBitList *scratch = &a.scratch;

    // Counting mismatches, a match needs m bytes of the line: a shorter line
    // has none, whatever the state would go through.
    if (mismatches && strnlen(line, static_cast<size_t>(m)) < static_cast<size_t>(m))
        return 0;
    if (mismatches && NoPieceOccurs(reinterpret_cast<const unsigned char *>(line), a))
        return 0;

    if (mismatches) {
        // Every field starts out "more than k differences": an alignment
        // that begins before the line can never match.
        BitCopy(counters, &a.valueMask);
        BitAndNotInto(counters, &a.overflowMask);
        BitCopy(overflow, &a.overflowMask);
    } else {
        BitClear(counters);
        BitClear(overflow);
    }

    int32_t count = 0;
    auto record = [&](int64_t i) {
        if (count < QUARN_MAX_TAGS) {
            // An alignment that begins before the line (match counting)
            // is recorded from the line's first byte.
            const int64_t start = i - (m - 1);
            p->matchStart[count] = line + (start < 0 ? 0 : start);
            p->matchEnd[count] = line + i + 1;
        }
        ++count;
    };
    const unsigned char *s = reinterpret_cast<const unsigned char *>(line);

    if (counters->wordCount == 2) {
        // 33 to 64 counter bits: one 64-bit word.
        auto load = [](const QuarnBitList &v) { return uint64_t{v.words[0]} | (uint64_t{v.words[1]} << 32); };
        uint64_t c = load(*counters), o = load(*overflow), x = load(*scratch);
        const uint64_t value = load(a.valueMask), top = load(a.overflowMask);
        const uint64_t threshold = load(a.threshold);
        for (int64_t i = 0; s[i] != '\0'; ++i) {
            c = ((c << w) + load(a.charMask[s[i]])) & value;
            x = c & top;
            o = ((o << w) | x) & value;
            c &= ~top;
            x = c | o;
            if (mismatches ? x < threshold : x >= threshold)
                record(i);
        }
        auto store = [](QuarnBitList *v, uint64_t bits) {
            v->words[0] = static_cast<uint32_t>(bits);
            v->words[1] = static_cast<uint32_t>(bits >> 32);
        };
        store(counters, c);
        store(overflow, o);
        store(scratch, x);
        return count;
    }

    if (counters->wordCount == 1) {
        // Patterns of up to 32 counter bits (most of them): the same steps
        // on plain words, kept in registers.
        uint32_t c = counters->words[0], o = overflow->words[0], x = scratch->words[0];
        const uint32_t value = a.valueMask.words[0], top = a.overflowMask.words[0];
        const uint32_t threshold = a.threshold.words[0];
        for (int64_t i = 0; s[i] != '\0'; ++i) {
            c = ((c << w) + a.charMask[s[i]].words[0]) & value;
            x = c & top;
            o = ((o << w) | x) & value;
            c &= ~top;
            x = c | o;
            if (mismatches ? x < threshold : x >= threshold)
                record(i);
        }
        counters->words[0] = c;
        overflow->words[0] = o;
        scratch->words[0] = x;
        return count;
    }

    for (int64_t i = 0; s[i] != '\0'; ++i) {
        BitShiftLeft(counters, w);
        BitAddInto(counters, &a.charMask[s[i]]);
        BitAndInto(counters, &a.valueMask);
        BitShiftLeft(overflow, w);
        BitAnd(scratch, counters, &a.overflowMask);
        BitOrInto(overflow, scratch);
        BitAndInto(overflow, &a.valueMask);
        BitAndNotInto(counters, &a.overflowMask);
        BitOr(scratch, counters, overflow);
        const int cmp = BitCompare(scratch, &a.threshold);
        const bool match = mismatches ? cmp < 0 : cmp >= 0;
        if (match)
            record(i);
    }
    return count;
}

// The bytes a line must hold for a match, for the block walk: in exact
// mode the pattern's first three bytes (every byte that upper-cases to them
// when case is ignored); counting mismatches, the first three bytes of a
// piece (see PreparePieces).
bool DescribeBytes(QuarnPattern *p, block::Filter *filter)
{
    QuarnApproxBody &a = p->body.approx;
    block::PairTest &pairs = filter->pairs;
    if (a.searchMode == kExact) {
        const unsigned char *text = reinterpret_cast<const unsigned char *>(a.exactText);
        const size_t length = strnlen(a.exactText, QUARN_PATTERN_TEXT_SIZE);
        if (length == 0 || length == QUARN_PATTERN_TEXT_SIZE)
            return false;
        block::PairAlternative &pair = pairs.alt[0];
        for (size_t j = 0; j < 3 && j < length; ++j) {
            unsigned char *list = j == 0 ? pair.first : j == 1 ? pair.second : pair.third;
            int &count = j == 0 ? pair.firstCount : j == 1 ? pair.secondCount : pair.thirdCount;
            for (unsigned b = 1; b < 256; ++b) {
                const unsigned char c = static_cast<unsigned char>(b);
                if ((p->option != 0 ? c : AnsiUpper(c)) != text[j])
                    continue;
                if (count == 8)
                    return false;
                block::AddToList(list, &count, c);
            }
            if (count == 0)
                return false;
        }
        pairs.count = 1;
        return true;
    }
    if (a.searchMode != kMismatchCounting || !BitParallelReady(a))
        return false;
    const unsigned char *f = PieceFilter(a);
    if (f == nullptr)
        return false;
    const int32_t length = f[kPieceLength];
    pairs.count = f[kPieceCount];
    for (int q = 0; q < pairs.count; ++q) {
        const unsigned char *forms = f + kPieceForms + 2 * (q * length);
        block::PairAlternative &pair = pairs.alt[q];
        for (int form = 0; form < 2; ++form) {
            if (forms[form] == 0 || forms[2 + form] == 0 || (length > 2 && forms[4 + form] == 0))
                return false;
            block::AddToList(pair.first, &pair.firstCount, forms[form]);
            block::AddToList(pair.second, &pair.secondCount, forms[2 + form]);
            if (length > 2)
                block::AddToList(pair.third, &pair.thirdCount, forms[4 + form]);
        }
    }
    return true;
}

} // namespace

} // namespace quarn

using namespace quarn;

extern "C" {

int32_t QUARN_API AGrepInit(QuarnPattern *p)
{
    if (p == nullptr)
        return 1;
    QuarnApproxBody &a = p->body.approx;
    p->errorCode = 1;
    p->option = 1;
    ClearMatches(p);
    a.searchMode = kNotCompiled;
    a.fieldWidth = -1;
    a.totalBits = -1;
    a.exactText[0] = '\0';
    for (int i = 0; i < kStateVectorCount; ++i)
        *StateVectors(a, i) = QuarnBitList{};
    for (QuarnBitList &mask : a.charMask) {
        mask = QuarnBitList{};
        BitAllocZeroed(&mask, 1); // a failure leaves the mask empty, which is fine
    }
    return 1;
}

int32_t QUARN_API AGrepEmpty(QuarnPattern *p)
{
    if (p == nullptr)
        return 1;
    QuarnApproxBody &a = p->body.approx;
    for (QuarnBitList &mask : a.charMask)
        if (!BitRelease(&mask))
            return 0;
    // Released whatever the search mode: a record compiled bit-parallel and
    // then exact still holds these.
    for (int i = 0; i < kStateVectorCount; ++i)
        if (!BitRelease(StateVectors(a, i)))
            return 0;
    p->errorCode = 1;
    a.searchMode = kNotCompiled;
    return 1;
}

int32_t QUARN_API CompileAGrep(const char *pattern, int32_t errors, int32_t caseFlag, QuarnPattern *p)
{
    if (p == nullptr)
        return kNoPattern;
    const size_t length = pattern == nullptr ? 0 : std::strlen(pattern);
    if (length >= QUARN_PATTERN_TEXT_SIZE)
        return Fail(p, kPatternTooLong, "pattern too long");
    if (length == 0)
        return Fail(p, kNoPattern, "no pattern");
    QuarnApproxBody &a = p->body.approx;
    std::memcpy(p->patternText, pattern, length + 1);
    p->option = caseFlag;
    const int32_t m = static_cast<int32_t>(length);
    const int32_t k = errors < 0 ? 0 : (errors > m ? m : errors);

    if (k == 0) {
        a.searchMode = kExact;
        std::memcpy(a.exactText, p->patternText, length + 1);
        if (caseFlag == 0)
            AnsiUpperString(a.exactText);
        p->errorCode = kOk;
        return kOk;
    }

    const bool mismatches = 2 * k <= m;
    const int32_t limit = mismatches ? k : m - k;
    const int32_t w = FieldWidth(limit);
    const int64_t totalBits = int64_t{w} * m;
    a.searchMode = mismatches ? kMismatchCounting : kMatchCounting;
    a.fieldWidth = w;
    a.totalBits = static_cast<int32_t>(totalBits); // below 2^18: m < 512, w <= 10
    if (totalBits >= kMaxTotalBits)
        return Fail(p, kPatternTooLong, "pattern too long");
    const int32_t T = a.totalBits;

    bool ok = true;
    for (int i = 0; i < kStateVectorCount; ++i)
        if (i != 0 && i != 1) // value and overflow masks are built below
            ok = BitAllocZeroed(StateVectors(a, i), T) && ok;
    if (!ok)
        return Fail(p, kNoMemory, "not enough memory");

    // Threshold: the limit in the top field; k + 1 when counting mismatches
    // so that "below the threshold" means "at most k".
    a.threshold.words[0] = static_cast<uint32_t>(limit);
    BitShiftLeft(&a.threshold, w * (m - 1));
    if (mismatches) {
        BitClear(&a.scratch);
        BitSet(&a.scratch, w * (m - 1));
        BitAddInto(&a.threshold, &a.scratch);
    }

    if (!BitAllocZeroed(&a.overflowMask, T))
        return Fail(p, kNoMemory, "not enough memory");
    for (int32_t j = 0; j < m; ++j) {
        BitShiftLeft(&a.overflowMask, w);
        BitSet(&a.overflowMask, w - 1);
    }

    // Character masks: match counting starts from "no position agrees",
    // mismatch counting from "every position differs" (lowest bit of every
    // field set, made in the scratch vector).
    BitCopy(&a.scratch, &a.overflowMask);
    BitShiftRight(&a.scratch, w - 1);
    for (QuarnBitList &mask : a.charMask) {
        ok = mismatches ? BitAllocCopy(&mask, &a.scratch, T) : BitAllocZeroed(&mask, T);
        if (!ok)
            return Fail(p, kNoMemory, "not enough memory");
    }

    QuarnBitList marker{};
    if (!BitAllocZeroed(&marker, T))
        return Fail(p, kNoMemory, "not enough memory");
    if (caseFlag != 0) {
        WalkPattern(a, &marker, p->patternText, !mismatches);
    } else {
        // Both case forms of every pattern byte agree.
        char *copy = static_cast<char *>(std::malloc(length + 1));
        if (copy == nullptr) {
            BitRelease(&marker);
            return Fail(p, kNoMemory, "not enough memory");
        }
        std::memcpy(copy, pattern, length + 1);
        AnsiLowerString(copy);
        WalkPattern(a, &marker, copy, !mismatches);
        AnsiUpperString(copy);
        WalkPattern(a, &marker, copy, !mismatches);
        std::free(copy);
    }

    // All ones plus the marker, which now stands at bit T (or was shifted
    // out of the words), leaves exactly bits 0 .. T-1 set.
    if (!BitAllocOnes(&a.valueMask, T)) {
        BitRelease(&marker);
        return Fail(p, kNoMemory, "not enough memory");
    }
    BitAddInto(&a.valueMask, &marker);
    BitRelease(&marker);
    if (mismatches)
        PreparePieces(p, m, k);
    else
        a.exactText[0] = '\0';
    p->errorCode = kOk;
    return kOk;
}

int32_t QUARN_API AGrep(const char *line, QuarnPattern *p)
{
    if (p == nullptr || line == nullptr || p->errorCode != kOk)
        return -1;
    QuarnApproxBody &a = p->body.approx;
    if (a.searchMode == kExact) {
        ClearMatches(p);
        return CountExact(line, p);
    }
    if ((a.searchMode != kMatchCounting && a.searchMode != kMismatchCounting) || !BitParallelReady(a))
        return -1;
    ClearMatches(p);
    return CountBitParallel(line, p);
}

int32_t QUARN_API AGrepSubsBuild(const char *tmpl, char *dest, int32_t capacity, QuarnPattern *p)
{
    return SubsBuild({gCaptionApprox, "no pattern", false}, tmpl, dest, capacity, p);
}

int32_t QUARN_API AGrepSubstitute(char *line, const char *tmpl, char *dest, int32_t capacity, QuarnPattern *p)
{
    return Substitute({gCaptionApprox, "no pattern", false}, line, tmpl, dest, capacity, p);
}

} // extern "C"

// Without a piece filter: the per-name counters of CountBitParallel run over
// the whole block, starting afresh after each NUL, and a name in which some
// byte ends a match goes to AGrep, which records it.  Patterns of up to 32
// counter bits only (the others stay name by name).
bool quarn::block::ScanApproxBits(Walk &walk, QuarnPattern *p)
{
    if (p->errorCode != kOk)
        return false;
    QuarnApproxBody &a = p->body.approx;
    const bool mismatches = a.searchMode == kMismatchCounting;
    if ((!mismatches && a.searchMode != kMatchCounting) || !BitParallelReady(a) || a.counterState.wordCount != 1)
        return false;
    const int32_t w = a.fieldWidth;
    const uint32_t value = a.valueMask.words[0], top = a.overflowMask.words[0], threshold = a.threshold.words[0];
    uint32_t masks[256];
    for (int c = 0; c < 256; ++c)
        masks[c] = a.charMask[c].words[0];
    const uint32_t c0 = mismatches ? value & ~top : 0, o0 = mismatches ? top : 0;
    uint32_t c = c0, o = o0;
    const unsigned char *end = walk.NamesEnd();
    const unsigned char *name = walk.Begin();
    for (const unsigned char *s = name; s < end; ++s) {
        if (*s == '\0') {
            walk.Pass(s);
            name = s + 1;
            c = c0;
            o = o0;
            continue;
        }
        c = ((c << w) + masks[*s]) & value;
        const uint32_t x = c & top;
        o = ((o << w) | x) & value;
        c &= ~top;
        const uint32_t state = c | o;
        if (mismatches ? state < threshold : state >= threshold) {
            const unsigned char *nul =
                static_cast<const unsigned char *>(std::memchr(s, '\0', static_cast<size_t>(end - s)));
            if (!walk.Judge(name, nul))
                return true;
            s = nul;
            name = nul + 1;
            c = c0;
            o = o0;
        }
    }
    return true;
}

bool quarn::block::DescribeApproxNames(QuarnPattern *p, Filter *filter)
{
    *filter = Filter{};
    if (p->errorCode != kOk || !DescribeBytes(p, filter))
        return false;
    filter->kind = Filter::kPairs;
    return true;
}
