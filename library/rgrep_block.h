// What a compiled regular expression tells about the names it can match,
// for the one-pass walk over a block of names (block_scan.h).
#pragma once

#include <cstddef>
#include <cstdint>

#include "block_scan.h"
#include "quarn32.h"

namespace quarn::rgrep {

// Fills `filter` for record `p` under the options word `options`; false
// when the program promises nothing that would let names be passed over
// unseen, or when passing over a name could change an answer (line
// separators on, or a step limit that the backtracking matcher may reach).
bool DescribeNames(QuarnPattern *p, int32_t options, block::Filter *filter);

// The longest text on which the backtracking matcher is sure to finish
// program `rx` within `limit` steps.  Without tags and back references every
// rest of a repeater is memoised, and a call then takes at most program
// length x (text length + 1) steps.  False for programs that may need more,
// or when unsure.
bool LongestSureName(const QuarnRegexBody &rx, int32_t limit, size_t *longest);

// The step limit of QuarnSetStepLimit; 0: none.
int32_t StepLimit();

} // namespace quarn::rgrep
