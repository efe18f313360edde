// LIBMAIN: version and debug queries, and the start-up step shared by every
// platform (loading the three captions from the string table).  How the
// platform runs that step at load time lives in platform_*.cpp.
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
