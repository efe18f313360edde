// Platform services of the library on POSIX systems: the string table is
// compiled in, the default reporter writes one line to standard error, and
// the captions are loaded by a load-time initializer.
#include <cstdio>
#include <cstdlib>

#include "quarn_private.h"

namespace quarn {

namespace {

struct StringEntry {
    int id;
    const char *text;
};

constexpr StringEntry kStringTable[] = {
#define QUARN_STRING(id, symbol, text) {id, text},
#include "strings.def"
#undef QUARN_STRING
};

} // namespace

const char *LoadLibraryString(int id)
{
    for (const auto &entry : kStringTable)
        if (entry.id == id)
            return entry.text;
    return nullptr;
}

void DefaultReport(const char *text, const char *caption)
{
    std::fprintf(stderr, "%s: %s\n", caption, text);
    std::fflush(stderr);
}

namespace {

// Runs when the shared object is loaded, before any export can be called.
// A library without its captions must not load; the table is compiled in,
// so this can only fail after a broken edit of strings.def.
__attribute__((constructor)) void AttachProcess()
{
    if (!LoadCaptions()) {
        std::fputs("QUARN32: string table incomplete, refusing to load\n", stderr);
        std::abort();
    }
}

} // namespace

} // namespace quarn
