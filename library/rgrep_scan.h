// The vector scans: they find, sixteen bytes at a time, the positions of a
// text where a match may begin: bytes of a first-byte set, the tests of a
// run plan, or a literal's byte pair.  They know nothing of the program
// area: what they read of a run plan they read through rgrep_plan.h.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "byte_scan.h"
#include "rgrep_plan.h"
#include "rgrep_private.h"

namespace quarn::rgrep {

// Internal linkage: each file that searches gets its own copies of these
// templates, which the compiler then inlines into their one caller with
// the caller's lambdas, as a single file would.
namespace {

#if defined(__SSE2__)
using scan::Mask;
using scan::ScanText;
using scan::Splat;

// Bit i: byte i of the 16-byte block is in the 32-byte bit set.
QUARN_BLOCK_READS inline unsigned SetMask(const unsigned char *set, const unsigned char *block)
{
    unsigned hit = 0;
    for (unsigned i = 0; i < 16; ++i)
        hit |= static_cast<unsigned>(IsMember(set, block[i])) << i;
    return hit;
}

// Runs `found` on every position whose byte is in `spec`.
template <class Found> const unsigned char *ScanCandidates(const unsigned char *s, const ScanSpec &spec, Found found)
{
    if (spec.listCount == 1) {
        const __m128i a = Splat(spec.list[0]);
        return ScanText(
            s, [&](__m128i v, const unsigned char *, auto) { return Mask(_mm_cmpeq_epi8(v, a)); }, found);
    }
    if (spec.listCount == 2) {
        const __m128i a = Splat(spec.list[0]), b = Splat(spec.list[1]);
        return ScanText(
            s,
            [&](__m128i v, const unsigned char *, auto) {
                return Mask(_mm_or_si128(_mm_cmpeq_epi8(v, a), _mm_cmpeq_epi8(v, b)));
            },
            found);
    }
    if (spec.listCount > 2) {
        __m128i bytes[8];
        const int n = spec.listCount;
        for (int i = 0; i < n; ++i)
            bytes[i] = Splat(spec.list[i]);
        return ScanText(
            s,
            [&](__m128i v, const unsigned char *, auto) {
                __m128i any = _mm_cmpeq_epi8(v, bytes[0]);
                for (int i = 1; i < n; ++i)
                    any = _mm_or_si128(any, _mm_cmpeq_epi8(v, bytes[i]));
                return Mask(any);
            },
            found);
    }
    if (spec.range) {
        const __m128i lo = Splat(spec.lo), span = Splat(static_cast<unsigned char>(spec.hi - spec.lo));
        return ScanText(
            s,
            [&](__m128i v, const unsigned char *, auto) {
                const __m128i off = _mm_sub_epi8(v, lo);
                return Mask(_mm_cmpeq_epi8(_mm_min_epu8(off, span), off));
            },
            found);
    }
    const unsigned char *set = spec.set;
    return ScanText(
        s, [set](__m128i, const unsigned char *block, auto) { return SetMask(set, block); }, found);
}
#else
template <class Found> const unsigned char *ScanCandidates(const unsigned char *s, const ScanSpec &spec, Found found)
{
    for (; *s != '\0'; ++s)
        if (((spec.set[*s >> 3] >> (*s & 7)) & 1) && found(s))
            return s;
    return nullptr;
}
#endif

#if defined(__SSE2__)
inline __m128i Vector(const VectorTest &test, int k)
{
    return _mm_loadu_si128(reinterpret_cast<const __m128i *>(test.vectors() + 16 * k));
}

// Bit i: byte i of the block passes the test.  kSingle: the test is known
// to be a lone target or a range (two vectors, no loop).
template <bool kSingle> inline unsigned TestMask(const VectorTest &test, __m128i v)
{
    if (test.kind() == kRangeTest) {
        const __m128i off = _mm_sub_epi8(v, Vector(test, 0));
        return Mask(_mm_cmpeq_epi8(_mm_min_epu8(off, Vector(test, 1)), off));
    }
    if (kSingle)
        return Mask(_mm_cmpeq_epi8(_mm_or_si128(v, Vector(test, 1)), Vector(test, 0)));
    const __m128i folded = _mm_or_si128(v, Splat(0x20));
    const int count = test.count(), nFolded = test.folded();
    __m128i any = _mm_cmpeq_epi8(nFolded > 0 ? folded : v, Vector(test, 0));
    for (int k = 1; k < count; ++k)
        any = _mm_or_si128(any, _mm_cmpeq_epi8(k < nFolded ? folded : v, Vector(test, k)));
    return Mask(any);
}

inline bool IsSingle(const VectorTest &test)
{
    return test.kind() == kRangeTest || (test.kind() == kTargets && test.count() == 1);
}

// Narrows `mask` by a later-position test.  With the bytes ahead readable
// the test reads them; otherwise a candidate whose tested byte lies in the
// next block stays a candidate.
template <bool kAhead>
QUARN_BLOCK_READS inline unsigned Later(const VectorTest &test, unsigned mask, __m128i v, const unsigned char *block)
{
    const unsigned offset = test.offset();
    if (kAhead) {
        const __m128i w = _mm_loadu_si128(reinterpret_cast<const __m128i *>(block + offset));
        return mask & (IsSingle(test) ? TestMask<true>(test, w) : TestMask<false>(test, w));
    }
    const unsigned stays = (0xffffu << (16 - offset)) & 0xffffu;
    return mask & ((IsSingle(test) ? TestMask<true>(test, v) : TestMask<false>(test, v)) >> offset | stays);
}

// Candidates: positions whose byte may begin a run and whose later
// positions pass the tests.  A candidate whose tested position lies in the
// next block stays a candidate.  kFirst: 0 no test of the first position
// (every position, or the summary's bit set `set` when non-null), 1 a lone
// target or range, 2 up to four targets.  `tests`: the first position's
// test, then two later ones.
template <int kFirst, class Found>
const unsigned char *ScanRuns(const unsigned char *s, const VectorTest *tests, const unsigned char *set, Found found)
{
    const VectorTest &first = tests[0], &second = tests[1], &third = tests[2];
    const bool useSecond = second.kind() != kNoTest, useThird = third.kind() != kNoTest;
    return ScanText(
        s,
        [&](__m128i v, const unsigned char *block, auto ahead) QUARN_BLOCK_READS {
            constexpr bool kAhead = decltype(ahead)::value;
            unsigned m = 0xffffu;
            if (kFirst == 1) {
                m = TestMask<true>(first, v);
            } else if (kFirst == 2) {
                m = TestMask<false>(first, v);
            } else if (set != nullptr) {
                m = SetMask(set, block);
            }
            // No early exit when m is 0: a frequent first byte would make
            // that branch unpredictable, and the tests cost less than a miss.
            if (useSecond)
                m = Later<kAhead>(second, m, v, block);
            if (useThird)
                m = Later<kAhead>(third, m, v, block);
            return m;
        },
        found);
}
#endif

// Leftmost occurrence of the literal `lit` in `text`, ASCII case folded when
// `fold`.  Candidates are the positions where the literal's bytes `pair`
// and `pair` + 1 occur side by side (`vectors`: their search vectors, see
// LiteralVectors); the literal is then compared in full from `pair` bytes
// before.  Candidates come in text order, so the first that agrees is the
// leftmost occurrence.
inline const unsigned char *FindLiteral(const unsigned char *text, const unsigned char *lit, bool fold, size_t pair,
                                        const unsigned char *vectors)
{
    auto agrees = [text, lit, fold, pair](const unsigned char *at) {
        if (static_cast<size_t>(at - text) < pair)
            return false; // the literal would begin before the text
        const unsigned char *s = at - pair;
        size_t k = 0;
        if (fold) {
            while (lit[k] != '\0' && kFold.entry[s[k]] == kFold.entry[lit[k]])
                ++k;
        } else {
            while (lit[k] != '\0' && s[k] == lit[k])
                ++k;
        }
        return lit[k] == '\0';
    };
    const unsigned char *at;
#if defined(__SSE2__)
    // An ignored-case letter is compared after OR-ing 0x20, which accepts
    // exactly its two forms.  Without the bytes ahead, a candidate whose
    // second byte lies in the next block stays a candidate.
    auto load = [vectors](int k) { return _mm_loadu_si128(reinterpret_cast<const __m128i *>(vectors + 16 * k)); };
    const __m128i a = load(0), aOr = load(1), b = load(2), bOr = load(3);
    if (lit[1] == '\0') {
        at = ScanText(
            text, [&](__m128i v, const unsigned char *, auto) { return Mask(_mm_cmpeq_epi8(_mm_or_si128(v, aOr), a)); },
            agrees);
    } else {
        at = ScanText(
            text,
            [&](__m128i v, const unsigned char *block, auto ahead) QUARN_BLOCK_READS {
                const unsigned firsts = Mask(_mm_cmpeq_epi8(_mm_or_si128(v, aOr), a));
                if (decltype(ahead)::value) {
                    const __m128i w = _mm_loadu_si128(reinterpret_cast<const __m128i *>(block + 1));
                    return firsts & Mask(_mm_cmpeq_epi8(_mm_or_si128(w, bOr), b));
                }
                const unsigned seconds = Mask(_mm_cmpeq_epi8(_mm_or_si128(v, bOr), b));
                return firsts & ((seconds >> 1) | 0x8000u);
            },
            agrees);
    }
#else
    (void)vectors;
    at = nullptr;
    for (const unsigned char *s = text; *s != '\0'; ++s)
        if (agrees(s)) {
            at = s;
            break;
        }
#endif
    return at != nullptr ? at - pair : nullptr;
}

} // namespace

} // namespace quarn::rgrep
