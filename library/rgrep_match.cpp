// The backtracking matcher: one program from one position, leftmost-first,
// recursing only inside repeaters; and the failure memo that stops it from
// trying the rest of a repeater twice at one position.
#include "rgrep_match.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <new>

namespace quarn::rgrep {

#if defined(QUARN_STEP_COUNTER)
thread_local uint64_t gCountedSteps = 0;
#endif

namespace {

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

} // namespace

const unsigned char *Matcher::Program(const unsigned char *s, const unsigned char *pc)
{
    for (;;) {
        QUARN_COUNT_STEP();
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
    // The call's first `*` loop runs without the memo; see FirstLoopFailed.
    const bool first = memoState == kMemoNotYet && *pc == STAR;
    if (first)
        memoState = kMemoFirstLoop;
    const int index = first ? -1 : MemoIndex(rest);

    const unsigned char *r;
    if (*pc == OPTIONAL) {
        if (*operand == ANY) {
            if ((r = Rest(s, rest, index)) != nullptr)
                return r;
            return *s != '\0' ? Rest(s + 1, rest, index) : nullptr;
        }
        if (*s != '\0' && MatchOne(operand, *s) && (r = Rest(s + 1, rest, index)) != nullptr)
            return r;
        return Rest(s, rest, index);
    }

    if (KnownToFail(index, s))
        return nullptr; // every position this loop would try is known to fail

    if (*operand == ANY) {
        // `.*` is matched shortest first.
        const unsigned char *q = s;
        for (; *q != '\0'; ++q) {
            if (KnownToFail(index, q))
                break; // ... and so is every later one
            if ((r = Rest(q, rest, index)) != nullptr)
                return r;
        }
        if (*q == '\0' && (r = Rest(q, rest, index)) != nullptr)
            return r;
        // The backward pass retries the positions already tried; it can only
        // come out differently when the rest reads or writes tags.
        if (!TouchesTags(rest)) {
            while (*q != '\0')
                ++q;
            if (first)
                FirstLoopFailed(rest, s, q);
            else
                Failed(index, s, q);
            return nullptr;
        }
        while (q > s)
            if ((r = Rest(--q, rest, index)) != nullptr)
                return r;
        return nullptr;
    }

    // The longest run first, then one shorter at a time.  A run that reaches
    // the stretch known to fail stops there: the stretch holds the rest of
    // the run.
    const unsigned char *q = s;
    const unsigned char *failFrom = nullptr;
    while (*q != '\0' && MatchOne(operand, *q)) {
        QUARN_COUNT_STEP();
        ++q;
        if (KnownToFail(index, q)) {
            failFrom = q;
            --q;
            break;
        }
    }
    steps += static_cast<uint64_t>(q - s); // the run's characters count towards the limit
    const unsigned char *top = failFrom != nullptr ? text + memo->failHi[index] : q;
    for (;;) {
        if ((r = Rest(q, rest, index)) != nullptr)
            return r;
        if (q == s)
            break;
        --q;
    }
    if (first) {
        if (!TouchesTags(rest))
            FirstLoopFailed(rest, s, top);
    } else {
        Failed(index, s, top);
    }
    return nullptr;
}

// The first loop of a call failed at every position from lo to hi of a rest
// that no tag follows.  Once the memo is on those positions are marked in
// it, so that no later loop tries them again.
void Matcher::FirstLoopFailed(const unsigned char *rest, const unsigned char *lo, const unsigned char *hi)
{
    if (memoState != kMemoOn) {
        firstRest = rest;
        firstLo = lo;
        firstHi = hi;
        firstLineStart = lineStart;
        return;
    }
    const int index = MemoIndex(rest);
    if (index < 0)
        return;
    Failed(index, lo, hi);
    for (const unsigned char *q = lo; q <= hi; ++q) {
        const size_t bit = static_cast<size_t>(index) * memoStride + static_cast<size_t>(q - text);
        memo->bits[bit >> 6] |= uint64_t{1} << (bit & 63);
    }
}

// The memo's slot of the rest at `rest`, or -1 when it is not memoised.
int Matcher::MemoIndex(const unsigned char *rest)
{
    if (memoState == kMemoNotYet || memoState == kMemoFirstLoop)
        StartMemo();
    if (memoState != kMemoOn)
        return -1;
    if (memoLineStart != lineStart) {
        // The line start moved (a separator was passed): earlier failures
        // may not hold any more.
        ClearMemo();
        memoLineStart = lineStart;
    }
    const uint16_t offset = static_cast<uint16_t>(rest - p->body.regex.program);
    const uint16_t *found = std::lower_bound(memo->rests, memo->rests + memoRests, offset);
    if (found == memo->rests + memoRests || *found != offset)
        return -1;
    return static_cast<int>(found - memo->rests);
}

bool Matcher::KnownToFail(int index, const unsigned char *q) const
{
    if (index < 0)
        return false;
    const int32_t at = static_cast<int32_t>(q - text);
    return at >= memo->failLo[index] && at <= memo->failHi[index];
}

// Records that the rest `index` fails at every position from lo to hi: joined
// to the known stretch when they touch, else in its place.
void Matcher::Failed(int index, const unsigned char *lo, const unsigned char *hi)
{
    if (index < 0)
        return;
    const int32_t from = static_cast<int32_t>(lo - text), to = static_cast<int32_t>(hi - text);
    int32_t &knownLo = memo->failLo[index];
    int32_t &knownHi = memo->failHi[index];
    if (knownLo <= knownHi && from <= knownHi + 1 && to + 1 >= knownLo) {
        knownLo = std::min(knownLo, from);
        knownHi = std::max(knownHi, to);
    } else {
        knownLo = from;
        knownHi = to;
    }
}

void Matcher::ClearMemo()
{
    std::memset(memo->bits, 0, (static_cast<size_t>(memoRests) * memoStride + 63) / 64 * sizeof(uint64_t));
    for (int i = 0; i < memoRests; ++i) {
        memo->failLo[i] = 1;
        memo->failHi[i] = 0;
    }
}

// Finds, once per call, the rests that can be memoised: those followed in
// their alternative by no tag and no back reference.
void Matcher::StartMemo()
{
    memoState = kMemoOff;
    const unsigned char *program = p->body.regex.program;
    int rests = 0;
    int alternativeFirst = 0; // the first rest of the current alternative
    for (const unsigned char *pc = program; pc < program + QUARN_PROGRAM_SIZE && *pc != END; pc += ElementSize(pc)) {
        if (*pc == TAG_START || *pc == TAG_END || *pc == BACKREF) {
            rests = alternativeFirst; // the alternative's rests so far read or write tags
        } else if (*pc == BRANCH) {
            alternativeFirst = rests;
        } else if (*pc == STAR || *pc == OPTIONAL) {
            if (rests == Memo::kMaxRests)
                return;
            memo->rests[rests++] = static_cast<uint16_t>(pc - program + ElementSize(pc));
        }
    }
    if (rests == 0)
        return;
    const size_t stride = std::strlen(reinterpret_cast<const char *>(text)) + 1;
    if (stride > static_cast<size_t>(INT32_MAX) / 2)
        return;
    const size_t words = (static_cast<size_t>(rests) * stride + 63) / 64;
    if (words <= Memo::kLocalBits / 64) {
        memo->bits = memo->local;
    } else {
        memo->heap.reset(new (std::nothrow) uint64_t[words]);
        if (memo->heap == nullptr)
            return; // no room for the memo: plain backtracking
        memo->bits = memo->heap.get();
    }
    memoRests = rests;
    memoStride = stride;
    memoLineStart = lineStart;
    ClearMemo();
    memoState = kMemoOn;
    if (firstRest != nullptr && firstLineStart == lineStart)
        FirstLoopFailed(firstRest, firstLo, firstHi);
}

// The rest of a repeater's program from s, through the failure memo when the
// rest has a slot there.
const unsigned char *Matcher::Rest(const unsigned char *s, const unsigned char *rest, int index)
{
    if (++steps > stepLimit)
        return nullptr;
    QUARN_COUNT_STEP();
    if (index < 0)
        return Program(s, rest);
    const size_t bit = static_cast<size_t>(index) * memoStride + static_cast<size_t>(s - text);
    if ((memo->bits[bit >> 6] >> (bit & 63)) & 1u)
        return nullptr;
    const unsigned char *r = Program(s, rest);
    if (r == nullptr)
        memo->bits[bit >> 6] |= uint64_t{1} << (bit & 63);
    return r;
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

} // namespace quarn::rgrep
