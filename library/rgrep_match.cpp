// The backtracking matcher: one program from one position, leftmost-first,
// recursing only inside repeaters; and the failure memo that stops it from
// trying the rest of a repeater twice at one position.
#include "rgrep_match.h"

#include <algorithm>
#include <cstring>

namespace quarn::rgrep {

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
