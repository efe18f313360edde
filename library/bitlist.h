// BITLIST: fixed-length bit vectors of the approximate kind, kept in 32-bit
// words outside the compiled pattern (QuarnBitList in quarn32.h).  Word 0
// holds the least significant bits, so a vector reads as one unsigned number
// of 32 * wordCount bits.  Operations on two or three vectors use the word
// count of the first operand; callers keep every vector of one pattern the
// same length.
#pragma once

#include <cstdint>

#include "quarn32.h"

namespace quarn {

// (Re)allocation: free what v holds, then obtain a zero-filled block for
// `bits` bits.  Return 1 on success, 0 when no block could be had (v then
// holds nothing and has no words).
int BitAllocZeroed(QuarnBitList *v, int32_t bits);
int BitAllocOnes(QuarnBitList *v, int32_t bits);
int BitAllocCopy(QuarnBitList *v, const QuarnBitList *source, int32_t bits);

// Frees v's block and marks it empty; 1 on success or when v holds nothing.
int BitRelease(QuarnBitList *v);

void BitClear(QuarnBitList *v);
void BitCopy(QuarnBitList *dst, const QuarnBitList *src);
void BitSet(QuarnBitList *v, int32_t bit);

// Shifts toward higher (left) or lower (right) bits; bits moved past either
// end are lost, a shift of 32 * wordCount or more clears v.
void BitShiftLeft(QuarnBitList *v, int32_t n);
void BitShiftRight(QuarnBitList *v, int32_t n);

void BitOrInto(QuarnBitList *dst, const QuarnBitList *src);
void BitOr(QuarnBitList *dst, const QuarnBitList *a, const QuarnBitList *b);
void BitAndInto(QuarnBitList *dst, const QuarnBitList *src);
void BitAnd(QuarnBitList *dst, const QuarnBitList *a, const QuarnBitList *b);
void BitAndNotInto(QuarnBitList *dst, const QuarnBitList *src);

// dst += src as unsigned numbers; the carry out of the top word is lost.
void BitAddInto(QuarnBitList *dst, const QuarnBitList *src);

// Unsigned comparison: 1 when a > b, -1 when a < b, 0 when equal.
int BitCompare(const QuarnBitList *a, const QuarnBitList *b);

} // namespace quarn
