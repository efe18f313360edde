// Vectorised walk over a NUL-terminated text, shared by the matchers that
// skip ahead to candidate positions (regular expressions, approximate
// prefilter).  SSE2 only; callers keep a scalar path for other targets.
#pragma once

#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>

namespace quarn::scan {

// Walks the text from s in aligned 16-byte blocks.  `hits(v, block)` gives
// the mask of candidate bytes of a block; `found(at)` is called for each
// candidate before the terminating NUL, in order, until it accepts one.
// Aligned blocks may extend past the NUL but never past its page, which the
// address sanitizer cannot know.
template <class Hits, class Found>
__attribute__((no_sanitize_address)) const unsigned char *ScanText(const unsigned char *s, Hits hits, Found found)
{
    const __m128i zero = _mm_setzero_si128();
    const uintptr_t misalign = reinterpret_cast<uintptr_t>(s) & 15;
    const unsigned char *block = s - misalign;
    unsigned skip = (0xffffu << misalign) & 0xffffu;
    for (;; block += 16, skip = 0xffffu) {
        const __m128i v = _mm_load_si128(reinterpret_cast<const __m128i *>(block));
        const unsigned nul = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, zero))) & skip;
        unsigned hit = hits(v, block) & skip;
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
