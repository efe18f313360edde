// The scan summary and run plans that the compiler keeps behind a regular
// expression's program (layout in rgrep_program.h): this module is the one
// place that writes that block and reads it back.  Readers that RGrep needs
// on every call are inline here; the rest is in rgrep_plan.cpp.
#pragma once

#include <cstddef>
#include <cstdint>

#include "quarn32.h"
#include "rgrep_program.h"

namespace quarn::rgrep {

// The first bytes that may begin a match.
struct ScanSpec {
    const unsigned char *set = nullptr; // 32-byte bit set of first bytes
    int listCount = 0;                  // 1..8: first bytes listed in `list`
    const unsigned char *list = nullptr;
    bool range = false; // first bytes form lo..hi
    unsigned char lo = 0, hi = 0;
};

// A vector test of one run position, read in place from a run plan: up to
// four target bytes (the first `folded` of them compared after OR-ing 0x20,
// which accepts both cases of an ASCII letter) or a range, with its vectors
// already broadcast.
enum VectorTestKind : unsigned char { kNoTest = 0, kTargets = 1, kRangeTest = 2 };

class VectorTest {
public:
    explicit VectorTest(const unsigned char *bytes) : bytes_(bytes) {}
    unsigned char kind() const { return bytes_[kTKind]; }
    unsigned offset() const { return bytes_[kTOffset]; } // run position 0..15 of the byte tested
    int count() const { return bytes_[kTCount]; }        // kTargets: 1..4 targets
    int folded() const { return bytes_[kTFolded]; }
    // kTargets: one 16-byte vector per target (a lone target: then its OR
    // mask); kRangeTest: lo, then hi - lo.
    const unsigned char *vectors() const { return bytes_ + kTVectors; }

private:
    const unsigned char *bytes_;
};

// The 64 bytes of search vectors of a literal's byte pair (LiteralVectors):
// the first byte, its OR mask, the second byte, its OR mask, 16 bytes each.
// The OR mask is 0x20 for a letter whose case is ignored (OR-ing 0x20
// accepts exactly its two forms), else 0.
constexpr int kLiteralVectorBytes = 64;

// --- writing (at compile time) ---------------------------------------------

// Marks the record as having no summary.
void ClearHints(QuarnRegexBody &rx);

// Writes the summary, and a run plan where the program allows one, of a
// program of `length` bytes (its END included).
void WriteHints(QuarnRegexBody &rx, int length);

// Writes the summary and search vectors of a literal program.
void WriteLiteralHints(QuarnRegexBody &rx, int length);

// Fills `vectors` (kLiteralVectorBytes) for the literal's bytes `pair` and
// `pair` + 1, ASCII case folded when `fold`.
void LiteralPairVectors(const unsigned char *lit, bool fold, size_t pair, unsigned char *vectors);

// --- reading (at match time) -----------------------------------------------

inline bool HintsMarked(const QuarnRegexBody &rx)
{
    return rx.branchCount >= 1 && rx.branchCount < QUARN_MAX_BRANCHES &&
        rx.branchStart[kHintSlot] == rx.program + kHintOffset;
}

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

// Whether the run plan of summary `h` decides matches under `options`: with
// line separators on, a plan is not used where the line start matters.
inline bool PlanApplies(const unsigned char *h, int32_t options)
{
    return h != nullptr && (h[kHFlags] & kHintPlan) &&
        !((options & (QUARN_OPT_LF | QUARN_OPT_CR)) && (h[kHFlags] & (kHintPlanLineEnd | kHintReadsLineStart)));
}

// Reads the scan summary `h` into `spec`; false when the walk must go
// position by position.  `anchored`: some alternative begins at the text's
// start only; `none`: no other position can begin a match.
bool ReadHints(const unsigned char *h, int32_t options, ScanSpec *spec, bool *anchored, bool *none);

// The leftmost match of a program whose summary `h` holds a run plan, or
// null; `*end` receives the end of the match.
const unsigned char *MatchPlan(const QuarnRegexBody &rx, const unsigned char *h, const unsigned char *base,
                               const unsigned char **end);

// How to search for a literal program: the byte pair the scan looks for and
// its search vectors (`local` is used when the record's summary is gone).
struct LiteralSearch {
    size_t pair;
    const unsigned char *vectors;
};

inline LiteralSearch ReadLiteral(const QuarnRegexBody &rx, unsigned char (&local)[kLiteralVectorBytes])
{
    const unsigned char *h = ValidHints(rx);
    if (h != nullptr && (h[kHFlags] & kHintLiteral))
        return {h[kHLiteralPair], rx.program + kPlanOffset};
    // A record whose summary is gone makes the first pair's vectors here.
    LiteralPairVectors(rx.program + 1, rx.program[0] == LITERAL_ANYCASE, 0, local);
    return {0, local};
}

} // namespace quarn::rgrep
