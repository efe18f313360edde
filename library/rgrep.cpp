// RGREP: the regular-expression kind.  CompileRGrep turns a pattern into the
// byte program of rgrep_program.h inside the caller's record; RGrep runs it
// over one line with a leftmost-first backtracking matcher whose recursion
// depth is bounded by the number of repeaters; the word-character table for
// \< and \> lives here too.  Substitution for this kind is in rgrep_subst.cpp.
#include <algorithm>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "quarn32.h"
#include "quarn_private.h"
#include "rgrep_private.h"
#include "rgrep_program.h"
#include "byte_scan.h"

namespace quarn {

using namespace rgrep;

// ---------------------------------------------------------------------------
// Word-character table
// ---------------------------------------------------------------------------

namespace {

// 0-9, A-Z, '_' and a-z as a 32-byte bit set: bit (c & 7) of byte (c >> 3).
constexpr unsigned char kDefaultWordSet[kSetBytes] = {
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xff, 0x03, // 0x30-0x39
    0xfe, 0xff, 0xff, 0x87, 0xfe, 0xff, 0xff, 0x07, // A-Z, '_', a-z
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
};

struct WordTable {
    unsigned char entry[256];
    constexpr WordTable() : entry{}
    {
        for (int c = 0; c < 256; ++c)
            entry[c] = (kDefaultWordSet[c >> 3] >> (c & 7)) & 1;
    }
};

// Laid down at load time (constant initialisation), before any call.
WordTable gWordTable;

struct FoldTable {
    unsigned char entry[256];
    constexpr FoldTable() : entry{}
    {
        for (int c = 0; c < 256; ++c)
            entry[c] = (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c + 32) : static_cast<unsigned char>(c);
    }
};

constexpr FoldTable kFold;

} // namespace

unsigned char FoldAscii(unsigned char c)
{
    return kFold.entry[c];
}

// ---------------------------------------------------------------------------
// Compiler
// ---------------------------------------------------------------------------

const char *RegexMessage(int32_t code)
{
    switch (code) {
    case kPatternTooLong:
        return "pattern too long";
    case kNoPattern:
        return "No regular expression provided";
    case kMissingBracket:
        return "Missing ]";
    case kEmptyClosure:
        return "Empty closure in beginning of pattern";
    case kIllegalClosure:
        return "Illegal closure after special character";
    case kTooManyTags:
        return "Too many \\(\\) pairs";
    case kNullTag:
        return "Null pattern inside \\(\\)";
    case kUnmatchedClose:
        return "Unmatched \\)";
    case kNullWord:
        return "Null pattern inside \\<\\>";
    case kCyclicalReference:
        return "Cyclical reference in tag \\number";
    case kUndeterminedReference:
        return "Undetermined reference";
    case kUnmatchedOpen:
        return "Unmatched \\(";
    case kTooManyBranches:
        return "Too many branches '|'";
    default:
        return "bad state in automaton";
    }
}

namespace {

void ClearHints(QuarnRegexBody &rx);

int32_t Fail(QuarnPattern *p, int32_t code)
{
    p->body.regex.program[0] = END;
    ClearHints(p->body.regex);
    p->errorCode = code;
    ShowErrorBox(RegexMessage(code), gCaptionRegex);
    return code;
}

bool IsSpecial(unsigned char c)
{
    return c != '\0' && std::strchr(".|^$[\\*+-", c) != nullptr;
}

} // namespace

int HexValue(unsigned char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

namespace {

// Value of up to two hex digits at pat[*i]; advances *i past them.
unsigned char ReadHex(const unsigned char *pat, size_t len, size_t *i)
{
    int value = 0;
    for (int n = 0; n < 2 && *i < len && HexValue(pat[*i]) >= 0; ++n, ++*i)
        value = value * 16 + HexValue(pat[*i]);
    return static_cast<unsigned char>(value);
}

int EscapedControl(unsigned char d)
{
    switch (d) {
    case 'b':
        return 8;
    case 'f':
        return 12;
    case 'n':
        return 10;
    case 'r':
        return 13;
    case 't':
        return 9;
    default:
        return -1;
    }
}

void AddMember(unsigned char *set, unsigned c)
{
    set[c >> 3] |= static_cast<unsigned char>(1u << (c & 7));
}

inline bool IsMember(const unsigned char *set, unsigned c)
{
    return (set[c >> 3] >> (c & 7)) & 1;
}

// Writes the program into the record's fixed area.  One byte is always kept
// free so the closing END fits whatever came before.
class ProgramWriter {
public:
    explicit ProgramWriter(unsigned char *program) : program_(program) {}

    bool Fits(int bytes) const { return pos_ + bytes <= QUARN_PROGRAM_SIZE - 1; }
    int Pos() const { return pos_; }
    unsigned char *At(int offset) { return program_ + offset; }
    void Byte(unsigned char b) { program_[pos_++] = b; }
    void SetPos(int pos) { pos_ = pos; }
    void Terminate() { program_[pos_] = END; }

private:
    unsigned char *program_;
    int pos_ = 0;
};

// Parses the class starting at pat[*i] == '['.  On success emits it and
// leaves *i after the closing ']'.
int32_t CompileClass(const unsigned char *pat, size_t len, size_t *i, ProgramWriter &out)
{
    unsigned char set[kSetBytes] = {};
    size_t j = *i + 1;
    unsigned char op = CLASS;
    if (j < len && pat[j] == '^') {
        op = NOT_CLASS;
        ++j;
    }
    if (j < len && pat[j] == '-') {
        AddMember(set, '-');
        ++j;
    }
    if (j < len && pat[j] == ']') {
        AddMember(set, ']');
        ++j;
    }
    for (;;) {
        if (j >= len)
            return kMissingBracket;
        unsigned char c = pat[j];
        if (c == ']') {
            ++j;
            break;
        }
        if (c == '-' && j + 1 < len && pat[j + 1] != ']') {
            // Bounds are the raw characters around '-'; the lower one was
            // added as a member by the step that read it.
            unsigned lo = pat[j - 1], hi = pat[j + 1];
            for (unsigned v = lo + 1; v <= hi; ++v)
                AddMember(set, v);
            j += 2;
            continue;
        }
        if (c == '\\') {
            if (j + 1 >= len)
                return kMissingBracket;
            unsigned char d = pat[j + 1];
            j += 2;
            if (d == 'x') {
                AddMember(set, ReadHex(pat, len, &j));
            } else {
                int control = EscapedControl(d);
                AddMember(set, control >= 0 ? static_cast<unsigned>(control) : d);
            }
            continue;
        }
        AddMember(set, c);
        ++j;
    }
    if (!out.Fits(1 + kSetBytes))
        return kPatternTooLong;
    out.Byte(op);
    for (unsigned char b : set)
        out.Byte(b);
    *i = j;
    return kOk;
}

// ---------------------------------------------------------------------------
// Scan hints
//
// The program rarely fills its 1056 bytes.  The compiler leaves a summary of
// the program in the unused tail of the area so that RGrep can skip, with a
// vectorised scan, the text positions where no alternative can begin.  The
// summary is validated before use (marker, length, END byte) and only ever
// narrows which positions are tried, never how one is matched.
// ---------------------------------------------------------------------------

constexpr unsigned char kHintMagic0 = 'Q', kHintMagic1 = 'h';

static_assert(kHintOffset + kHEnd <= QUARN_PROGRAM_SIZE, "hint block must fit");

// The summary is valid only while the last alternative slot, unused by a
// program of fewer than ten alternatives, points at it.  The marker cannot
// live in the program area itself: a long program owns those bytes.
constexpr int kHintSlot = QUARN_MAX_BRANCHES - 1;

void ClearHints(QuarnRegexBody &rx)
{
    if (rx.branchCount < QUARN_MAX_BRANCHES)
        rx.branchStart[kHintSlot] = nullptr;
}

bool HintsMarked(const QuarnRegexBody &rx)
{
    return rx.branchCount >= 1 && rx.branchCount < QUARN_MAX_BRANCHES &&
        rx.branchStart[kHintSlot] == rx.program + kHintOffset;
}

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

void WritePlan(QuarnRegexBody &rx, int length, unsigned char &flags);

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

constexpr int kPlanPositions = 16;
constexpr int kTests = 3; // the first position, then up to two later ones
constexpr int kTestBytes = 4 + 4 * 16;

enum PlanField {
    kPTable = 0,  // 256 little-endian 16-bit entries
    kPAlts = 512, // per alternative: run length, then first bit | anchors
    kPTests = kPAlts + 2 * QUARN_MAX_BRANCHES,
    kPEnd = kPTests + kTests * kTestBytes,
};
static_assert(kPlanOffset + kPEnd <= kHintOffset, "plan must end before the summary");

constexpr unsigned char kRunStartAnchor = 0x40, kRunEndAnchor = 0x80, kRunFirstBit = 0x1f;

// A test of one run position, sixteen candidates at a time: the byte there
// must equal one of up to four targets, the first `folded` of them compared
// after OR-ing 0x20 (which accepts both cases of an ASCII letter), or lie in
// a range.  The targets are stored already broadcast to 16 bytes, so a call
// sets nothing up.
enum TestField {
    kTOffset = 0, // run position 0..15
    kTKind = 1,   // 0: no test, 1: targets, 2: range (vector 0 = lo, 1 = hi - lo)
    kTCount = 2,  // 1..4 targets
    kTFolded = 3,
    kTVectors = 4, // 4 x 16 bytes
};
enum TestKind : unsigned char { kNoTest = 0, kTargets = 1, kRangeTest = 2 };

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

// The 64 bytes of search vectors for the literal's bytes `pair` and `pair` + 1.
void LiteralPairVectors(const unsigned char *lit, bool fold, size_t pair, unsigned char *vectors)
{
    LiteralForm(lit[pair], fold, vectors, vectors + 16);
    LiteralForm(lit[pair + 1], fold, vectors + 32, vectors + 48);
}

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

bool IsRepeatable(unsigned char op)
{
    return op == CHAR_ANYCASE || op == CHAR || op == ANY || op == CLASS || op == NOT_CLASS;
}

int32_t Compile(const unsigned char *pat, size_t len, int32_t caseFlag, QuarnPattern *p)
{
    QuarnRegexBody &rx = p->body.regex;
    ProgramWriter out(rx.program);

    bool literal = true;
    for (size_t k = 0; k < len && literal; ++k)
        literal = !IsSpecial(pat[k]);
    if (literal) {
        out.Byte(caseFlag != 0 ? LITERAL : LITERAL_ANYCASE);
        for (size_t k = 0; k < len; ++k)
            out.Byte(pat[k]);
        out.Byte('\0');
        out.Terminate();
        WriteLiteralHints(rx, out.Pos() + 1);
        p->errorCode = kOk;
        return kOk;
    }

    const unsigned char ordinary = caseFlag != 0 ? CHAR : CHAR_ANYCASE;
    unsigned char openTags[9];
    int openCount = 0;
    int nextTag = 1;
    int prev = -1; // offset of the previous element, -1 before the first

    auto emitChar = [&](unsigned char op, unsigned char c) -> bool {
        if (!out.Fits(2))
            return false;
        out.Byte(op);
        out.Byte(c);
        return true;
    };

    size_t i = 0;
    while (i < len) {
        const unsigned char c = pat[i];
        const int start = out.Pos();
        bool fits = true;

        switch (c) {
        case '$':
            if (i == len - 1)
                fits = out.Fits(1) && (out.Byte(LINE_END), true);
            else
                fits = emitChar(ordinary, c);
            ++i;
            break;
        case '^':
            if (i == 0 || pat[i - 1] == '|')
                fits = out.Fits(1) && (out.Byte(LINE_START), true);
            else
                fits = emitChar(ordinary, c);
            ++i;
            break;
        case '.':
            fits = out.Fits(1) && (out.Byte(ANY), true);
            ++i;
            break;
        case '|':
            if (rx.branchCount >= QUARN_MAX_BRANCHES)
                return Fail(p, kTooManyBranches);
            if (!out.Fits(1))
                return Fail(p, kPatternTooLong);
            out.Byte(BRANCH);
            rx.branchStart[rx.branchCount++] = out.At(out.Pos());
            ++i;
            break;
        case '[': {
            int32_t code = CompileClass(pat, len, &i, out);
            if (code != kOk)
                return Fail(p, code);
            break;
        }
        case '*':
        case '+':
        case '-': {
            if (i == 0)
                return Fail(p, kEmptyClosure);
            unsigned char *operand = out.At(prev);
            if (*operand == STAR || *operand == OPTIONAL) {
                ++i; // a repeated repeater adds nothing and stays previous
                continue;
            }
            if (!IsRepeatable(*operand))
                return Fail(p, kIllegalClosure);
            int size = OperandSize(*operand);
            if (c == '+') {
                // x+ is x followed by x*: copy the operand and repeat the copy.
                if (!out.Fits(size))
                    return Fail(p, kPatternTooLong);
                std::memcpy(out.At(out.Pos()), operand, static_cast<size_t>(size));
                prev = out.Pos();
                out.SetPos(prev + size);
                operand = out.At(prev);
            }
            if (!out.Fits(2))
                return Fail(p, kPatternTooLong);
            std::memmove(operand + 1, operand, static_cast<size_t>(size));
            operand[0] = c == '-' ? OPTIONAL : STAR;
            operand[1 + size] = END;
            out.SetPos(prev + size + 2);
            ++i;
            continue; // the repeater element is the previous element
        }
        case '\\': {
            if (i + 1 >= len) {
                // A trailing backslash stands for itself.
                fits = emitChar(ordinary, c);
                ++i;
                break;
            }
            const unsigned char d = pat[i + 1];
            i += 2;
            if (d == '(') {
                if (nextTag >= 10)
                    return Fail(p, kTooManyTags);
                if (!emitChar(TAG_START, static_cast<unsigned char>(nextTag)))
                    return Fail(p, kPatternTooLong);
                openTags[openCount++] = static_cast<unsigned char>(nextTag++);
            } else if (d == ')') {
                if (prev >= 0 && *out.At(prev) == TAG_START)
                    return Fail(p, kNullTag);
                if (openCount == 0)
                    return Fail(p, kUnmatchedClose);
                fits = emitChar(TAG_END, openTags[--openCount]);
            } else if (d >= '1' && d <= '9') {
                const int k = d - '0';
                if (openCount > 0 && openTags[openCount - 1] == k)
                    return Fail(p, kCyclicalReference);
                if (k >= nextTag)
                    return Fail(p, kUndeterminedReference);
                fits = emitChar(BACKREF, static_cast<unsigned char>(k));
            } else if (d == '<') {
                fits = out.Fits(1) && (out.Byte(WORD_START), true);
            } else if (d == '>') {
                if (prev >= 0 && *out.At(prev) == WORD_START)
                    return Fail(p, kNullWord);
                fits = out.Fits(1) && (out.Byte(WORD_END), true);
            } else if (d == 'x') {
                fits = emitChar(CHAR, ReadHex(pat, len, &i));
            } else if (EscapedControl(d) >= 0) {
                fits = emitChar(CHAR, static_cast<unsigned char>(EscapedControl(d)));
            } else {
                fits = emitChar(ordinary, d);
            }
            break;
        }
        default:
            fits = emitChar(ordinary, c);
            ++i;
            break;
        }
        if (!fits)
            return Fail(p, kPatternTooLong);
        prev = start;
    }

    if (openCount > 0)
        return Fail(p, kUnmatchedOpen);
    out.Terminate();
    WriteHints(rx, out.Pos() + 1);
    p->errorCode = kOk;
    return kOk;
}

} // namespace

// ---------------------------------------------------------------------------
// Matcher
// ---------------------------------------------------------------------------

namespace {

// Backtracking over k repeaters can cost n^k steps ("x.*.*.*.*y" against a
// long line without y).  When one call has retried the rest of a repeater
// many times, and the program has no tags or back references (so that the
// rest's outcome depends only on where it starts), failures are remembered
// per (repeater, position) and never tried twice.  That bounds the work by
// repeaters x positions and changes no result.  The memo belongs to one
// RGrep call (it lives in that call's stack frame), so calls in several
// threads never share it.
struct Memo {
    static constexpr size_t kBits = size_t{1} << 16; // 8 KiB
    static constexpr unsigned kAfterCalls = 4096;    // retries before the memo starts
    uint64_t bits[kBits / 64];
    uint16_t rests[QUARN_PROGRAM_SIZE / 3]; // program offsets of the rests, ascending
};

struct Matcher {
    QuarnPattern *p;
    Memo *memo;
    int32_t options;
    const unsigned char *text;      // start of the text being searched
    const unsigned char *lineStart; // where the current line begins
    unsigned tagsStarted = 0;       // bit n: TAG_START n passed during this call
    unsigned tagsEnded = 0;         // bit n: TAG_END n passed during this call

    enum MemoState : unsigned char { kMemoNotYet, kMemoOn, kMemoOff };
    MemoState memoState = kMemoNotYet;
    unsigned restCalls = 0;
    int memoRests = 0;
    size_t memoStride = 0;
    const unsigned char *memoLineStart = nullptr;

    const unsigned char *Program(const unsigned char *s, const unsigned char *pc);
    const unsigned char *Repeat(const unsigned char *s, const unsigned char *pc);
    const unsigned char *Rest(const unsigned char *s, const unsigned char *rest);
    void StartMemo();
};

// Does the single-position element `el` accept the (non-NUL) character c?
inline bool MatchOne(const unsigned char *el, unsigned char c)
{
    switch (el[0]) {
    case CHAR_ANYCASE:
        return kFold.entry[c] == kFold.entry[el[1]];
    case CHAR:
        return c == el[1];
    case ANY:
        return true;
    case CLASS:
        return IsMember(el + 1, c);
    case NOT_CLASS:
        return !IsMember(el + 1, c);
    default:
        return false;
    }
}

// True when the rest of an alternative, from `pc` to its END or BRANCH,
// holds an element whose outcome or side effects depend on tag state.
bool TouchesTags(const unsigned char *pc)
{
    for (; *pc != END && *pc != BRANCH; pc += *pc == LITERAL || *pc == LITERAL_ANYCASE
             ? 2 + std::strlen(reinterpret_cast<const char *>(pc + 1))
             : ElementSize(pc))
        if (*pc == TAG_START || *pc == TAG_END || *pc == BACKREF)
            return true;
    return false;
}

const unsigned char *Matcher::Program(const unsigned char *s, const unsigned char *pc)
{
    for (;;) {
        switch (*pc) {
        case END:
        case BRANCH:
            return s;
        case CHAR_ANYCASE:
            if (*s == '\0' || kFold.entry[*s] != kFold.entry[pc[1]])
                return nullptr;
            ++s;
            pc += 2;
            break;
        case CHAR:
            if (*s == '\0' || *s != pc[1])
                return nullptr;
            ++s;
            pc += 2;
            break;
        case ANY:
            if (*s == '\0')
                return nullptr;
            ++s;
            ++pc;
            break;
        case CLASS:
            if (*s == '\0' || !IsMember(pc + 1, *s))
                return nullptr;
            ++s;
            pc += 1 + kSetBytes;
            break;
        case NOT_CLASS:
            if (*s == '\0' || IsMember(pc + 1, *s))
                return nullptr;
            ++s;
            pc += 1 + kSetBytes;
            break;
        case LINE_START:
            if (s != lineStart)
                return nullptr;
            ++pc;
            break;
        case LINE_END:
            if (!(*s == '\0' || (*s == '\n' && (options & QUARN_OPT_LF)) || (*s == '\r' && (options & QUARN_OPT_CR))))
                return nullptr;
            ++pc;
            break;
        case TAG_START:
            if (pc[1] >= 1 && pc[1] <= 9) {
                p->matchStart[pc[1]] = reinterpret_cast<const char *>(s);
                tagsStarted |= 1u << pc[1];
            }
            pc += 2;
            break;
        case TAG_END:
            if (pc[1] >= 1 && pc[1] <= 9) {
                p->matchEnd[pc[1]] = reinterpret_cast<const char *>(s);
                tagsEnded |= 1u << pc[1];
            }
            pc += 2;
            break;
        case WORD_START:
            // s > text whenever s != line start, so s[-1] is in the text.
            if (!gWordTable.entry[*s] || (s != lineStart && gWordTable.entry[s[-1]]))
                return nullptr;
            ++pc;
            break;
        case WORD_END:
            if (s == lineStart || !gWordTable.entry[s[-1]] || gWordTable.entry[*s])
                return nullptr;
            ++pc;
            break;
        case BACKREF: {
            const unsigned n = pc[1];
            const unsigned bit = 1u << (n & 15);
            // Only a tag both started and ended during this call is known to
            // lie in the current text; anything else is an empty reference.
            if (n >= 1 && n <= 9 && (tagsStarted & bit) && (tagsEnded & bit)) {
                const unsigned char *from = reinterpret_cast<const unsigned char *>(p->matchStart[n]);
                const unsigned char *to = reinterpret_cast<const unsigned char *>(p->matchEnd[n]);
                // The referenced bytes hold no NUL, so a mismatch stops the
                // comparison at the latest at the end of the text.
                for (; from < to; ++from, ++s)
                    if (*s != *from)
                        return nullptr;
            }
            pc += 2;
            break;
        }
        case LITERAL_ANYCASE:
            for (++pc; *pc != '\0'; ++pc, ++s)
                if (*s == '\0' || kFold.entry[*s] != kFold.entry[*pc])
                    return nullptr;
            ++pc;
            break;
        case LITERAL:
            for (++pc; *pc != '\0'; ++pc, ++s)
                if (*s != *pc)
                    return nullptr;
            ++pc;
            break;
        case STAR:
        case OPTIONAL:
            return Repeat(s, pc);
        default:
            return nullptr; // NEVER and anything unknown
        }
    }
}

const unsigned char *Matcher::Repeat(const unsigned char *s, const unsigned char *pc)
{
    const unsigned char *operand = pc + 1;
    const unsigned char *rest = operand + OperandSize(*operand) + 1;
    if (*rest == END)
        return s; // a repeater that ends the program matches nothing

    const unsigned char *r;
    if (*pc == OPTIONAL) {
        if (*operand == ANY) {
            if ((r = Rest(s, rest)) != nullptr)
                return r;
            return *s != '\0' ? Rest(s + 1, rest) : nullptr;
        }
        if (*s != '\0' && MatchOne(operand, *s) && (r = Rest(s + 1, rest)) != nullptr)
            return r;
        return Rest(s, rest);
    }

    if (*operand == ANY) {
        // `.*` is matched shortest first.
        const unsigned char *q = s;
        for (; *q != '\0'; ++q)
            if ((r = Rest(q, rest)) != nullptr)
                return r;
        if ((r = Rest(q, rest)) != nullptr)
            return r;
        // The backward pass retries the positions already tried; it can only
        // come out differently when the rest reads or writes tags.
        if (!TouchesTags(rest))
            return nullptr;
        while (q > s)
            if ((r = Rest(--q, rest)) != nullptr)
                return r;
        return nullptr;
    }

    const unsigned char *q = s;
    while (*q != '\0' && MatchOne(operand, *q))
        ++q;
    for (;;) {
        if ((r = Rest(q, rest)) != nullptr)
            return r;
        if (q == s)
            return nullptr;
        --q;
    }
}

// ---------------------------------------------------------------------------
// Decides once per call whether the failure memo can and should be used.
void Matcher::StartMemo()
{
    memoState = kMemoOff;
    const unsigned char *program = p->body.regex.program;
    int rests = 0;
    for (const unsigned char *pc = program; pc < program + QUARN_PROGRAM_SIZE && *pc != END; pc += ElementSize(pc)) {
        if (*pc == TAG_START || *pc == TAG_END || *pc == BACKREF)
            return; // outcomes depend on tag positions: no memo
        if (*pc == STAR || *pc == OPTIONAL) {
            if (rests == static_cast<int>(sizeof memo->rests / sizeof *memo->rests))
                return;
            memo->rests[rests++] = static_cast<uint16_t>(pc - program + ElementSize(pc));
        }
    }
    const size_t stride = std::strlen(reinterpret_cast<const char *>(text)) + 1;
    if (rests == 0 || stride > Memo::kBits / static_cast<size_t>(rests))
        return; // too long a text for the memo: plain backtracking
    std::memset(memo->bits, 0, (static_cast<size_t>(rests) * stride + 63) / 64 * sizeof(uint64_t));
    memoRests = rests;
    memoStride = stride;
    memoLineStart = lineStart;
    memoState = kMemoOn;
}

// The rest of a repeater's program from s, through the failure memo once it
// is on.
const unsigned char *Matcher::Rest(const unsigned char *s, const unsigned char *rest)
{
    if (memoState == kMemoNotYet && ++restCalls > Memo::kAfterCalls)
        StartMemo();
    if (memoState != kMemoOn)
        return Program(s, rest);
    if (memoLineStart != lineStart) {
        // The line start moved (a separator was passed): earlier failures
        // may not hold any more.
        std::memset(memo->bits, 0, (static_cast<size_t>(memoRests) * memoStride + 63) / 64 * sizeof(uint64_t));
        memoLineStart = lineStart;
    }
    const uint16_t offset = static_cast<uint16_t>(rest - p->body.regex.program);
    const uint16_t *found = std::lower_bound(memo->rests, memo->rests + memoRests, offset);
    if (found == memo->rests + memoRests || *found != offset)
        return Program(s, rest);
    const size_t bit = static_cast<size_t>(found - memo->rests) * memoStride + static_cast<size_t>(s - text);
    if ((memo->bits[bit >> 6] >> (bit & 63)) & 1u)
        return nullptr;
    const unsigned char *r = Program(s, rest);
    if (r == nullptr)
        memo->bits[bit >> 6] |= uint64_t{1} << (bit & 63);
    return r;
}

// Candidate scan: the next text position where a match may begin.
//
// A Scanner is prepared once per RGrep call from the compiler's summary (or
// from a literal's first two bytes) and then walks the text in aligned
// 16-byte blocks.  Aligned blocks may extend past the text's NUL but never
// past its page.
// ---------------------------------------------------------------------------

struct ScanSpec {
    const unsigned char *set = nullptr; // 32-byte bit set of first bytes
    int listCount = 0;                  // 1..8: first bytes listed in `list`
    const unsigned char *list = nullptr;
    bool range = false; // first bytes form lo..hi
    unsigned char lo = 0, hi = 0;
};

#if defined(__SSE2__)
using scan::Mask;
using scan::ScanText;
using scan::Splat;

// Bit i: byte i of the 16-byte block is in the 32-byte bit set.
QUARN_BLOCK_READS inline unsigned SetMask(const unsigned char *set, const unsigned char *block)
{
    unsigned hit = 0;
    for (unsigned i = 0; i < 16; ++i)
        hit |= static_cast<unsigned>(IsMember(set, block[i])) << i;
    return hit;
}

// Runs `found` on every position whose byte is in `spec`.
template <class Found> const unsigned char *ScanCandidates(const unsigned char *s, const ScanSpec &spec, Found found)
{
    if (spec.listCount == 1) {
        const __m128i a = Splat(spec.list[0]);
        return ScanText(
            s, [&](__m128i v, const unsigned char *, auto) { return Mask(_mm_cmpeq_epi8(v, a)); }, found);
    }
    if (spec.listCount == 2) {
        const __m128i a = Splat(spec.list[0]), b = Splat(spec.list[1]);
        return ScanText(
            s,
            [&](__m128i v, const unsigned char *, auto) {
                return Mask(_mm_or_si128(_mm_cmpeq_epi8(v, a), _mm_cmpeq_epi8(v, b)));
            },
            found);
    }
    if (spec.listCount > 2) {
        __m128i bytes[8];
        const int n = spec.listCount;
        for (int i = 0; i < n; ++i)
            bytes[i] = Splat(spec.list[i]);
        return ScanText(
            s,
            [&](__m128i v, const unsigned char *, auto) {
                __m128i any = _mm_cmpeq_epi8(v, bytes[0]);
                for (int i = 1; i < n; ++i)
                    any = _mm_or_si128(any, _mm_cmpeq_epi8(v, bytes[i]));
                return Mask(any);
            },
            found);
    }
    if (spec.range) {
        const __m128i lo = Splat(spec.lo), span = Splat(static_cast<unsigned char>(spec.hi - spec.lo));
        return ScanText(
            s,
            [&](__m128i v, const unsigned char *, auto) {
                const __m128i off = _mm_sub_epi8(v, lo);
                return Mask(_mm_cmpeq_epi8(_mm_min_epu8(off, span), off));
            },
            found);
    }
    const unsigned char *set = spec.set;
    return ScanText(
        s, [set](__m128i, const unsigned char *block, auto) { return SetMask(set, block); }, found);
}
#else
template <class Found> const unsigned char *ScanCandidates(const unsigned char *s, const ScanSpec &spec, Found found)
{
    for (; *s != '\0'; ++s)
        if (((spec.set[*s >> 3] >> (*s & 7)) & 1) && found(s))
            return s;
    return nullptr;
}
#endif

// The scan summary of `rx`, or null when it is missing or not valid.
inline __attribute__((always_inline)) const unsigned char *ValidHints(const QuarnRegexBody &rx)
{
    const unsigned char *h = rx.program + kHintOffset;
    if (!HintsMarked(rx) || h[kHMagic0] != kHintMagic0 || h[kHMagic1] != kHintMagic1)
        return nullptr;
    const int length = h[kHLengthLo] | (h[kHLengthHi] << 8);
    if (length < 1 || length > kHintOffset || rx.program[length - 1] != END)
        return nullptr;
    return h;
}

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

#if defined(__SSE2__)
inline __m128i Vector(const unsigned char *test, int k)
{
    return _mm_loadu_si128(reinterpret_cast<const __m128i *>(test + kTVectors + 16 * k));
}

// Bit i: byte i of the block passes the test.  kSingle: the test is known
// to be a lone target or a range (two vectors, no loop).
template <bool kSingle> inline unsigned TestMask(const unsigned char *test, __m128i v)
{
    if (test[kTKind] == kRangeTest) {
        const __m128i off = _mm_sub_epi8(v, Vector(test, 0));
        return Mask(_mm_cmpeq_epi8(_mm_min_epu8(off, Vector(test, 1)), off));
    }
    if (kSingle)
        return Mask(_mm_cmpeq_epi8(_mm_or_si128(v, Vector(test, 1)), Vector(test, 0)));
    const __m128i folded = _mm_or_si128(v, Splat(0x20));
    const int count = test[kTCount], nFolded = test[kTFolded];
    __m128i any = _mm_cmpeq_epi8(nFolded > 0 ? folded : v, Vector(test, 0));
    for (int k = 1; k < count; ++k)
        any = _mm_or_si128(any, _mm_cmpeq_epi8(k < nFolded ? folded : v, Vector(test, k)));
    return Mask(any);
}

inline bool IsSingle(const unsigned char *test)
{
    return test[kTKind] == kRangeTest || (test[kTKind] == kTargets && test[kTCount] == 1);
}

// Narrows `mask` by a later-position test.  With the bytes ahead readable
// the test reads them; otherwise a candidate whose tested byte lies in the
// next block stays a candidate.
template <bool kAhead>
QUARN_BLOCK_READS inline unsigned Later(const unsigned char *test, unsigned mask, __m128i v, const unsigned char *block)
{
    const unsigned offset = test[kTOffset];
    if (kAhead) {
        const __m128i w = _mm_loadu_si128(reinterpret_cast<const __m128i *>(block + offset));
        return mask & (IsSingle(test) ? TestMask<true>(test, w) : TestMask<false>(test, w));
    }
    const unsigned stays = (0xffffu << (16 - offset)) & 0xffffu;
    return mask & ((IsSingle(test) ? TestMask<true>(test, v) : TestMask<false>(test, v)) >> offset | stays);
}

// Candidates: positions whose byte may begin a run and whose later
// positions pass the tests.  A candidate whose tested position lies in the
// next block stays a candidate.  kFirst: 0 no test of the first position
// (every position, or the summary's bit set `set` when non-null), 1 a lone
// target or range, 2 up to four targets.
template <int kFirst, class Found>
const unsigned char *ScanRuns(const unsigned char *s, const unsigned char *tests, const unsigned char *set, Found found)
{
    const unsigned char *second = tests + kTestBytes, *third = tests + 2 * kTestBytes;
    const bool useSecond = second[kTKind] != kNoTest, useThird = third[kTKind] != kNoTest;
    return ScanText(
        s,
        [&](__m128i v, const unsigned char *block, auto ahead) QUARN_BLOCK_READS {
            constexpr bool kAhead = decltype(ahead)::value;
            unsigned m = 0xffffu;
            if (kFirst == 1) {
                m = TestMask<true>(tests, v);
            } else if (kFirst == 2) {
                m = TestMask<false>(tests, v);
            } else if (set != nullptr) {
                m = SetMask(set, block);
            }
            // No early exit when m is 0: a frequent first byte would make
            // that branch unpredictable, and the tests cost less than a miss.
            if (useSecond)
                m = Later<kAhead>(second, m, v, block);
            if (useThird)
                m = Later<kAhead>(third, m, v, block);
            return m;
        },
        found);
}
#endif

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
    const unsigned char *tests = plan + kPTests;
    if (tests[kTKind] != kNoTest)
        return IsSingle(tests) ? ScanRuns<1>(base, tests, nullptr, found) : ScanRuns<2>(base, tests, nullptr, found);
    // Without a vector test of the first position the summary's bit set is
    // used, unless a later test already narrows the candidates (the run
    // table checks the first byte anyway).
    const bool useSet = (h[kHFlags] & kHintPrefilter) && tests[kTestBytes + kTKind] == kNoTest;
    return ScanRuns<0>(base, tests, useSet ? h + kHSet : nullptr, found);
#else
    (void)h;
    for (const unsigned char *s = base; *s != '\0'; ++s)
        if (found(s))
            return s;
    return nullptr;
#endif
}

// Leftmost occurrence of the literal `lit` in `text`, ASCII case folded when
// `fold`.  Candidates are the positions where the literal's bytes `pair`
// and `pair` + 1 occur side by side (`vectors`: their search vectors, see
// LiteralForm); the literal is then compared in full from `pair` bytes
// before.  Candidates come in text order, so the first that agrees is the
// leftmost occurrence.
const unsigned char *FindLiteral(const unsigned char *text, const unsigned char *lit, bool fold, size_t pair,
                                 const unsigned char *vectors)
{
    auto agrees = [text, lit, fold, pair](const unsigned char *at) {
        if (static_cast<size_t>(at - text) < pair)
            return false; // the literal would begin before the text
        const unsigned char *s = at - pair;
        size_t k = 0;
        if (fold) {
            while (lit[k] != '\0' && kFold.entry[s[k]] == kFold.entry[lit[k]])
                ++k;
        } else {
            while (lit[k] != '\0' && s[k] == lit[k])
                ++k;
        }
        return lit[k] == '\0';
    };
    const unsigned char *at;
#if defined(__SSE2__)
    // An ignored-case letter is compared after OR-ing 0x20, which accepts
    // exactly its two forms.  Without the bytes ahead, a candidate whose
    // second byte lies in the next block stays a candidate.
    auto load = [vectors](int k) { return _mm_loadu_si128(reinterpret_cast<const __m128i *>(vectors + 16 * k)); };
    const __m128i a = load(0), aOr = load(1), b = load(2), bOr = load(3);
    if (lit[1] == '\0') {
        at = ScanText(
            text, [&](__m128i v, const unsigned char *, auto) { return Mask(_mm_cmpeq_epi8(_mm_or_si128(v, aOr), a)); },
            agrees);
    } else {
        at = ScanText(
            text,
            [&](__m128i v, const unsigned char *block, auto ahead) QUARN_BLOCK_READS {
                const unsigned firsts = Mask(_mm_cmpeq_epi8(_mm_or_si128(v, aOr), a));
                if (decltype(ahead)::value) {
                    const __m128i w = _mm_loadu_si128(reinterpret_cast<const __m128i *>(block + 1));
                    return firsts & Mask(_mm_cmpeq_epi8(_mm_or_si128(w, bOr), b));
                }
                const unsigned seconds = Mask(_mm_cmpeq_epi8(_mm_or_si128(v, bOr), b));
                return firsts & ((seconds >> 1) | 0x8000u);
            },
            agrees);
    }
#else
    (void)vectors;
    at = nullptr;
    for (const unsigned char *s = text; *s != '\0'; ++s)
        if (agrees(s)) {
            at = s;
            break;
        }
#endif
    return at != nullptr ? at - pair : nullptr;
}

// The start of each alternative.  The record stores them as pointers into
// its own program; if the caller moved the record since compiling, they are
// found again by walking the program.
int BranchStarts(QuarnPattern *p, const unsigned char *starts[QUARN_MAX_BRANCHES])
{
    QuarnRegexBody &rx = p->body.regex;
    int count = rx.branchCount;
    if (count < 1)
        return 0;
    if (count > QUARN_MAX_BRANCHES)
        count = QUARN_MAX_BRANCHES;
    if (rx.branchStart[0] == rx.program) {
        for (int i = 0; i < count; ++i)
            starts[i] = rx.branchStart[i];
        return count;
    }
    const unsigned char *pc = rx.program;
    const unsigned char *end = rx.program + QUARN_PROGRAM_SIZE;
    int found = 0;
    starts[found++] = pc;
    for (; pc < end && *pc != END && found < count; pc += ElementSize(pc))
        if (*pc == BRANCH)
            starts[found++] = pc + 1;
    return found;
}

// Tries the alternatives at one position, in order; the end of the first
// that matches, or null.
inline const unsigned char *MatchAt(Matcher &m, const unsigned char *at, const unsigned char *const *starts,
                                    int branches)
{
    for (int b = 0; b < branches; ++b) {
        // An alternative whose first character differs, or that must begin
        // a word where none begins, fails at once.
        const unsigned char *pc = starts[b];
        if ((*pc == CHAR && pc[1] != *at) || (*pc == CHAR_ANYCASE && kFold.entry[pc[1]] != kFold.entry[*at]))
            continue;
        if (*pc == WORD_START && (!gWordTable.entry[*at] || (at != m.lineStart && gWordTable.entry[at[-1]])))
            continue;
        if (const unsigned char *end = m.Program(at, pc))
            return end;
    }
    return nullptr;
}

// Only positions whose byte can begin an alternative are tried, plus the
// text's start for alternatives anchored there.  The line start stays at
// the text's start: either no element reads it or no separator is enabled.
const unsigned char *MatchHinted(QuarnPattern *p, const unsigned char *base, const unsigned char *const *starts,
                                 int branches, int32_t options, const ScanSpec &spec, bool anchored, bool none,
                                 const unsigned char **end)
{
    Memo memo;
    Matcher m{p, &memo, options, base, base};
    if (anchored || *base == '\0') {
        if ((*end = MatchAt(m, base, starts, branches)) != nullptr)
            return base;
        if (*base == '\0' || none)
            return nullptr;
    }
    return ScanCandidates(anchored ? base + 1 : base, spec, [&](const unsigned char *at) {
        return (*end = MatchAt(m, at, starts, branches)) != nullptr;
    });
}

// Every position in turn, moving the line start past each separator that the
// options enable.
__attribute__((noinline)) const unsigned char *MatchEveryPosition(QuarnPattern *p, const unsigned char *base,
                                                                  const unsigned char *const *starts, int branches,
                                                                  int32_t options, const unsigned char **end)
{
    Memo memo;
    Matcher m{p, &memo, options, base, base};
    for (const unsigned char *s = base;;) {
        for (int b = 0; b < branches; ++b)
            if ((*end = m.Program(s, starts[b])) != nullptr)
                return s;
        if (*s == '\0')
            return nullptr;
        const unsigned char passed = *s++;
        if ((passed == '\n' && (options & QUARN_OPT_LF)) || (passed == '\r' && (options & QUARN_OPT_CR)))
            m.lineStart = s;
    }
}

// The three searches behind RGrep; each records the match and returns 1, or
// returns 0.
__attribute__((noinline)) int32_t Found(QuarnPattern *p, const unsigned char *at, const unsigned char *end)
{
    p->matchStart[0] = reinterpret_cast<const char *>(at);
    p->matchEnd[0] = reinterpret_cast<const char *>(end);
    return 1;
}

__attribute__((noinline)) int32_t SearchLiteral(QuarnPattern *p, const unsigned char *base)
{
    const unsigned char *program = p->body.regex.program;
    const unsigned char *lit = program + 1;
    const bool fold = program[0] == LITERAL_ANYCASE;
    const unsigned char *h = ValidHints(p->body.regex);
    size_t pair = 0;
    const unsigned char *vectors = program + kPlanOffset;
    unsigned char local[64];
    if (h != nullptr && (h[kHFlags] & kHintLiteral)) {
        pair = h[kHLiteralPair];
    } else {
        // A record whose summary is gone makes the first pair's vectors here.
        LiteralPairVectors(lit, fold, 0, local);
        vectors = local;
    }
    const unsigned char *at = FindLiteral(base, lit, fold, pair, vectors);
    if (at == nullptr)
        return 0;
    return Found(p, at, at + std::strlen(reinterpret_cast<const char *>(lit)));
}

__attribute__((noinline)) int32_t SearchPlan(QuarnPattern *p, const unsigned char *h, const unsigned char *base)
{
    const unsigned char *end = nullptr;
    const unsigned char *at = MatchPlan(p->body.regex, h, base, &end);
    return at != nullptr ? Found(p, at, end) : 0;
}

__attribute__((noinline)) int32_t SearchProgram(QuarnPattern *p, const unsigned char *h, const unsigned char *base)
{
    const int32_t options = gOptions;
    const unsigned char *program = p->body.regex.program;
    const unsigned char *local[QUARN_MAX_BRANCHES];
    const unsigned char *const *starts = local;
    int branches = p->body.regex.branchCount;
    if (branches >= 1 && branches <= QUARN_MAX_BRANCHES && p->body.regex.branchStart[0] == program)
        starts = p->body.regex.branchStart;
    else
        branches = BranchStarts(p, local);
    ScanSpec spec;
    bool anchored = false, none = false;
    const unsigned char *at;
    const unsigned char *end = nullptr;
    if (h != nullptr && ReadHints(h, options, &spec, &anchored, &none))
        at = MatchHinted(p, base, starts, branches, options, spec, anchored, none, &end);
    else
        at = MatchEveryPosition(p, base, starts, branches, options, &end);
    return at != nullptr ? Found(p, at, end) : 0;
}

} // namespace

} // namespace quarn

using namespace quarn;
using namespace quarn::rgrep;

extern "C" {

int32_t QUARN_API CompileRGrep(const char *pattern, int32_t caseFlag, QuarnPattern *p)
{
    if (p == nullptr)
        return kNoPattern;
    if (pattern == nullptr || *pattern == '\0')
        return Fail(p, kNoPattern);
    const size_t len = strnlen(pattern, QUARN_PATTERN_TEXT_SIZE);
    if (len >= QUARN_PATTERN_TEXT_SIZE)
        return Fail(p, kPatternTooLong);

    std::memcpy(p->patternText, pattern, len + 1);
    p->option = caseFlag;
    p->body.regex.branchStart[0] = p->body.regex.program;
    p->body.regex.branchCount = 1;
    return Compile(reinterpret_cast<const unsigned char *>(pattern), len, caseFlag, p);
}

int32_t QUARN_API RGrep(const char *text, QuarnPattern *p)
{
    if (p == nullptr || text == nullptr || p->errorCode != 0)
        return -1;
    for (int n = 0; n < QUARN_MAX_TAGS; ++n)
        p->matchStart[n] = nullptr;
    p->matchEnd[0] = nullptr;

    // Each kind of program has its own search, entered by a tail call, so
    // that the short searches pay for no more registers than they use.
    const unsigned char *base = reinterpret_cast<const unsigned char *>(text);
    const unsigned char *program = p->body.regex.program;
    if ((program[0] == LITERAL || program[0] == LITERAL_ANYCASE) && p->body.regex.branchCount == 1)
        return SearchLiteral(p, base);
    const unsigned char *h = ValidHints(p->body.regex);
    if (h != nullptr && (h[kHFlags] & kHintPlan) &&
        !((gOptions & (QUARN_OPT_LF | QUARN_OPT_CR)) && (h[kHFlags] & (kHintPlanLineEnd | kHintReadsLineStart))))
        return SearchPlan(p, h, base);
    return SearchProgram(p, h, base);
}

void QUARN_API InitWordCharTable(void)
{
    for (int c = 0; c < 256; ++c)
        gWordTable.entry[c] = (kDefaultWordSet[c >> 3] >> (c & 7)) & 1;
}

void QUARN_API AddWordChar(const char *chars)
{
    if (chars == nullptr)
        return;
    for (const unsigned char *c = reinterpret_cast<const unsigned char *>(chars); *c != '\0'; ++c)
        gWordTable.entry[*c] = 1;
}

void QUARN_API RemoveWordChar(const char *chars)
{
    if (chars == nullptr)
        return;
    for (const unsigned char *c = reinterpret_cast<const unsigned char *>(chars); *c != '\0'; ++c)
        gWordTable.entry[*c] = 0;
}

} // extern "C"
