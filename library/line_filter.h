// A quick test of whole blocks of a file for lines that a compiled regular
// expression cannot match.  From the byte program we derive, for each
// alternative, a run of consecutive byte sets that every match of that
// alternative contains; a line holding none of these runs cannot match, so
// the file search may pass over it without calling the matcher.  The
// derivation is deliberately cautious: whatever it does not understand
// gives no filter, and the plain line-by-line path is used.
#pragma once

#include <cstddef>
#include <cstdint>

#include "quarn32.h"

namespace quarn {

// The file search's filter is on by default; tests switch it off to compare
// both paths.  Not exported.
void SetFileLineFilter(bool on);

namespace linefilter {

constexpr int kMaxRun = 16;         // byte sets kept per alternative
constexpr int kMaxTests = 3;        // range tests that cover one probed set
constexpr int kMaxProbes = 3;       // positions of a run checked in bulk
constexpr long kLongestLine = 1023; // the readers cut longer lines into pieces

struct ByteSet {
    unsigned char bits[32];

    bool Has(unsigned char c) const { return ((bits[c >> 3] >> (c & 7)) & 1) != 0; }
    void Add(unsigned char c) { bits[c >> 3] = static_cast<unsigned char>(bits[c >> 3] | (1u << (c & 7))); }
    int Count() const;
};

// One vectorisable test of a byte b: ((b | orBits) - low) mod 256 <= span.
// A single byte, a letter in both cases (orBits 0x20) and a range all fit.
struct RangeTest {
    unsigned char orBits;
    unsigned char low;
    unsigned char span;
};

// A position of a run checked in bulk; the union of its tests holds at
// least the members of that position's set (more is allowed: every
// candidate is confirmed against the exact sets).
struct Probe {
    int offset;
    int testCount;
    RangeTest tests[kMaxTests];
};

// Bytes that must appear one after the other in any match of one
// alternative: a byte of sets[0], directly followed by one of sets[1], ...
struct Run {
    int length;
    ByteSet sets[kMaxRun];
    int probeCount; // 1 to kMaxProbes
    Probe probes[kMaxProbes];
};

struct LineFilter {
    int runCount; // 0: no alternative can match anything at all
    Run runs[QUARN_MAX_BRANCHES];
    int reach; // the largest probe offset, plus one
};

// Derives the filter of a compiled regular expression.  False when there is
// no usable one (a refused record, a program this code does not know, an
// alternative that may match without a required byte, or a condition too
// weak to pay for itself).  `crLfToLf`: lines are read with a carriage
// return before a line feed dropped, so a set that takes the line feed must
// take the carriage return as well in the raw bytes.
bool Build(const QuarnPattern &pattern, bool crLfToLf, LineFilter &out);

// The first position p in [begin, end) at which some run of the filter
// occurs whole inside [begin, end); `end` when there is none.
const unsigned char *FindCandidate(const LineFilter &filter, const unsigned char *begin, const unsigned char *end);

// The lines that begin at `begin` and end (line feed, or also a 0 byte when
// `nulEndsLine`) before `limit`, up to the first one longer than
// kLongestLine bytes: their byte length and their number.
struct Span {
    size_t bytes;
    long lines;
};
Span WholeShortLines(const unsigned char *begin, const unsigned char *limit, bool nulEndsLine);

} // namespace linefilter

} // namespace quarn
