// The word-character table of \< and \>: its storage, laid down at load
// time, and the three exports that reset, extend and shrink it.
#include "quarn32.h"
#include "rgrep_private.h"

namespace quarn {

namespace rgrep {

// Laid down at load time (constant initialisation), before any call.
WordTable gWordTable;

} // namespace rgrep

unsigned char FoldAscii(unsigned char c)
{
    return rgrep::kFold.entry[c];
}

} // namespace quarn

using quarn::rgrep::gWordTable;
using quarn::rgrep::kDefaultWordSet;

extern "C" {

void QUARN_API InitWordCharTable(void)
{
    for (int c = 0; c < 256; ++c)
        gWordTable.entry[c] = (kDefaultWordSet[c >> 3] >> (c & 7)) & 1;
}

void QUARN_API AddWordChar(const char *chars)
{
    if (chars == nullptr)
        return;
    for (const unsigned char *c = reinterpret_cast<const unsigned char *>(chars); *c != '\0'; ++c)
        gWordTable.entry[*c] = 1;
}

void QUARN_API RemoveWordChar(const char *chars)
{
    if (chars == nullptr)
        return;
    for (const unsigned char *c = reinterpret_cast<const unsigned char *>(chars); *c != '\0'; ++c)
        gWordTable.entry[*c] = 0;
}

} // extern "C"
