// LIBMAIN: version and debug queries, and the start-up step shared by every
// platform (loading the three captions from the string table).  How the
// platform runs that step at load time lives in platform_*.cpp.
#include <cstddef>
#include <cstdint>

#include "quarn32.h"
#include "quarn_private.h"

namespace quarn {

char gCaptionApprox[kCaptionSize];
char gCaptionRegex[kCaptionSize];
char gCaptionSoundex[kCaptionSize];

void CopyBounded(char *dst, const char *src, int size)
{
    int i = 0;
    for (; i < size - 1 && src[i] != '\0'; ++i)
        dst[i] = src[i];
    dst[i] = '\0';
}

bool LoadCaptions()
{
    struct {
        int id;
        char *buffer;
    } const captions[] = {
        {14, gCaptionApprox},
        {15, gCaptionRegex},
        {27, gCaptionSoundex},
    };
    for (const auto &c : captions) {
        const char *text = LoadLibraryString(c.id);
        if (text == nullptr || *text == '\0')
            return false;
        CopyBounded(c.buffer, text, kCaptionSize);
    }
    return true;
}

} // namespace quarn

extern "C" {

uint16_t QUARN_API QuarnVersion(void)
{
    return 0x6031; // file version 6.0.3.1
}

int32_t QUARN_API QuarnIsDebug(void)
{
    return 0;
}

} // extern "C"

// Callers on 32-bit Windows allocate records by these numbers (the catalog
// program allocates 1964 bytes for a regular expression), so a change of the
// record's layout must not build there.
#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(offsetof(QuarnPattern, errorCode) == 0, "record layout");
static_assert(offsetof(QuarnPattern, patternText) == 4, "record layout");
static_assert(offsetof(QuarnPattern, matchStart) == 516, "record layout");
static_assert(offsetof(QuarnPattern, matchEnd) == 556, "record layout");
static_assert(offsetof(QuarnPattern, option) == 596, "record layout");
static_assert(offsetof(QuarnPattern, body) == 600, "record layout");
static_assert(offsetof(QuarnPattern, body.regex.program) == 600, "record layout");
static_assert(offsetof(QuarnPattern, body.regex.branchCount) == 1656, "record layout");
static_assert(offsetof(QuarnPattern, body.regex.branchStart) == 1660, "record layout");
static_assert(offsetof(QuarnPattern, body) + sizeof(QuarnRegexBody) == 1700, "record layout");
static_assert(offsetof(QuarnPattern, body) + sizeof(QuarnRegexBody) <= 1964,
              "a regular expression must fit the catalog's 1964-byte record");
static_assert(sizeof(QuarnApproxBody) >= sizeof(QuarnRegexBody) && sizeof(QuarnApproxBody) >= sizeof(QuarnSoundexBody),
              "the approximate body is the largest");
static_assert(offsetof(QuarnPattern, next) == offsetof(QuarnPattern, body) + sizeof(QuarnApproxBody),
              "chain fields follow the largest body");
static_assert(offsetof(QuarnPattern, kind) == offsetof(QuarnPattern, next) + 4, "record layout");
static_assert(sizeof(QuarnPattern) == offsetof(QuarnPattern, kind) + 4, "record layout");
#endif
