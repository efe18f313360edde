// STACK: the library-wide error word.  Pattern chains (PushQuarnInfo,
// Quarn) share this module because chain evaluation is the only library
// code that writes the error word.
#include "quarn32.h"
#include "quarn_private.h"

namespace quarn {
int32_t gErrorWord = 0;
}

using namespace quarn;

extern "C" {

int32_t QUARN_API QuarnGetError(void)
{
    return gErrorWord;
}

int32_t QUARN_API QuarnSetError(int32_t code)
{
    if (gErrorWord != 0)
        return gErrorWord;
    gErrorWord = code;
    return 0;
}

int32_t QUARN_API QuarnResetError(int32_t code)
{
    int32_t previous = gErrorWord;
    gErrorWord = code;
    return previous;
}

} // extern "C"
