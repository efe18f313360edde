// Vectorised walk over a NUL-terminated text, shared by the matchers that
// skip ahead to candidate positions (regular expressions, approximate
// prefilter).  SSE2 only; callers keep a scalar path for other targets.
#pragma once

#include <cstdint>
#include <type_traits>

// Marks the functions that read whole blocks around a text: the bytes past
// its NUL lie in the same page but may belong to another object, which the
// address and thread sanitizers cannot know is harmless (they are never
// used).
#define QUARN_BLOCK_READS __attribute__((no_sanitize("address", "thread")))

#if defined(__SSE2__)
#include <emmintrin.h>

namespace quarn::scan {

// Walks the text from s in aligned 16-byte blocks.  `hits(v, block, ahead)`
// gives the mask of candidate bytes of a block; `ahead` is std::true_type
// when the 31 bytes after `block` may be read (so that a test of later bytes
// can read them instead of assuming them), else std::false_type; `found(at)` is called for each
// candidate before the terminating NUL, in order, until it accepts one.
// Aligned blocks may extend past the NUL but never past its page.
//
// Most texts are short lines: the first 32 bytes are looked at in one go
// (unaligned, when they and the 16 after them lie in one page), so that a
// line that ends there costs no loop and no hard-to-predict branch on where
// its NUL falls.
template <class Hits, class Found>
QUARN_BLOCK_READS const unsigned char *ScanText(const unsigned char *s, Hits hits, Found found)
{
    const __m128i zero = _mm_setzero_si128();
    if ((reinterpret_cast<uintptr_t>(s) & 4095) <= 4096 - 48) {
        uint32_t nul = 0, hit = 0;
        for (int i = 0; i < 2; ++i) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(s + 16 * i));
            nul |= static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, zero))) << (16 * i);
            hit |= static_cast<uint32_t>(hits(v, s + 16 * i, std::true_type{}) & 0xffffu) << (16 * i);
        }
        hit &= (nul & (0u - nul)) - 1; // candidates before the NUL only (all when none)
        for (; hit != 0; hit &= hit - 1) {
            const unsigned char *at = s + __builtin_ctz(hit);
            if (found(at))
                return at;
        }
        if (nul != 0)
            return nullptr;
        s += 32;
    }
    const uintptr_t misalign = reinterpret_cast<uintptr_t>(s) & 15;
    const unsigned char *block = s - misalign;
    unsigned skip = (0xffffu << misalign) & 0xffffu;
    for (;; block += 16, skip = 0xffffu) {
        const __m128i v = _mm_load_si128(reinterpret_cast<const __m128i *>(block));
        const unsigned nul = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, zero))) & skip;
        unsigned hit = hits(v, block, std::false_type{}) & skip;
        if (nul != 0)
            hit &= (nul & (0u - nul)) - 1; // candidates before the NUL only
        for (; hit != 0; hit &= hit - 1) {
            const unsigned char *at = block + __builtin_ctz(hit);
            if (found(at))
                return at;
        }
        if (nul != 0)
            return nullptr;
    }
}

inline unsigned Mask(__m128i v)
{
    return static_cast<unsigned>(_mm_movemask_epi8(v));
}

inline __m128i Splat(unsigned char c)
{
    return _mm_set1_epi8(static_cast<char>(c));
}

} // namespace quarn::scan

#endif
