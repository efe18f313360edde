// block.cpp - matching a block of NUL-separated names in one call.
//
// A caller that keeps many short names side by side (a catalog's name
// store) would otherwise pay one library call per name.  The block calls
// look at the whole block in one pass where the compiled pattern tells
// which bytes a matching name must hold (block_scan.h), and hand the names
// that may match to the kind's own per-name matcher; without such a
// description they walk the names one by one.  Either way each name is
// judged by the per-name matcher, so a block answers exactly what the
// per-name calls would.

#include <cstring>

#include "block_scan.h"
#include "quarn32.h"
#include "quarn_private.h"
#include "rgrep_block.h"

namespace {

using quarn::block::LineMatcher;

bool Refused(const char *block, int32_t length, int32_t *hits, int32_t capacity, QuarnPattern *p)
{
    return p == nullptr || p->errorCode != 0 || length < 0 || capacity < 0 || (block == nullptr && length > 0) ||
        (hits == nullptr && capacity > 0);
}

// Name by name.  A name is a hit when the matcher answers 1 or more; an
// answer of -1 stops the walk at that name.
int32_t MatchEachName(LineMatcher match, const char *block, int32_t length, int32_t *hits, int32_t capacity,
                      int32_t *stop, QuarnPattern *p)
{
    int32_t found = 0;
    int32_t at = 0;
    while (at < length && found < capacity) {
        const void *nul = std::memchr(block + at, '\0', static_cast<size_t>(length - at));
        if (nul == nullptr) {
            at = length; // an unterminated tail is not a name
            break;
        }
        const int32_t next = static_cast<int32_t>(static_cast<const char *>(nul) - block) + 1;
        const int32_t result = match(block + at, p);
        if (result < 0)
            break;
        if (result > 0)
            hits[found++] = at;
        at = next;
    }
    if (found == capacity && at < length && std::memchr(block + at, '\0', static_cast<size_t>(length - at)) == nullptr)
        at = length; // only an unterminated tail is left: nothing more to read
    if (stop != nullptr)
        *stop = at;
    return found;
}

// `describe` tells which bytes a name that may match holds; `scan`, when
// that is not known, may walk the block in a pass of the kind's own.
template <class Describe, class Scan>
int32_t MatchBlock(LineMatcher match, Describe describe, Scan scan, const char *block, int32_t length, int32_t *hits,
                   int32_t capacity, int32_t *stop, QuarnPattern *p)
{
    if (stop != nullptr)
        *stop = 0;
    if (Refused(block, length, hits, capacity, p))
        return -1;
    if (capacity > 0) {
        quarn::block::Walk walk(match, block, length, hits, capacity, p);
        quarn::block::Filter filter;
        if ((describe(p, &filter) && quarn::block::RunFiltered(walk, filter)) || scan(walk, p))
            return walk.Finish(stop);
    }
    return MatchEachName(match, block, length, hits, capacity, stop, p);
}

bool NoScan(quarn::block::Walk &, QuarnPattern *)
{
    return false;
}

} // namespace

extern "C" {

int32_t QUARN_API QuarnRGrepBlock(const char *block, int32_t length, int32_t *hits, int32_t capacity, int32_t *stop,
                                  QuarnPattern *p)
{
    auto describe = [](QuarnPattern *q, quarn::block::Filter *f) {
        return quarn::rgrep::DescribeNames(q, quarn::gOptions, f);
    };
    return MatchBlock(RGrep, describe, NoScan, block, length, hits, capacity, stop, p);
}

int32_t QUARN_API QuarnAGrepBlock(const char *block, int32_t length, int32_t *hits, int32_t capacity, int32_t *stop,
                                  QuarnPattern *p)
{
    return MatchBlock(AGrep, quarn::block::DescribeApproxNames, quarn::block::ScanApproxBits, block, length, hits,
                      capacity, stop, p);
}

int32_t QUARN_API QuarnSGrepBlock(const char *block, int32_t length, int32_t *hits, int32_t capacity, int32_t *stop,
                                  QuarnPattern *p)
{
    auto none = [](QuarnPattern *, quarn::block::Filter *) { return false; };
    return MatchBlock(SGrep, none, NoScan, block, length, hits, capacity, stop, p);
}

} // extern "C"
