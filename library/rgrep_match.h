// The backtracking matcher: runs a regular expression's byte program (or
// the rest of one) from one text position, with the failure memo that keeps
// its work bounded.  Its state belongs to one RGrep call.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "quarn32.h"
#include "rgrep_private.h"
#include "rgrep_program.h"

namespace quarn::rgrep {

// Backtracking over k repeaters can cost n^k steps ("x.*.*.*.*y" against a
// long line without y).  The rest of a repeater (the program after it, to
// the end of its alternative) whose outcome depends only on where it starts
// (it holds no tag and no back reference, so it reads no tag and leaves
// none behind) is memoised: its failures are remembered per position and
// never tried twice, and each repeater also keeps the one stretch of
// positions where its rest is known to fail, which its loops skip in one
// step.  Then no (element, position) state is visited twice and the work is
// at most program length x (text length + 1).  The memo belongs to one
// RGrep call (it lives in that call's stack frame, or on the heap for a text
// too long for that), so calls in several threads never share it.
//
// A rest that holds a tag is not memoised: the matcher leaves in a tag the
// position where it last passed it, also on paths that failed, and a skipped
// retry would leave another one.  Such programs, and those with back
// references, are bounded by the step limit (QuarnSetStepLimit) instead.
struct Memo {
    static constexpr size_t kLocalBits = size_t{1} << 16; // 8 KiB
    static constexpr int kMaxRests = QUARN_PROGRAM_SIZE / 3;
    uint64_t local[kLocalBits / 64];
    std::unique_ptr<uint64_t[]> heap;
    uint64_t *bits = nullptr;  // rests x (text length + 1) bits: a known failure
    uint16_t rests[kMaxRests]; // program offsets of the memoised rests, ascending
    // Per rest, the stretch lo..hi (text offsets) where it is known to fail,
    // lo > hi when none.  Every position of a repeater's loop from any
    // position in the stretch lies in the stretch too (for `.*` the stretch
    // ends at the text's end; for a character run, at or after its run's end).
    int32_t failLo[kMaxRests];
    int32_t failHi[kMaxRests];
};

struct Matcher {
    QuarnPattern *p;
    Memo *memo;
    int32_t options;
    const unsigned char *text;      // start of the text being searched
    const unsigned char *lineStart; // where the current line begins
    uint64_t stepLimit = ~uint64_t{0};
    uint64_t steps = 0;       // trials of a rest, and of an alternative at a position
    unsigned tagsStarted = 0; // bit n: TAG_START n passed during this call
    unsigned tagsEnded = 0;   // bit n: TAG_END n passed during this call

    // The memo is set up only when a second repeater loop starts: most calls
    // run one loop or none.  The first loop's failed stretch is kept here
    // until then.
    enum MemoState : unsigned char { kMemoNotYet, kMemoFirstLoop, kMemoOn, kMemoOff };
    MemoState memoState = kMemoNotYet;
    const unsigned char *firstRest = nullptr;
    const unsigned char *firstLo = nullptr;
    const unsigned char *firstHi = nullptr;
    const unsigned char *firstLineStart = nullptr;
    int memoRests = 0;
    size_t memoStride = 0;
    const unsigned char *memoLineStart = nullptr;

    // True once the call ran past the step limit: every trial then fails at
    // once and the search gives up.
    bool OverLimit() const { return steps > stepLimit; }

    const unsigned char *Program(const unsigned char *s, const unsigned char *pc);
    const unsigned char *Repeat(const unsigned char *s, const unsigned char *pc);
    const unsigned char *Rest(const unsigned char *s, const unsigned char *rest, int index);
    int MemoIndex(const unsigned char *rest);
    void StartMemo();
    void ClearMemo();
    bool KnownToFail(int index, const unsigned char *q) const;
    void Failed(int index, const unsigned char *lo, const unsigned char *hi);
    void FirstLoopFailed(const unsigned char *rest, const unsigned char *lo, const unsigned char *hi);
};

#if defined(QUARN_STEP_COUNTER)
// Test builds only: (element, position) states visited, run characters
// scanned and rests tried by the matcher in this thread since the last reset.
extern thread_local uint64_t gCountedSteps;
#define QUARN_COUNT_STEP() (++::quarn::rgrep::gCountedSteps)
#else
#define QUARN_COUNT_STEP() ((void)0)
#endif

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
        ++m.steps;
        if (const unsigned char *end = m.Program(at, pc))
            return end;
    }
    return nullptr;
}

// The start of each alternative in `starts`; their number.
int BranchStarts(QuarnPattern *p, const unsigned char *starts[QUARN_MAX_BRANCHES]);

} // namespace quarn::rgrep
