// Substitution for the regular-expression kind: the shared template builder
// with the \xHH escape and the regular-expression caption.
#include "quarn32.h"
#include "quarn_private.h"
#include "subst.h"

using namespace quarn;

namespace {
SubstKind RegexKind()
{
    return {gCaptionRegex, "no pattern provided", true};
}
} // namespace

extern "C" {

int32_t QUARN_API RGrepSubsBuild(const char *tmpl, char *dest, int32_t capacity, QuarnPattern *p)
{
    return SubsBuild(RegexKind(), tmpl, dest, capacity, p);
}

int32_t QUARN_API RGrepSubstitute(char *line, const char *tmpl, char *dest, int32_t capacity, QuarnPattern *p)
{
    return Substitute(RegexKind(), line, tmpl, dest, capacity, p);
}

} // extern "C"
