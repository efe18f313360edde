// block.cpp - matching a block of NUL-separated names in one call.
//
// A caller that keeps many short names side by side (a catalog's name
// store) would otherwise pay one library call per name.  The block calls
// walk the names where they lie and hand back the offsets of the hits; each
// name is judged by the kind's own per-line matcher, so a block answers
// exactly what the per-name calls would.

#include <cstring>

#include "quarn32.h"

namespace {

using LineMatcher = int32_t(QUARN_API *)(const char *, QuarnPattern *);

// Shared walk.  A name is a hit when the matcher answers 1 or more; an
// answer of -1 stops the walk at that name.
int32_t MatchBlock(LineMatcher match, const char *block, int32_t length, int32_t *hits, int32_t capacity, int32_t *stop,
                   QuarnPattern *p)
{
    if (stop != nullptr)
        *stop = 0;
    if (p == nullptr || p->errorCode != 0 || length < 0 || capacity < 0 || (block == nullptr && length > 0) ||
        (hits == nullptr && capacity > 0))
        return -1;
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

} // namespace

extern "C" {

int32_t QUARN_API QuarnRGrepBlock(const char *block, int32_t length, int32_t *hits, int32_t capacity, int32_t *stop,
                                  QuarnPattern *p)
{
    return MatchBlock(RGrep, block, length, hits, capacity, stop, p);
}

int32_t QUARN_API QuarnAGrepBlock(const char *block, int32_t length, int32_t *hits, int32_t capacity, int32_t *stop,
                                  QuarnPattern *p)
{
    return MatchBlock(AGrep, block, length, hits, capacity, stop, p);
}

int32_t QUARN_API QuarnSGrepBlock(const char *block, int32_t length, int32_t *hits, int32_t capacity, int32_t *stop,
                                  QuarnPattern *p)
{
    return MatchBlock(SGrep, block, length, hits, capacity, stop, p);
}

} // extern "C"
