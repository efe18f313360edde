// The byte program of a compiled regular expression.  A program is a run of
// elements (one opcode byte, then its operand bytes) ended by END;
// alternatives follow one another, each but the last closed by BRANCH.
// This header is the description of the format: one opcode per line.
#pragma once

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

// The compiler keeps a summary of the program for the matcher's scan in the
// last bytes of the program area (programs up to this many bytes only).
constexpr int kHintOffset = 1056 - 64;

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

// Byte layout of the hint block, relative to kHintOffset.
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

// Programs up to this many bytes also get a run plan (a per-byte table of
// the positions of fixed-length alternatives) between kPlanOffset and
// kHintOffset; kHintPlan in the summary's flags says it is there.
constexpr int kPlanOffset = 256;

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
