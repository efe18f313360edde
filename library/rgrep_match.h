// The backtracking matcher: runs a regular expression's byte program (or
// the rest of one) from one text position, with the failure memo that keeps
// its work bounded.  Its state belongs to one RGrep call.
#pragma once

#include <cstddef>
#include <cstdint>

#include "quarn32.h"
#include "rgrep_private.h"
#include "rgrep_program.h"

namespace quarn::rgrep {

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

// The start of each alternative in `starts`; their number.
int BranchStarts(QuarnPattern *p, const unsigned char *starts[QUARN_MAX_BRANCHES]);

} // namespace quarn::rgrep
