// WRAP: entry points on one library-held pattern per kind, for callers
// that need a single pattern at a time.  Each forwards to the plain call
// with the held record as its last argument.
#include "wrap.h"

namespace quarn {

namespace {
// Zero-filled at load time; full chain-element size so the approximate one
// holds the whole approximate body.
QuarnPattern gRegex;
QuarnPattern gSoundex;
QuarnPattern gApprox;
} // namespace

QuarnPattern *HeldRegex()
{
    return &gRegex;
}

QuarnPattern *HeldSoundex()
{
    return &gSoundex;
}

QuarnPattern *HeldApprox()
{
    return &gApprox;
}

} // namespace quarn

using namespace quarn;

extern "C" {

int32_t QUARN_API SCompileRGrep(const char *pattern, int32_t caseFlag)
{
    return CompileRGrep(pattern, caseFlag, &gRegex);
}

int32_t QUARN_API SRGrep(const char *line)
{
    return RGrep(line, &gRegex);
}

int32_t QUARN_API SRGrepSubsBuild(const char *tmpl, char *dest, int32_t capacity)
{
    return RGrepSubsBuild(tmpl, dest, capacity, &gRegex);
}

int32_t QUARN_API SRGrepSubstitute(char *line, const char *tmpl, char *dest, int32_t capacity)
{
    return RGrepSubstitute(line, tmpl, dest, capacity, &gRegex);
}

int32_t QUARN_API SCompileSGrep(const char *pattern, int32_t flag)
{
    return CompileSGrep(pattern, flag, &gSoundex);
}

int32_t QUARN_API SSGrep(const char *line)
{
    return SGrep(line, &gSoundex);
}

int32_t QUARN_API SSGrepSubsBuild(const char *tmpl, char *dest, int32_t capacity)
{
    return SGrepSubsBuild(tmpl, dest, capacity, &gSoundex);
}

int32_t QUARN_API SSGrepSubstitute(char *line, const char *tmpl, char *dest, int32_t capacity)
{
    return SGrepSubstitute(line, tmpl, dest, capacity, &gSoundex);
}

int32_t QUARN_API SCompileAGrep(const char *pattern, int32_t errors, int32_t caseFlag)
{
    return CompileAGrep(pattern, errors, caseFlag, &gApprox);
}

int32_t QUARN_API SAGrep(const char *line)
{
    return AGrep(line, &gApprox);
}

int32_t QUARN_API SAGrepInit(void)
{
    // Unlike a caller's record, the held one is known to be either
    // zero-filled or prepared by us, so what it holds can be released
    // safely instead of being lost.
    AGrepEmpty(&gApprox);
    return AGrepInit(&gApprox);
}

int32_t QUARN_API SAGrepEmpty(void)
{
    return AGrepEmpty(&gApprox);
}

int32_t QUARN_API SAGrepSubsBuild(const char *tmpl, char *dest, int32_t capacity)
{
    return AGrepSubsBuild(tmpl, dest, capacity, &gApprox);
}

int32_t QUARN_API SAGrepSubstitute(char *line, const char *tmpl, char *dest, int32_t capacity)
{
    return AGrepSubstitute(line, tmpl, dest, capacity, &gApprox);
}

} // extern "C"
