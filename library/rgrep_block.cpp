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
    case CHAR_ANYCASE:
        for (unsigned c = 1; c < 256; ++c)
            if (kFold.entry[c] == kFold.entry[pc[1]])
                AddMember(set->bits, c);
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

// The best pair of neighbouring positions to look for (fewest listed
// bytes); a lone position when no pair can be listed.  Score: how many
// byte combinations the test accepts.
bool ChoosePair(const Alternative &alt, PairAlternative *out, int *score)
{
    int best = -1;
    for (int i = 0; i < alt.count; ++i) {
        PairAlternative candidate;
        if (!block::ListSet(alt.position[i].bits, candidate.first, &candidate.firstCount))
            continue;
        int s = candidate.firstCount * 64;
        if (i + 1 < alt.count && alt.segment[i + 1] == alt.segment[i] &&
            block::ListSet(alt.position[i + 1].bits, candidate.second, &candidate.secondCount))
            s = candidate.firstCount * candidate.secondCount;
        else
            candidate.secondCount = 0;
        if (best < 0 || s < best) {
            best = s;
            *out = candidate;
        }
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
void DescribeLiteral(const QuarnRegexBody &rx, Filter *filter)
{
    unsigned char local[kLiteralVectorBytes];
    const LiteralSearch search = ReadLiteral(rx, local);
    const unsigned char *lit = rx.program + 1;
    const bool fold = rx.program[0] == LITERAL_ANYCASE;
    PairAlternative &pair = filter->pairs.alt[0];
    auto forms = [fold](unsigned char c, unsigned char *list, int *count) {
        *count = 0;
        for (unsigned b = 1; b < 256; ++b)
            if (fold ? kFold.entry[b] == kFold.entry[c] : b == c)
                block::AddToList(list, count, static_cast<unsigned char>(b));
    };
    forms(lit[search.pair], pair.first, &pair.firstCount);
    if (lit[search.pair + 1] != '\0')
        forms(lit[search.pair + 1], pair.second, &pair.secondCount);
    filter->pairs.count = 1;
    filter->kind = Filter::kPairs;
}

} // namespace

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
        DescribeLiteral(rx, filter);
        return true;
    }
    // A name passed over unseen must be one RGrep would not have given up
    // on; only the backtracking matcher gives up.
    if (StepLimit() > 0 && !PlanApplies(ValidHints(rx), options))
        return false;

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
    int worstPair = 0;
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
            int score = 0;
            allPairs = ChoosePair(alt, &filter->pairs.alt[b], &score);
            worstPair = score > worstPair ? score : worstPair;
        }
    }
    // A pair of literal-like bytes is rarer than most names' ends; a set of
    // many bytes is not.
    if (allPairs && (worstPair <= 4 || !allEnds)) {
        filter->kind = Filter::kPairs;
        filter->pairs.count = branches;
    } else if (allEnds) {
        filter->kind = Filter::kEnds;
        filter->endCount = branches;
    }
    return filter->kind != Filter::kNone;
}

} // namespace quarn::rgrep
