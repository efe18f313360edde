// The one-pass walk over a block of NUL-terminated names.  A kind that can
// tell, from a few bytes, which names cannot match describes those bytes
// here (byte pairs to look for anywhere, or bytes at the ends of a name);
// the walk then looks at the whole block sixteen bytes at a time and hands
// only the names that pass to the kind's own per-name matcher, which stays
// the one judge of a hit.  Everything a block call answers (hits, where it
// stopped, the -1 of a matcher that gives up) therefore comes from the same
// per-name calls that a name-by-name walk would make.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "quarn32.h"

namespace quarn::block {

// Positions that may lie inside a match: the byte at the position is one of
// `first`, the byte `secondAt` bytes later one of `second` and the byte
// `thirdAt` bytes later one of `third` (an empty list: any byte), for at
// least one of up to four alternatives.  The tested bytes lie in one name
// whenever a match holds them; NUL is never listed, so a candidate never
// straddles two names.
struct PairAlternative {
    int firstCount = 0;  // 1..8
    int secondCount = 0; // 0..8
    int thirdCount = 0;  // 0..8, only with a second
    int secondAt = 1;    // 1..16
    int thirdAt = 2;     // 1..16
    unsigned char first[8] = {};
    unsigned char second[8] = {};
    unsigned char third[8] = {};
};

struct PairTest {
    int count = 0; // 1..4 alternatives
    PairAlternative alt[4];
};

// Conditions on the first and last bytes of a name: a name can match only
// when it is long enough and its first `prefix` bytes and its last `suffix`
// bytes lie in the given 32-byte bit sets (bit c & 7 of byte c >> 3).
constexpr int kEndBytes = 4;
struct EndTest {
    int prefix = 0;
    int suffix = 0;
    unsigned char pre[kEndBytes][32] = {};
    unsigned char suf[kEndBytes][32] = {};
};

// What a kind knows about the names that can match; kNone: nothing, every
// name goes to the per-name matcher.  kEnds: a name passes when one of
// `endCount` tests accepts it.  A name longer than `maxSafeLength` bytes is
// always judged, whatever the test says: the per-name matcher might give up
// on it, and only the matcher can tell.
struct Filter {
    enum Kind { kNone, kPairs, kEnds } kind = kNone;
    PairTest pairs;
    int endCount = 0;
    EndTest ends[QUARN_MAX_BRANCHES];
    size_t maxSafeLength = SIZE_MAX;
};

inline void AddToList(unsigned char *list, int *count, unsigned char c)
{
    for (int i = 0; i < *count; ++i)
        if (list[i] == c)
            return;
    list[(*count)++] = c;
}

// Lists the members of a 32-byte bit set into `list` (room for 8); false
// when it has none or more than 8, or holds NUL.
inline bool ListSet(const unsigned char *set, unsigned char *list, int *count)
{
    *count = 0;
    if (set[0] & 1)
        return false;
    for (int i = 0; i < 32; ++i) {
        for (unsigned bits = set[i]; bits != 0; bits &= bits - 1) {
            if (*count == 8)
                return false;
            list[(*count)++] = static_cast<unsigned char>(8 * i + __builtin_ctz(bits));
        }
    }
    return *count > 0;
}

using LineMatcher = int32_t(QUARN_API *)(const char *, QuarnPattern *);

// One block call: the names judged so far, the hit table, where it stopped.
class Walk {
public:
    Walk(LineMatcher match, const char *block, int32_t length, int32_t *hits, int32_t capacity, QuarnPattern *p)
        : match_(match), p_(p), block_(reinterpret_cast<const unsigned char *>(block)), length_(length), hits_(hits),
          capacity_(capacity)
    {
        // Bytes after the last NUL are no name: the walk ends before them.
        const unsigned char *e = block_ + length;
        while (e > block_ && e[-1] != '\0')
            --e;
        namesEnd_ = e;
        cursor_ = block_;
    }

    const unsigned char *Begin() const { return block_; }
    const unsigned char *NamesEnd() const { return namesEnd_; }

    // Judges the name [start, nul) with the per-name matcher; false when the
    // walk must stop (the table is full or the matcher gave up).
    bool Judge(const unsigned char *start, const unsigned char *nul)
    {
        const int32_t result = match_(reinterpret_cast<const char *>(start), p_);
        lastJudged_ = start;
        cursor_ = nul + 1;
        if (result < 0) {
            Stop(start);
            return false;
        }
        if (result > 0) {
            hits_[found_++] = static_cast<int32_t>(start - block_);
            if (found_ == capacity_) {
                Stop(nul + 1 == namesEnd_ ? block_ + length_ : nul + 1);
                return false;
            }
        }
        return true;
    }

    // Judges the name that holds byte `at` (not before the names already
    // passed, not a NUL); returns where the walk goes on, or null to stop.
    const unsigned char *JudgeNameAt(const unsigned char *at)
    {
        return JudgeNameAt(at, [](const unsigned char *, const unsigned char *) { return true; });
    }

    // The same, for a name that `passes(name, nul)`; other names are passed.
    template <class Passes> const unsigned char *JudgeNameAt(const unsigned char *at, Passes passes)
    {
        const unsigned char *start = at;
        while (start > cursor_ && start[-1] != '\0')
            --start;
        const unsigned char *nul =
            static_cast<const unsigned char *>(std::memchr(at, '\0', static_cast<size_t>(namesEnd_ - at)));
        if (!passes(start, nul)) {
            Pass(nul);
            return nul + 1;
        }
        return Judge(start, nul) ? nul + 1 : nullptr;
    }

    // Name [cursor, nul) was passed over without a call.
    void Pass(const unsigned char *nul) { cursor_ = nul + 1; }
    const unsigned char *Cursor() const { return cursor_; }
    bool Stopped() const { return stopped_; }

    // Ends the call: the record's match tables must tell the outcome of
    // the last name read, as after a name-by-name walk, so that name is
    // judged when the filter passed over it.
    int32_t Finish(int32_t *stop)
    {
        if (!stopped_ && namesEnd_ > block_) {
            const unsigned char *last = namesEnd_ - 1;
            while (last > block_ && last[-1] != '\0')
                --last;
            if (last != lastJudged_ && Judge(last, namesEnd_ - 1))
                Stop(block_ + length_);
        }
        if (!stopped_)
            Stop(block_ + length_);
        if (stop != nullptr)
            *stop = stopAt_;
        return found_;
    }

private:
    void Stop(const unsigned char *at)
    {
        stopped_ = true;
        stopAt_ = static_cast<int32_t>(at - block_);
    }

    LineMatcher match_;
    QuarnPattern *p_;
    const unsigned char *block_;
    int32_t length_;
    int32_t *hits_;
    int32_t capacity_;
    int32_t found_ = 0;
    const unsigned char *namesEnd_ = nullptr;
    const unsigned char *cursor_ = nullptr;
    const unsigned char *lastJudged_ = nullptr;
    bool stopped_ = false;
    int32_t stopAt_ = 0;
};

#if defined(__SSE2__)

// Walks [from, end) sixteen bytes at a time.  `hits(view)` gives the mask of
// candidate bytes among view[0..15] and may read view[0..31]; near the end
// it sees a copy padded with NULs, so nothing past `end` is ever read.
// `found(at)` is called for each candidate in order and returns where the
// walk goes on (after `at`), or null to stop.
template <class Hits, class Found>
void ScanBytes(const unsigned char *from, const unsigned char *end, Hits hits, Found found)
{
    alignas(16) unsigned char pad[48];
    const unsigned char *at = from;
    while (at < end) {
        const size_t left = static_cast<size_t>(end - at);
        const unsigned char *view = at;
        if (left < 32) {
            std::memset(pad, 0, sizeof pad);
            std::memcpy(pad, at, left);
            view = pad;
        }
        unsigned mask = hits(view) & 0xffffu;
        if (left < 16)
            mask &= (1u << left) - 1;
        const unsigned char *next = at + 16;
        while (mask != 0) {
            const unsigned char *resume = found(at + __builtin_ctz(mask));
            if (resume == nullptr)
                return;
            if (resume >= next) {
                next = resume;
                break;
            }
            mask &= 0xffffu << (resume - at);
        }
        at = next;
    }
}

inline __m128i Load(const unsigned char *at)
{
    return _mm_loadu_si128(reinterpret_cast<const __m128i *>(at));
}

// Judges the names in [from, to) that hold a candidate run of bytes; `from`
// begins a name and `to` follows a NUL.
inline void RunPairs(Walk &walk, const PairTest &test, const unsigned char *from, const unsigned char *to)
{
    __m128i first[4][8], second[4][8], third[4][8];
    int n0[4], n1[4], n2[4];
    const int alts = test.count;
    for (int a = 0; a < alts; ++a) {
        n0[a] = test.alt[a].firstCount;
        n1[a] = test.alt[a].secondCount;
        n2[a] = n1[a] > 0 ? test.alt[a].thirdCount : 0;
        for (int i = 0; i < n0[a]; ++i)
            first[a][i] = _mm_set1_epi8(static_cast<char>(test.alt[a].first[i]));
        for (int i = 0; i < n1[a]; ++i)
            second[a][i] = _mm_set1_epi8(static_cast<char>(test.alt[a].second[i]));
        for (int i = 0; i < n2[a]; ++i)
            third[a][i] = _mm_set1_epi8(static_cast<char>(test.alt[a].third[i]));
    }
    auto anyOf = [](__m128i v, const __m128i *list, int n) {
        __m128i any = _mm_cmpeq_epi8(v, list[0]);
        for (int i = 1; i < n; ++i)
            any = _mm_or_si128(any, _mm_cmpeq_epi8(v, list[i]));
        return any;
    };
    auto hits = [&](const unsigned char *view) {
        const __m128i v = Load(view);
        __m128i all = _mm_setzero_si128();
        for (int a = 0; a < alts; ++a) {
            __m128i m = anyOf(v, first[a], n0[a]);
            if (n1[a] > 0)
                m = _mm_and_si128(m, anyOf(Load(view + test.alt[a].secondAt), second[a], n1[a]));
            if (n2[a] > 0)
                m = _mm_and_si128(m, anyOf(Load(view + test.alt[a].thirdAt), third[a], n2[a]));
            all = _mm_or_si128(all, m);
        }
        return static_cast<unsigned>(_mm_movemask_epi8(all));
    };
    ScanBytes(from, to, hits, [&](const unsigned char *at) { return walk.JudgeNameAt(at); });
}

inline bool InSet(const unsigned char *set, unsigned char c)
{
    return (set[c >> 3] >> (c & 7)) & 1;
}

inline bool PassesEnds(const EndTest &t, const unsigned char *name, size_t length)
{
    if (length < static_cast<size_t>(t.prefix) || length < static_cast<size_t>(t.suffix))
        return false;
    for (int i = 0; i < t.prefix; ++i)
        if (!InSet(t.pre[i], name[i]))
            return false;
    const unsigned char *tail = name + length - t.suffix;
    for (int i = 0; i < t.suffix; ++i)
        if (!InSet(t.suf[i], tail[i]))
            return false;
    return true;
}

// The end tests as the scan looks for them: each test at one end of a name,
// with the bytes of that end that a short list holds: its last bytes just
// before a NUL, or its first bytes just after one (a candidate is then that
// NUL).
struct EndLooks {
    struct Look {
        bool suffix;
        int n;
        int at[kEndBytes]; // offset from the candidate
        int listed[kEndBytes];
        __m128i bytes[kEndBytes][8];
        int nulAt; // offset of the NUL from the candidate
    };
    const EndTest *tests = nullptr;
    int count = 0;
    Look looks[QUARN_MAX_BRANCHES];
};

// False when some test has no listed byte to look for.
inline bool PrepareEnds(const EndTest *tests, int count, EndLooks *out)
{
    if (count < 1 || count > QUARN_MAX_BRANCHES)
        return false;
    out->tests = tests;
    out->count = count;
    for (int t = 0; t < count; ++t) {
        EndLooks::Look &look = out->looks[t];
        look.n = 0;
        unsigned char list[8];
        int listed = 0;
        for (int side = 0; side < 2 && look.n == 0; ++side) {
            look.suffix = side == 0;
            const int positions = look.suffix ? tests[t].suffix : tests[t].prefix;
            for (int i = 0; i < positions; ++i) {
                if (!ListSet(look.suffix ? tests[t].suf[i] : tests[t].pre[i], list, &listed))
                    continue;
                look.at[look.n] = look.suffix ? i : i + 1;
                look.listed[look.n] = listed;
                for (int k = 0; k < listed; ++k)
                    look.bytes[look.n][k] = _mm_set1_epi8(static_cast<char>(list[k]));
                ++look.n;
            }
            look.nulAt = look.suffix ? positions : 0;
        }
        if (look.n == 0)
            return false;
    }
    return true;
}

// Judges the names in [from, to) whose ends pass one of the tests; `from`
// begins a name and `to` follows a NUL.  The first name, which follows
// no NUL in the range, is looked at alone.  A candidate's name then passes
// the whole test before it is judged.
inline void RunEnds(Walk &walk, const EndLooks &e, const unsigned char *from, const unsigned char *to)
{
    const __m128i zero = _mm_setzero_si128();
    const int count = e.count;
    auto hits = [&](const unsigned char *view) {
        __m128i all = _mm_setzero_si128();
        for (int t = 0; t < count; ++t) {
            const EndLooks::Look &look = e.looks[t];
            __m128i m = _mm_cmpeq_epi8(Load(view + look.nulAt), zero);
            for (int i = 0; i < look.n; ++i) {
                const __m128i v = Load(view + look.at[i]);
                __m128i any = _mm_cmpeq_epi8(v, look.bytes[i][0]);
                for (int k = 1; k < look.listed[i]; ++k)
                    any = _mm_or_si128(any, _mm_cmpeq_epi8(v, look.bytes[i][k]));
                m = _mm_and_si128(m, any);
            }
            all = _mm_or_si128(all, m);
        }
        return static_cast<unsigned>(_mm_movemask_epi8(all));
    };
    auto passes = [&](const unsigned char *name, const unsigned char *nul) {
        for (int t = 0; t < count; ++t)
            if (PassesEnds(e.tests[t], name, static_cast<size_t>(nul - name)))
                return true;
        return false;
    };
    // Judges or passes the name at `name`; returns its NUL, which may be the
    // candidate of the next name's first bytes, or null to stop.
    auto consider = [&](const unsigned char *name) -> const unsigned char * {
        const unsigned char *nul =
            static_cast<const unsigned char *>(std::memchr(name, '\0', static_cast<size_t>(to - name)));
        if (passes(name, nul))
            return walk.Judge(name, nul) ? nul : nullptr;
        walk.Pass(nul);
        return nul;
    };
    if (from == to || consider(from) == nullptr)
        return;
    // From the first name's NUL: the candidate of the second name's first bytes.
    ScanBytes(walk.Cursor() - 1, to, hits, [&](const unsigned char *at) -> const unsigned char * {
        if (*at != '\0') {
            const unsigned char *next = walk.JudgeNameAt(at, passes);
            return next != nullptr ? next - 1 : nullptr;
        }
        if (at + 1 == to)
            return at + 1;
        walk.Pass(at);
        return consider(at + 1);
    });
}

// Bytes the scans cover between two looks for long names, so that the
// bytes they read were just read by that look and are still at hand.
constexpr size_t kStretchBytes = 32 * 1024;

// Bit i: view[i] is NUL, for the `kWidth` (16 or 64) bytes from `view`.
template <int kWidth> inline uint64_t NulBits(const unsigned char *view)
{
    const __m128i zero = _mm_setzero_si128();
    uint64_t bits = 0;
    for (int i = 0; i < kWidth; i += 16)
        bits |= static_cast<uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(Load(view + i), zero))))
            << i;
    return bits;
}

// From `from`, a name's start, to `end`, which follows a NUL: the end of the
// stretch in which no name is longer than `longest` bytes.  That is the
// start of the first longer name (*isLong is then true), or the first name
// start `reach` bytes on or more, or `end`.  `kWidth` bytes are looked at a
// time: the names that begin and end among them are shorter than kWidth - 1,
// which must be at most `longest`, so only the names that cross from one
// look to the next are measured.
template <int kWidth>
const unsigned char *SafeStretch(const unsigned char *from, const unsigned char *end, size_t longest, size_t reach,
                                 bool *isLong)
{
    *isLong = false;
    const unsigned char *name = from; // where the name being measured begins
    const unsigned char *at = from;
    for (; end - at >= kWidth; at += kWidth) {
        const uint64_t bits = NulBits<kWidth>(at);
        if (bits == 0) {
            if (static_cast<size_t>(at + kWidth - name) > longest) {
                *isLong = true;
                return name;
            }
            continue;
        }
        if (static_cast<size_t>(at + __builtin_ctzll(bits) - name) > longest) {
            *isLong = true;
            return name;
        }
        name = at + 64 - __builtin_clzll(bits); // just after the last NUL
        if (static_cast<size_t>(name - from) >= reach)
            return name;
    }
    for (; at < end; ++at) {
        if (*at != '\0')
            continue;
        if (static_cast<size_t>(at - name) > longest) {
            *isLong = true;
            return name;
        }
        name = at + 1;
    }
    return end;
}

// Runs the block call with the kind's filter; false when the filter offers
// nothing and the caller must walk name by name.  Under a length bound the
// block is cut into stretches of names the filter may pass over, and each
// longer name between them is judged on its own.
inline bool RunFiltered(Walk &walk, const Filter &filter)
{
    bool listed = filter.pairs.count >= 1 && filter.pairs.count <= 4;
    for (int a = 0; listed && a < filter.pairs.count; ++a) {
        const PairAlternative &alt = filter.pairs.alt[a];
        listed = alt.firstCount >= 1 && alt.firstCount <= 8 && alt.secondCount >= 0 && alt.secondCount <= 8 &&
            alt.thirdCount >= 0 && alt.thirdCount <= 8;
    }
    const bool pairs = filter.kind == Filter::kPairs && listed;
    EndLooks looks;
    if (!pairs && (filter.kind != Filter::kEnds || !PrepareEnds(filter.ends, filter.endCount, &looks)))
        return false;
    auto run = [&](const unsigned char *from, const unsigned char *to) {
        if (pairs)
            RunPairs(walk, filter.pairs, from, to);
        else
            RunEnds(walk, looks, from, to);
    };
    const unsigned char *end = walk.NamesEnd();
    if (filter.maxSafeLength == SIZE_MAX) {
        run(walk.Begin(), end);
        return true;
    }
    if (filter.maxSafeLength < 14)
        return false; // nearly every name would be judged anyway
    // Wider looks where most of them find a NUL.
    auto stretch = filter.maxSafeLength >= 62 ? SafeStretch<64> : SafeStretch<16>;
    for (const unsigned char *from = walk.Begin(); from < end && !walk.Stopped();) {
        bool isLong = false;
        const unsigned char *to = stretch(from, end, filter.maxSafeLength, kStretchBytes, &isLong);
        if (to > from)
            run(from, to);
        if (walk.Stopped() || !isLong) {
            from = to;
            continue;
        }
        const unsigned char *nul =
            static_cast<const unsigned char *>(std::memchr(to, '\0', static_cast<size_t>(end - to)));
        if (!walk.Judge(to, nul))
            break;
        from = nul + 1;
    }
    return true;
}

#else

inline bool RunFiltered(Walk &, const Filter &)
{
    return false;
}

#endif

// The approximate kind's description of the names it can match
// (agrep.cpp); false when every name must be judged.
bool DescribeApproxNames(QuarnPattern *p, Filter *filter);

// The approximate kind's counters run over the whole block (agrep.cpp);
// false, before anything is judged, when the record does not allow it.
bool ScanApproxBits(Walk &walk, QuarnPattern *p);

} // namespace quarn::block
