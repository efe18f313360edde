// The scan summary and run plans behind a regular expression's program
// (layout in rgrep_program.h): written here at compile time, and read back
// here (and in the inline readers of rgrep_plan.h) at match time.
#include "rgrep_plan.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "rgrep_private.h"
#include "rgrep_scan.h"

namespace quarn::rgrep {

// ---------------------------------------------------------------------------
// Scan hints
//
// The program rarely fills its 1056 bytes.  The compiler leaves a summary of
// the program in the unused tail of the area so that RGrep can skip, with a
// vectorised scan, the text positions where no alternative can begin.  The
// summary is validated before use (marker, length, END byte) and only ever
// narrows which positions are tried, never how one is matched.
// ---------------------------------------------------------------------------

void ClearHints(QuarnRegexBody &rx)
{
    if (rx.branchCount < QUARN_MAX_BRANCHES)
        rx.branchStart[kHintSlot] = nullptr;
}

namespace {

// Adds to `set` the bytes that the single-position element `el` can consume;
// false when it is not such an element.
bool AddFirstBytes(const unsigned char *el, unsigned char *set)
{
    switch (el[0]) {
    case CHAR_ANYCASE:
        for (int c = 1; c < 256; ++c)
            if (kFold.entry[c] == kFold.entry[el[1]])
                AddMember(set, static_cast<unsigned>(c));
        return true;
    case CHAR:
        if (el[1] != 0)
            AddMember(set, el[1]);
        return true;
    case CLASS:
    case NOT_CLASS:
        for (int c = 1; c < 256; ++c) {
            const bool member = IsMember(el + 1, static_cast<unsigned>(c));
            if (member == (el[0] == CLASS))
                AddMember(set, static_cast<unsigned>(c));
        }
        return true;
    default:
        return false;
    }
}

// ---------------------------------------------------------------------------
// Run plans
//
// Most patterns people type are a few alternatives, each a fixed run of
// single characters or classes, perhaps anchored: "\.zip$", "^W.n",
// "a[^xyz]c", "[0-9]+", "foo|bar|toto".  For those the compiler also lays
// down, before the scan summary, a table with one bit per (alternative,
// position): bit i of entry c says that run position i accepts byte c.
// RGrep then checks a candidate with one table load per character instead
// of interpreting the program, tests up to two later positions of sixteen
// candidates at once, and for an anchored single alternative looks only
// where it can match.  Like the summary, the plan only decides faster what
// the program decides; the differential tests compare the two.
// ---------------------------------------------------------------------------

struct Run {
    int length = 0;
    bool startAnchor = false;
    bool endAnchor = false;
    unsigned char sets[kPlanPositions][kSetBytes];
};

// The bytes a single-position element accepts (NUL never).
bool ElementSet(const unsigned char *el, unsigned char *set)
{
    std::memset(set, 0, kSetBytes);
    if (*el == ANY) {
        for (int c = 1; c < 256; ++c)
            AddMember(set, static_cast<unsigned>(c));
        return true;
    }
    return AddFirstBytes(el, set);
}

// Reads the alternative at `pc` as a run of single positions; false when it
// is anything else.  A repeater just before the program's END matches
// nothing and is left out.
bool ReadRun(const unsigned char *pc, Run &run)
{
    if (*pc == LINE_START) {
        run.startAnchor = true;
        ++pc;
    }
    for (;;) {
        switch (*pc) {
        case END:
        case BRANCH:
            return true;
        case LINE_END:
            run.endAnchor = true;
            return pc[1] == END;
        case STAR:
        case OPTIONAL:
            return pc[ElementSize(pc)] == END;
        case CHAR:
        case CHAR_ANYCASE:
        case ANY:
        case CLASS:
        case NOT_CLASS:
            if (run.length == kPlanPositions || !ElementSet(pc, run.sets[run.length]))
                return false;
            ++run.length;
            pc += ElementSize(pc);
            break;
        default:
            return false;
        }
    }
}

// Fills `test` (kTestBytes) with a test of the members of `set` at run
// position `offset`; a score (the number of bytes accepted, fewer is
// better) or -1 when the set has no such form.
int MakeTest(const unsigned char *set, int offset, unsigned char *test)
{
    int count = 0, lo = -1, hi = -1;
    bool contiguous = true;
    unsigned char folded[4], exact[4];
    int nFolded = 0, nExact = 0;
    for (int c = 1; c < 256; ++c) {
        if (!IsMember(set, static_cast<unsigned>(c)))
            continue;
        if (lo < 0)
            lo = c;
        else if (c != hi + 1)
            contiguous = false;
        hi = c;
        ++count;
        if (c >= 'A' && c <= 'Z' && IsMember(set, static_cast<unsigned>(c + 32)))
            continue; // taken with its lower case
        if (c >= 'a' && c <= 'z' && IsMember(set, static_cast<unsigned>(c - 32))) {
            if (nFolded < 4)
                folded[nFolded] = static_cast<unsigned char>(c);
            ++nFolded;
        } else {
            if (nExact < 4)
                exact[nExact] = static_cast<unsigned char>(c);
            ++nExact;
        }
    }
    std::memset(test, 0, kTestBytes);
    if (count == 0)
        return -1;
    test[kTOffset] = static_cast<unsigned char>(offset);
    if (nFolded + nExact <= 4) {
        test[kTKind] = kTargets;
        test[kTCount] = static_cast<unsigned char>(nFolded + nExact);
        test[kTFolded] = static_cast<unsigned char>(nFolded);
        for (int k = 0; k < nFolded + nExact; ++k)
            std::memset(test + kTVectors + 16 * k, k < nFolded ? folded[k] : exact[k - nFolded], 16);
        // A lone target keeps its OR mask in the second vector, so that
        // both of its forms cost the same.
        if (nFolded + nExact == 1)
            std::memset(test + kTVectors + 16, nFolded == 1 ? 0x20 : 0, 16);
        return count;
    }
    if (contiguous) {
        test[kTKind] = kRangeTest;
        std::memset(test + kTVectors, lo, 16);
        std::memset(test + kTVectors + 16, hi - lo, 16);
        return count;
    }
    return -1;
}

void WritePlan(QuarnRegexBody &rx, int length, unsigned char &flags)
{
    const int branches = rx.branchCount;
    if (length > kPlanOffset || branches < 1 || branches >= QUARN_MAX_BRANCHES)
        return;
    Run runs[QUARN_MAX_BRANCHES]; // 5 KiB of this call's own scratch
    int bits = 0;
    for (int b = 0; b < branches; ++b) {
        runs[b] = Run{};
        if (!ReadRun(rx.branchStart[b], runs[b]))
            return;
        const bool anchored = runs[b].startAnchor || runs[b].endAnchor;
        // Anchors only for a lone alternative; unanchored runs are not empty.
        if ((branches > 1 && anchored) || (!anchored && runs[b].length == 0))
            return;
        bits += runs[b].length;
        if (bits > kPlanPositions)
            return;
    }

    unsigned char *plan = rx.program + kPlanOffset;
    std::memset(plan, 0, kPEnd);
    int minLength = kPlanPositions;
    for (int b = 0, bit = 0; b < branches; bit += runs[b].length, ++b) {
        const Run &run = runs[b];
        for (int i = 0; i < run.length; ++i)
            for (int c = 1; c < 256; ++c)
                if (IsMember(run.sets[i], static_cast<unsigned>(c)))
                    plan[kPTable + 2 * c + (bit + i) / 8] |= static_cast<unsigned char>(1u << ((bit + i) % 8));
        plan[kPAlts + 2 * b] = static_cast<unsigned char>(run.length);
        plan[kPAlts + 2 * b + 1] = static_cast<unsigned char>(bit | (run.startAnchor ? kRunStartAnchor : 0) |
                                                              (run.endAnchor ? kRunEndAnchor : 0));
        minLength = std::min(minLength, run.length);
    }

    // The first position of every alternative, then the two most selective
    // later positions common to all of them.
    auto unionAt = [&](int k, unsigned char *set) {
        std::memset(set, 0, kSetBytes);
        for (int b = 0; b < branches; ++b)
            for (int i = 0; i < kSetBytes; ++i)
                set[i] |= runs[b].sets[k][i];
    };
    if (!runs[0].startAnchor && !runs[0].endAnchor) {
        unsigned char set[kSetBytes];
        unionAt(0, set);
        MakeTest(set, 0, plan + kPTests);
        int bestScore[2] = {0, 0};
        unsigned char *slots[2] = {plan + kPTests + kTestBytes, plan + kPTests + 2 * kTestBytes};
        for (int k = 1; k < minLength; ++k) {
            unionAt(k, set);
            unsigned char test[kTestBytes];
            const int score = MakeTest(set, k, test);
            if (score < 0 || score > 64)
                continue;
            if (slots[0][kTKind] == kNoTest || score < bestScore[0]) {
                std::memcpy(slots[1], slots[0], kTestBytes);
                bestScore[1] = bestScore[0];
                std::memcpy(slots[0], test, kTestBytes);
                bestScore[0] = score;
            } else if (slots[1][kTKind] == kNoTest || score < bestScore[1]) {
                std::memcpy(slots[1], test, kTestBytes);
                bestScore[1] = score;
            }
        }
    }
    flags |= kHintPlan;
    if (runs[0].endAnchor)
        flags |= kHintPlanLineEnd;
}

} // namespace

void WriteHints(QuarnRegexBody &rx, int length)
{
    unsigned char *program = rx.program;
    ClearHints(rx);
    if (length > kHintOffset || rx.branchCount >= QUARN_MAX_BRANCHES)
        return;
    unsigned char *h = program + kHintOffset;
    std::memset(h, 0, kHEnd);
    unsigned char flags = 0;

    // Which elements read the line start, anywhere in the program.
    for (const unsigned char *pc = program; pc < program + length && *pc != END; pc += ElementSize(pc))
        if (*pc == LINE_START || *pc == WORD_START || *pc == WORD_END)
            flags |= kHintReadsLineStart;

    // The union of what each alternative can begin with.  Leading word
    // boundaries are skipped (they consume nothing and have no side effect);
    // anything that may match without consuming, or that writes a tag before
    // its first character, makes every position a candidate.
    unsigned char *set = h + kHSet;
    bool usable = true;
    for (int b = 0; b < rx.branchCount && usable; ++b) {
        const unsigned char *pc = rx.branchStart[b];
        if (*pc == LINE_START) {
            flags |= kHintAnchored; // can only match at the text's start
            continue;
        }
        while (*pc == WORD_START || *pc == WORD_END)
            ++pc;
        usable = AddFirstBytes(pc, set);
    }
    if (usable) {
        flags |= kHintPrefilter;
        int count = 0, lo = -1, hi = -1;
        bool contiguous = true;
        for (int c = 1; c < 256; ++c) {
            if (!((set[c >> 3] >> (c & 7)) & 1))
                continue;
            if (count < 8)
                h[kHList + count] = static_cast<unsigned char>(c);
            if (lo < 0)
                lo = c;
            else if (c != hi + 1)
                contiguous = false;
            hi = c;
            ++count;
        }
        h[kHListCount] = static_cast<unsigned char>(count <= 8 ? count : 0);
        if (count == 0)
            flags |= kHintNoCandidates;
        if (count > 8 && contiguous) {
            h[kHRange] = 1;
            h[kHRangeLo] = static_cast<unsigned char>(lo);
            h[kHRangeHi] = static_cast<unsigned char>(hi);
        }
    }
    WritePlan(rx, length, flags);
    h[kHLengthLo] = static_cast<unsigned char>(length & 0xff);
    h[kHLengthHi] = static_cast<unsigned char>(length >> 8);
    h[kHFlags] = flags;
    h[kHMagic0] = kHintMagic0;
    h[kHMagic1] = kHintMagic1;
    rx.branchStart[kHintSlot] = program + kHintOffset;
}

namespace {

// The search vectors of one byte of a literal: the byte, then an OR mask
// that is 0x20 for a letter whose case is ignored (OR-ing 0x20 accepts
// exactly its two forms), each broadcast to 16 bytes.
void LiteralForm(unsigned char c, bool fold, unsigned char *value, unsigned char *orMask)
{
    const unsigned char lower = kFold.entry[c];
    const bool letter = fold && lower >= 'a' && lower <= 'z';
    std::memset(value, letter ? lower : c, 16);
    std::memset(orMask, letter ? 0x20 : 0, 16);
}

} // namespace

void LiteralPairVectors(const unsigned char *lit, bool fold, size_t pair, unsigned char *vectors)
{
    LiteralForm(lit[pair], fold, vectors, vectors + 16);
    LiteralForm(lit[pair + 1], fold, vectors + 32, vectors + 48);
}

namespace {

// A rough frequency of byte c in names and text (English letters by their
// usual frequency; capitals rarer unless their case is ignored), used only
// to pick which byte pair of a literal the scan looks for: the rarer the
// pair, the fewer candidates there are to compare.
int ByteFrequency(unsigned char c, bool fold)
{
    static const unsigned char kLetters[26] = {82, 15, 28, 43, 127, 22, 20, 61, 70, 2,  8, 40, 24,
                                               67, 75, 19, 1,  60,  63, 91, 28, 10, 24, 2, 20, 1};
    const unsigned char lower = kFold.entry[c];
    if (lower >= 'a' && lower <= 'z') {
        const int f = kLetters[lower - 'a'];
        return fold ? f + f / 5 : (c == lower ? f : f / 5 + 1);
    }
    if (c >= '0' && c <= '9')
        return 30;
    switch (c) {
    case ' ':
        return 150;
    case '.':
        return 40;
    case '_':
    case '-':
        return 25;
    default:
        return 5;
    }
}

} // namespace

void WriteLiteralHints(QuarnRegexBody &rx, int length)
{
    ClearHints(rx);
    if (length > kPlanOffset || rx.branchCount != 1)
        return;
    const unsigned char *lit = rx.program + 1;
    const bool fold = rx.program[0] == LITERAL_ANYCASE;
    int pair = 0;
    for (int i = 1, best = -1; lit[0] != '\0' && lit[i] != '\0'; ++i) {
        const int score = ByteFrequency(lit[i - 1], fold) * ByteFrequency(lit[i], fold);
        if (best < 0 || score < best) {
            best = score;
            pair = i - 1;
        }
    }
    LiteralPairVectors(lit, fold, static_cast<size_t>(pair), rx.program + kPlanOffset);
    unsigned char *h = rx.program + kHintOffset;
    std::memset(h, 0, kHEnd);
    h[kHLengthLo] = static_cast<unsigned char>(length & 0xff);
    h[kHLengthHi] = static_cast<unsigned char>(length >> 8);
    h[kHFlags] = kHintLiteral;
    h[kHLiteralPair] = static_cast<unsigned char>(pair);
    h[kHMagic0] = kHintMagic0;
    h[kHMagic1] = kHintMagic1;
    rx.branchStart[kHintSlot] = rx.program + kHintOffset;
}

// ---------------------------------------------------------------------------
// Reading
// ---------------------------------------------------------------------------

// Reads the scan summary `h` into `spec`; false when the walk must go
// position by position.
bool ReadHints(const unsigned char *h, int32_t options, ScanSpec *spec, bool *anchored, bool *none)
{
    const unsigned char flags = h[kHFlags];
    if (!(flags & kHintPrefilter))
        return false;
    // With line separators on, the line start moves with every separator
    // passed; positions are then walked one by one.
    if ((flags & kHintReadsLineStart) && (options & (QUARN_OPT_LF | QUARN_OPT_CR)))
        return false;
    spec->set = h + kHSet;
    spec->listCount = h[kHListCount] <= 8 ? h[kHListCount] : 0;
    spec->list = h + kHList;
    spec->range = h[kHRange] == 1;
    spec->lo = h[kHRangeLo];
    spec->hi = h[kHRangeHi];
    *anchored = (flags & kHintAnchored) != 0;
    *none = (flags & kHintNoCandidates) != 0;
    return true;
}

namespace {

inline unsigned LittleEndian(uint16_t v)
{
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    return static_cast<unsigned>(__builtin_bswap16(v));
#else
    return v;
#endif
}

// Does the run of `length` positions from table bit `bit` accept the text at
// s?  Entry 0 is empty, so the walk never passes the text's NUL.
inline bool RunAt(const unsigned char *plan, const unsigned char *s, int length, int bit)
{
    for (int i = 0; i < length; ++i) {
        uint16_t entry;
        std::memcpy(&entry, plan + kPTable + 2 * s[i], sizeof entry);
        if (!((LittleEndian(entry) >> (bit + i)) & 1u))
            return false;
    }
    return true;
}

} // namespace

// The leftmost match of a program that has a run plan.
const unsigned char *MatchPlan(const QuarnRegexBody &rx, const unsigned char *h, const unsigned char *base,
                               const unsigned char **end)
{
    const unsigned char *plan = rx.program + kPlanOffset;
    const unsigned length0 = plan[kPAlts], info0 = plan[kPAlts + 1];
    if (info0 & (kRunStartAnchor | kRunEndAnchor)) {
        // A lone anchored alternative can match at one place only.
        const unsigned char *at = base;
        if (info0 & kRunEndAnchor) {
            const size_t len = std::strlen(reinterpret_cast<const char *>(base));
            if (len < length0)
                return nullptr;
            at = base + (len - length0);
            if ((info0 & kRunStartAnchor) && at != base)
                return nullptr;
        }
        if (!RunAt(plan, at, static_cast<int>(length0), static_cast<int>(info0 & kRunFirstBit)))
            return nullptr;
        *end = at + length0;
        return at;
    }
    const int branches = rx.branchCount;
    auto found = [&](const unsigned char *at) {
        for (int b = 0; b < branches; ++b) {
            const int length = plan[kPAlts + 2 * b];
            if (RunAt(plan, at, length, plan[kPAlts + 2 * b + 1] & kRunFirstBit)) {
                *end = at + length;
                return true;
            }
        }
        return false;
    };
#if defined(__SSE2__)
    const VectorTest tests[kTests] = {VectorTest(plan + kPTests), VectorTest(plan + kPTests + kTestBytes),
                                      VectorTest(plan + kPTests + 2 * kTestBytes)};
    if (tests[0].kind() != kNoTest)
        return IsSingle(tests[0]) ? ScanRuns<1>(base, tests, nullptr, found) : ScanRuns<2>(base, tests, nullptr, found);
    // Without a vector test of the first position the summary's bit set is
    // used, unless a later test already narrows the candidates (the run
    // table checks the first byte anyway).
    const bool useSet = (h[kHFlags] & kHintPrefilter) && tests[1].kind() == kNoTest;
    return ScanRuns<0>(base, tests, useSet ? h + kHSet : nullptr, found);
#else
    (void)h;
    for (const unsigned char *s = base; *s != '\0'; ++s)
        if (found(s))
            return s;
    return nullptr;
#endif
}

} // namespace quarn::rgrep
