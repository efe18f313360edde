// BITLIST: see bitlist.h.  Blocks come from the C allocator; releasing one
// cannot fail there, but the 0 result is kept for allocators that can.
#include "bitlist.h"

#include <cstdlib>
#include <cstring>

namespace quarn {

namespace {

int32_t WordsFor(int32_t bits)
{
    return bits <= 0 ? 0 : static_cast<int32_t>((static_cast<int64_t>(bits) + 31) / 32);
}

void MarkEmpty(QuarnBitList *v)
{
    v->wordCount = 0;
    v->bitCount = 0;
    v->holdsStorage = 0;
    v->storage = nullptr;
    v->words = nullptr;
}

} // namespace

int BitAllocZeroed(QuarnBitList *v, int32_t bits)
{
    if (!BitRelease(v))
        return 0;
    v->bitCount = bits < 0 ? 0 : bits;
    v->wordCount = WordsFor(bits);
    // At least one word, so a zero-bit vector still owns a block like any
    // other and every operation has a word to work on.
    size_t words = v->wordCount > 0 ? static_cast<size_t>(v->wordCount) : 1;
    void *block = std::calloc(words, sizeof(uint32_t));
    if (block == nullptr) {
        MarkEmpty(v);
        return 0;
    }
    v->storage = block;
    v->words = static_cast<uint32_t *>(block);
    v->holdsStorage = 1;
    return 1;
}

int BitAllocOnes(QuarnBitList *v, int32_t bits)
{
    if (!BitAllocZeroed(v, bits))
        return 0;
    for (int32_t i = 0; i < v->wordCount; ++i)
        v->words[i] = 0xffffffffu;
    return 1;
}

int BitAllocCopy(QuarnBitList *v, const QuarnBitList *source, int32_t bits)
{
    if (!BitAllocZeroed(v, bits))
        return 0;
    BitCopy(v, source);
    return 1;
}

int BitRelease(QuarnBitList *v)
{
    if (v->holdsStorage) {
        std::free(v->storage);
        MarkEmpty(v);
    }
    return 1;
}

void BitClear(QuarnBitList *v)
{
    if (v->wordCount > 0)
        std::memset(v->words, 0, static_cast<size_t>(v->wordCount) * sizeof(uint32_t));
}

void BitCopy(QuarnBitList *dst, const QuarnBitList *src)
{
    if (dst == src || dst->words == src->words)
        return;
    std::memcpy(dst->words, src->words, static_cast<size_t>(dst->wordCount) * sizeof(uint32_t));
}

void BitSet(QuarnBitList *v, int32_t bit)
{
    if (bit >= 0 && bit / 32 < v->wordCount)
        v->words[bit / 32] |= 1u << (bit % 32);
}

void BitShiftLeft(QuarnBitList *v, int32_t n)
{
    const int32_t count = v->wordCount;
    if (n <= 0)
        return;
    if (n >= 32 * count) {
        BitClear(v);
        return;
    }
    const int32_t wordShift = n / 32;
    const int bitShift = n % 32;
    uint32_t *w = v->words;
    for (int32_t i = count - 1; i >= 0; --i) {
        int32_t from = i - wordShift;
        uint32_t value = 0;
        if (from >= 0) {
            value = w[from] << bitShift;
            if (bitShift != 0 && from > 0)
                value |= w[from - 1] >> (32 - bitShift);
        }
        w[i] = value;
    }
}

void BitShiftRight(QuarnBitList *v, int32_t n)
{
    const int32_t count = v->wordCount;
    if (n <= 0)
        return;
    if (n >= 32 * count) {
        BitClear(v);
        return;
    }
    const int32_t wordShift = n / 32;
    const int bitShift = n % 32;
    uint32_t *w = v->words;
    for (int32_t i = 0; i < count; ++i) {
        int32_t from = i + wordShift;
        uint32_t value = 0;
        if (from < count) {
            value = w[from] >> bitShift;
            if (bitShift != 0 && from + 1 < count)
                value |= w[from + 1] << (32 - bitShift);
        }
        w[i] = value;
    }
}

void BitOrInto(QuarnBitList *dst, const QuarnBitList *src)
{
    for (int32_t i = 0; i < dst->wordCount; ++i)
        dst->words[i] |= src->words[i];
}

void BitOr(QuarnBitList *dst, const QuarnBitList *a, const QuarnBitList *b)
{
    for (int32_t i = 0; i < dst->wordCount; ++i)
        dst->words[i] = a->words[i] | b->words[i];
}

void BitAndInto(QuarnBitList *dst, const QuarnBitList *src)
{
    for (int32_t i = 0; i < dst->wordCount; ++i)
        dst->words[i] &= src->words[i];
}

void BitAnd(QuarnBitList *dst, const QuarnBitList *a, const QuarnBitList *b)
{
    for (int32_t i = 0; i < dst->wordCount; ++i)
        dst->words[i] = a->words[i] & b->words[i];
}

void BitAndNotInto(QuarnBitList *dst, const QuarnBitList *src)
{
    for (int32_t i = 0; i < dst->wordCount; ++i)
        dst->words[i] &= ~src->words[i];
}

void BitAddInto(QuarnBitList *dst, const QuarnBitList *src)
{
    uint64_t carry = 0;
    for (int32_t i = 0; i < dst->wordCount; ++i) {
        uint64_t sum = static_cast<uint64_t>(dst->words[i]) + src->words[i] + carry;
        dst->words[i] = static_cast<uint32_t>(sum);
        carry = sum >> 32;
    }
}

int BitCompare(const QuarnBitList *a, const QuarnBitList *b)
{
    for (int32_t i = a->wordCount - 1; i >= 0; --i) {
        if (a->words[i] != b->words[i])
            return a->words[i] > b->words[i] ? 1 : -1;
    }
    return 0;
}

} // namespace quarn
