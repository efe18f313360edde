// Reads a regular expression's program for what every match must contain:
// runs of single-byte positions that lie side by side in the text, and
// whether an alternative is tied to the start or the end of the text.  The
// block walk uses this to pass over names that cannot match; RGrep itself
// still judges every name the walk stops at.
#include <cstring>

#include "quarn_private.h"
#include "rgrep_block.h"
#include "rgrep_match.h"
#include "rgrep_plan.h"
#include "rgrep_private.h"
#include "rgrep_program.h"

namespace quarn::rgrep {

namespace {

using block::EndTest;
using block::Filter;
using block::PairAlternative;

// Positions kept per alternative; a longer program keeps its first ones,
// which is enough to choose a pair and the ends.
constexpr int kMaxPositions = 64;

struct Set {
    unsigned char bits[kSetBytes];
};

// An alternative read as runs of single-byte positions ("segments") cut by
// elements of varying length.
struct Alternative {
    Set position[kMaxPositions];
    int segment[kMaxPositions]; // segment of each position
    int count = 0;
    bool startAnchored = false; // LINE_START before anything else
    bool endAnchored = false;   // LINE_END after everything else
    bool cutBeforeFirst = false;
    bool cutAfterLast = false;
};

// The bytes that the single-byte element at `pc` consumes; false for
// other elements.  NUL is never consumed: no element matches at the end.
bool PositionSet(const unsigned char *pc, Set *set)
{
    std::memset(set->bits, 0, sizeof set->bits);
    switch (pc[0]) {
    case CHAR:
        AddMember(set->bits, pc[1]);
        break;
    case CHAR_ANYCASE: // only ASCII letters have a second form
        AddMember(set->bits, pc[1]);
        AddMember(set->bits, kFold.entry[pc[1]]);
        if (pc[1] >= 'a' && pc[1] <= 'z')
            AddMember(set->bits, pc[1] - 32u);
        break;
    case ANY:
        std::memset(set->bits, 0xff, sizeof set->bits);
        break;
    case CLASS:
        std::memcpy(set->bits, pc + 1, kSetBytes);
        break;
    case NOT_CLASS:
        for (int i = 0; i < kSetBytes; ++i)
            set->bits[i] = static_cast<unsigned char>(~pc[1 + i]);
        break;
    default:
        return false;
    }
    set->bits[0] &= 0xfe;
    return true;
}

bool Empty(const Set &set)
{
    for (unsigned char b : set.bits)
        if (b != 0)
            return false;
    return true;
}

// Reads the alternative from `pc` to its BRANCH or END; false when it holds
// something this reader does not know (the names are then judged one by
// one) or an element that matches nothing.
bool ReadAlternative(const unsigned char *pc, const unsigned char *limit, Alternative *alt)
{
    int segment = 0;
    bool cut = false;      // an element of varying length since the last position
    bool consumed = false; // anything but zero-width elements seen
    bool lineEnd = false;  // LINE_END seen after the last position
    alt->count = 0;
    while (true) {
        if (pc >= limit)
            return false;
        const unsigned char op = *pc;
        if (op == END || op == BRANCH)
            break;
        if (op > LITERAL || op == LITERAL || op == LITERAL_ANYCASE)
            return false;
        if ((op == STAR || op == OPTIONAL) && pc + 1 >= limit)
            return false; // the repeater's operand, which gives its size, is cut off
        if (pc + ElementSize(pc) > limit)
            return false;
        Set set;
        if (PositionSet(pc, &set)) {
            if (Empty(set))
                return false;
            if (lineEnd) // a byte after the end: cut there, as for any element of varying length
                cut = true;
            lineEnd = false;
            if (alt->count == 0)
                alt->cutBeforeFirst = cut;
            else if (cut)
                ++segment;
            cut = false;
            consumed = true;
            if (alt->count < kMaxPositions) {
                alt->position[alt->count] = set;
                alt->segment[alt->count] = segment;
                ++alt->count;
            } else {
                cut = true; // positions past the kept ones count as a cut
            }
        } else if (op == LINE_START) {
            if (!consumed)
                alt->startAnchored = true;
        } else if (op == LINE_END) {
            lineEnd = true;
        } else if (op == TAG_START || op == TAG_END || op == WORD_START || op == WORD_END) {
            // zero-width: neighbours stay side by side
        } else {
            // STAR, OPTIONAL, BACKREF, NEVER: length unknown
            cut = true;
            consumed = true;
            lineEnd = false;
        }
        pc += ElementSize(pc);
    }
    alt->endAnchored = lineEnd;
    alt->cutAfterLast = cut;
    return true;
}

// The best two or three positions of one segment, at most 16 bytes apart,
// to look for: fewest byte combinations accepted, counting an untested
// position as 256.  A lone position is no use: most single bytes are found
// in most names.
bool ChoosePair(const Alternative &alt, PairAlternative *out, long *score)
{
    struct Listed {
        unsigned char bytes[8];
        int count = 0;
    };
    static_assert(kMaxPositions <= 64, "positions fit the listed table");
    Listed listed[kMaxPositions];
    for (int i = 0; i < alt.count; ++i)
        if (!block::ListSet(alt.position[i].bits, listed[i].bytes, &listed[i].count))
            listed[i].count = 0;
    long best = -1;
    for (int i = 0; i < alt.count; ++i) {
        if (listed[i].count == 0)
            continue;
        // The two rarest later positions within reach.
        int second = -1, third = -1;
        for (int j = i + 1; j < alt.count && j - i <= 16 && alt.segment[j] == alt.segment[i]; ++j) {
            if (listed[j].count == 0)
                continue;
            if (second < 0 || listed[j].count < listed[second].count) {
                third = second;
                second = j;
            } else if (third < 0 || listed[j].count < listed[third].count) {
                third = j;
            }
        }
        if (second < 0)
            continue;
        if (third >= 0 && third < second) {
            const int t = second;
            second = third;
            third = t;
        }
        long s = long{listed[i].count} * listed[second].count * (third >= 0 ? listed[third].count : 256);
        if (best >= 0 && s >= best)
            continue;
        best = s;
        PairAlternative candidate;
        candidate.firstCount = listed[i].count;
        std::memcpy(candidate.first, listed[i].bytes, sizeof candidate.first);
        candidate.secondCount = listed[second].count;
        candidate.secondAt = second - i;
        std::memcpy(candidate.second, listed[second].bytes, sizeof candidate.second);
        if (third >= 0) {
            candidate.thirdCount = listed[third].count;
            candidate.thirdAt = third - i;
            std::memcpy(candidate.third, listed[third].bytes, sizeof candidate.third);
        }
        *out = candidate;
    }
    *score = best;
    return best >= 0;
}

// The first bytes of a start-anchored alternative and the last bytes of an
// end-anchored one, when no element of varying length stands between them
// and the anchor.
bool ChooseEnds(const Alternative &alt, EndTest *out)
{
    *out = EndTest{};
    if (alt.count == 0)
        return false;
    if (alt.startAnchored && !alt.cutBeforeFirst) {
        for (int i = 0; i < alt.count && i < block::kEndBytes && alt.segment[i] == 0; ++i)
            std::memcpy(out->pre[out->prefix++], alt.position[i].bits, kSetBytes);
    }
    if (alt.endAnchored && !alt.cutAfterLast) {
        const int lastSegment = alt.segment[alt.count - 1];
        int first = alt.count;
        while (first > 0 && alt.count - first < block::kEndBytes && alt.segment[first - 1] == lastSegment)
            --first;
        for (int i = first; i < alt.count; ++i)
            std::memcpy(out->suf[out->suffix++], alt.position[i].bits, kSetBytes);
    }
    return out->prefix > 0 || out->suffix > 0;
}

// A literal program: its byte pair, as RGrep's own literal search chooses it.
bool DescribeLiteral(const QuarnRegexBody &rx, Filter *filter)
{
    unsigned char local[kLiteralVectorBytes];
    const LiteralSearch search = ReadLiteral(rx, local);
    const unsigned char *lit = rx.program + 1;
    if (search.pair >= std::strlen(reinterpret_cast<const char *>(lit)))
        return false;
    const bool fold = rx.program[0] == LITERAL_ANYCASE;
    PairAlternative &pair = filter->pairs.alt[0];
    auto forms = [fold](unsigned char c, unsigned char *list, int *count) {
        *count = 0;
        for (unsigned b = 1; b < 256; ++b)
            if (fold ? kFold.entry[b] == kFold.entry[c] : b == c)
                block::AddToList(list, count, static_cast<unsigned char>(b));
    };
    // The pair and the byte after it (or before it, at the literal's end).
    size_t at = search.pair;
    if (lit[at + 1] != '\0' && lit[at + 2] == '\0' && at > 0)
        --at;
    forms(lit[at], pair.first, &pair.firstCount);
    if (lit[at + 1] != '\0') {
        forms(lit[at + 1], pair.second, &pair.secondCount);
        if (lit[at + 2] != '\0')
            forms(lit[at + 2], pair.third, &pair.thirdCount);
    }
    filter->pairs.count = 1;
    filter->kind = Filter::kPairs;
    return true;
}

} // namespace

bool LongestSureName(const QuarnRegexBody &rx, int32_t limit, size_t *longest)
{
    const unsigned char *program = rx.program;
    const unsigned char *end = program + QUARN_PROGRAM_SIZE;
    int repeaters = 0;
    const unsigned char *pc = program;
    for (; pc < end && *pc != END; pc += ElementSize(pc)) {
        switch (*pc) {
        case CHAR:
        case CHAR_ANYCASE:
        case ANY:
        case CLASS:
        case NOT_CLASS:
        case LINE_START:
        case LINE_END:
        case WORD_START:
        case WORD_END:
        case BRANCH:
            break;
        case STAR:
        case OPTIONAL:
            if (pc + 1 >= end ||
                (pc[1] != CHAR && pc[1] != CHAR_ANYCASE && pc[1] != ANY && pc[1] != CLASS && pc[1] != NOT_CLASS))
                return false;
            ++repeaters;
            break;
        default:
            return false; // tags and back references (a rest that holds one is not memoised), anything unknown
        }
        if (pc + ElementSize(pc) >= end)
            return false;
    }
    if (pc >= end || limit <= 0)
        return false;
    const size_t length = static_cast<size_t>(pc - program) + 1; // with its END
    // One memo slot per repeater; all of them must fit, in the memo's own
    // bits too (a memo that cannot be had leaves plain backtracking).
    if (repeaters >= Memo::kMaxRests)
        return false;
    size_t positions = static_cast<size_t>(limit) / length; // text length + 1
    if (repeaters > 0 && positions > Memo::kLocalBits / static_cast<size_t>(repeaters))
        positions = Memo::kLocalBits / static_cast<size_t>(repeaters);
    if (positions == 0)
        return false;
    *longest = positions - 1;
    return true;
}

bool DescribeNames(QuarnPattern *p, int32_t options, block::Filter *filter)
{
    *filter = Filter{};
    // A separator moves the line start and ends a line inside a name.
    if (options & (QUARN_OPT_LF | QUARN_OPT_CR))
        return false;
    QuarnRegexBody &rx = p->body.regex;
    const unsigned char *program = rx.program;
    if ((program[0] == LITERAL || program[0] == LITERAL_ANYCASE) && rx.branchCount == 1) {
        if (strnlen(reinterpret_cast<const char *>(program + 1), QUARN_PROGRAM_SIZE - 1) >= QUARN_PROGRAM_SIZE - 2 ||
            program[1] == '\0')
            return false;
        return DescribeLiteral(rx, filter);
    }
    // A name passed over unseen must be one RGrep would not have given up
    // on; only the backtracking matcher gives up, and it cannot on names
    // short enough for its memo's bound.
    const int32_t limit = StepLimit();
    size_t safe = SIZE_MAX;
    if (limit > 0 && !PlanApplies(ValidHints(rx), options) && !LongestSureName(rx, limit, &safe))
        return false;
    filter->maxSafeLength = safe;

    const unsigned char *local[QUARN_MAX_BRANCHES];
    const unsigned char *const *starts = local;
    int branches = rx.branchCount;
    if (branches >= 1 && branches <= QUARN_MAX_BRANCHES && rx.branchStart[0] == program)
        starts = rx.branchStart;
    else
        branches = BranchStarts(p, local);
    if (branches < 1)
        return false;

    bool allEnds = true, allPairs = branches <= 4;
    long worstPair = 0;
    static_assert(QUARN_MAX_BRANCHES <= sizeof filter->ends / sizeof filter->ends[0], "one end test per branch");
    for (int b = 0; b < branches; ++b) {
        const unsigned char *start = starts[b];
        if (start < program || start >= program + QUARN_PROGRAM_SIZE)
            return false;
        Alternative alt;
        if (!ReadAlternative(start, program + QUARN_PROGRAM_SIZE, &alt))
            return false;
        allEnds = allEnds && ChooseEnds(alt, &filter->ends[b]);
        if (allPairs) {
            long score = 0;
            allPairs = ChoosePair(alt, &filter->pairs.alt[b], &score);
            worstPair = score > worstPair ? score : worstPair;
        }
    }
    // Two or three literal-like bytes are rarer than most names' ends; sets
    // of many bytes are not.
    if (allPairs && (worstPair <= 4 * 256 || !allEnds)) {
        filter->kind = Filter::kPairs;
        filter->pairs.count = branches;
    } else if (allEnds) {
        filter->kind = Filter::kEnds;
        filter->endCount = branches;
    }
    return filter->kind != Filter::kNone;
}

} // namespace quarn::rgrep
