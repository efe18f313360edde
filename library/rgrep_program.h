// The byte program of a compiled regular expression.  A program is a run of
// elements (one opcode byte, then its operand bytes) ended by END;
// alternatives follow one another, each but the last closed by BRANCH.
// This header is the description of the format: one opcode per line, and
// the layout of the data the compiler keeps behind the program.
#pragma once

#include "quarn32.h"

namespace quarn::rgrep {

enum Opcode : unsigned char {
    END = 0,              // end of program; also closes a repeater's operand
    CHAR_ANYCASE = 1,     // +1 byte: character, ASCII letter case ignored
    ANY = 2,              // `.`: any character but the terminating NUL
    CLASS = 3,            // +32 bytes: bit set of members (bit c&7 of byte c>>3)
    NOT_CLASS = 4,        // +32 bytes: bit set of non-members
    LINE_START = 5,       // `^`: position is the current line start
    LINE_END = 6,         // `$`: end of text, or a separator enabled in options
    TAG_START = 7,        // +1 byte: tag 1..9, records matchStart[n]
    TAG_END = 8,          // +1 byte: tag 1..9, records matchEnd[n]
    WORD_START = 9,       // `\<`
    WORD_END = 10,        // `\>`
    BACKREF = 11,         // +1 byte: tag 1..9, the tag's text again
    STAR = 12,            // +operand element, +END: zero or more
    NEVER = 13,           // never produced; never matches
    OPTIONAL = 14,        // +operand element, +END: zero or one (`-`)
    BRANCH = 15,          // `|`: ends the alternative before it
    CHAR = 16,            // +1 byte: character, exact
    LITERAL_ANYCASE = 17, // +NUL-terminated text: whole pattern, case ignored
    LITERAL = 18,         // +NUL-terminated text: whole pattern, exact
};

constexpr int kSetBytes = 32;

// ---------------------------------------------------------------------------
// The compiler's own data in the unused tail of the program area.  Written
// and read only by rgrep_plan.cpp / rgrep_plan.h; the layout is here, beside
// the opcodes, because it shares their area.
//
//   0 .. length-1                  the program, ended by END
//   kPlanOffset .. + kPEnd         a run plan (kHintPlan), or a literal's
//                                  search vectors (kHintLiteral, 64 bytes)
//   kHintOffset .. + kHEnd         the scan summary
//
// Both are valid only while branchStart[kHintSlot], a slot that a program
// of fewer than ten alternatives does not use, points at kHintOffset: the
// marker cannot live in the program area itself, which a long program owns.
// ---------------------------------------------------------------------------

// The summary is kept for programs up to this many bytes.
constexpr int kHintOffset = 1056 - 64;
constexpr int kHintSlot = QUARN_MAX_BRANCHES - 1;
constexpr unsigned char kHintMagic0 = 'Q', kHintMagic1 = 'h';

enum HintFlag : unsigned char {
    kHintReadsLineStart = 1, // LINE_START, WORD_START or WORD_END somewhere
    kHintPrefilter = 2,      // the first-byte set below is usable
    kHintAnchored = 4,       // some alternative begins with LINE_START
    kHintNoCandidates = 8,   // every alternative is anchored: the set is empty
    kHintPlan = 16,          // a run plan lies at kPlanOffset (see below)
    kHintPlanLineEnd = 32,   // ... and its alternative ends with LINE_END
    kHintLiteral = 64,       // a LITERAL program: the search vectors of the
                             // byte pair at kHLiteralPair lie at kPlanOffset
};

// Byte layout of the scan summary, relative to kHintOffset.
enum HintField {
    kHMagic0 = 0,
    kHMagic1 = 1,
    kHLengthLo = 2, // program length including its END byte
    kHLengthHi = 3,
    kHFlags = 4,
    kHListCount = 5, // 1..8: the set's members are listed at kHList; 0: not listed
    kHRange = 6,     // 1: the set is the range kHRangeLo..kHRangeHi
    kHRangeLo = 7,
    kHRangeHi = 8,
    kHList = 9,         // up to 8 bytes
    kHSet = 17,         // 32-byte bit set of possible first bytes (never NUL)
    kHLiteralPair = 49, // literal programs: offset of the byte pair the scan looks for
    kHEnd = 50,
};
static_assert(kHintOffset + kHEnd <= QUARN_PROGRAM_SIZE, "summary must fit");

// Programs up to this many bytes may also get a run plan: a per-byte table
// of the positions of fixed-length alternatives (at most 16 positions in
// all), with up to three vector tests of single positions.
constexpr int kPlanOffset = 256;
constexpr int kPlanPositions = 16;
constexpr int kTests = 3; // the first position, then up to two later ones
constexpr int kTestBytes = 4 + 4 * 16;

// Byte layout of a run plan, relative to kPlanOffset.
enum PlanField {
    kPTable = 0,                               // 256 little-endian 16-bit entries: bit i of entry c says
                                               // that plan position i accepts byte c (entry 0 is empty)
    kPAlts = 512,                              // per alternative: run length, then first bit | anchors
    kPTests = kPAlts + 2 * QUARN_MAX_BRANCHES, // kTests tests of kTestBytes
    kPEnd = kPTests + kTests * kTestBytes,
};
static_assert(kPlanOffset + kPEnd <= kHintOffset, "plan must end before the summary");

// The second byte of an alternative's kPAlts entry.
constexpr unsigned char kRunStartAnchor = 0x40, kRunEndAnchor = 0x80, kRunFirstBit = 0x1f;

// Byte layout of one test of a run position.
enum TestField {
    kTOffset = 0,  // run position 0..15
    kTKind = 1,    // 0: no test, 1: up to four targets, 2: a range
    kTCount = 2,   // 1..4 targets
    kTFolded = 3,  // the first kTFolded targets are compared after OR-ing 0x20
    kTVectors = 4, // 4 x 16 bytes: the targets broadcast (a lone target: then
                   // its OR mask); a range: lo, then hi - lo
};

// Size in bytes of the single-position element at `op` (opcode included);
// only valid for the operands a repeater accepts.
inline int OperandSize(unsigned char op)
{
    switch (op) {
    case CHAR_ANYCASE:
    case CHAR:
        return 2;
    case CLASS:
    case NOT_CLASS:
        return 1 + kSetBytes;
    default: // ANY
        return 1;
    }
}

// Size in bytes of the element at `pc` (opcode and operands) in a program
// the compiler wrote; one place that knows every element's length.
inline int ElementSize(const unsigned char *pc)
{
    switch (pc[0]) {
    case CHAR_ANYCASE:
    case CHAR:
    case TAG_START:
    case TAG_END:
    case BACKREF:
        return 2;
    case CLASS:
    case NOT_CLASS:
        return 1 + kSetBytes;
    case STAR:
    case OPTIONAL:
        return 1 + OperandSize(pc[1]) + 1;
    default:
        return 1;
    }
}

} // namespace quarn::rgrep
