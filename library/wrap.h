// The library-held compiled patterns, one per kind, shared by the
// single-pattern entry points and the file search.
#pragma once

#include "quarn32.h"

namespace quarn {

QuarnPattern *HeldRegex();
QuarnPattern *HeldSoundex();
QuarnPattern *HeldApprox();

} // namespace quarn
