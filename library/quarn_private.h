// Library-internal declarations shared by the modules of QUARN32: the
// captions loaded at start-up, the options word, the one message reporter
// and the error-code texts.  Nothing here is exported.
#pragma once

#include <cstdint>

namespace quarn {

// Error codes stored in QuarnPattern::errorCode and returned by compile calls.
enum ErrorCode : int32_t {
    kOk = 0,
    kSoundexRefused = -1,
    kBadState = 1,
    kNoMemory = 2,
    kNoSpace = 3,
    kPatternTooLong = 4,
    kNoPreviousSearch = 5,
    kNoPattern = 6,
    kMissingBracket = 25,
    kEmptyClosure = 26,
    kIllegalClosure = 27,
    kTooManyTags = 28,
    kNullTag = 29,
    kUnmatchedClose = 30,
    kNullWord = 31,
    kCyclicalReference = 32,
    kUndeterminedReference = 33,
    kUnmatchedOpen = 34,
    kTooManyBranches = 35,
};

// Caption buffers, filled at load time from the string table.
constexpr int kCaptionSize = 128;
extern char gCaptionApprox[kCaptionSize];  // id 14
extern char gCaptionRegex[kCaptionSize];   // id 15
extern char gCaptionSoundex[kCaptionSize]; // id 27

// Library-wide options word (QUARN_OPT_* bits); initial value 8.
extern int32_t gOptions;

// The single reporting routine: forwards to the sink or the platform's
// default reporter, only while QUARN_OPT_MESSAGES is set.
void ShowErrorBox(const char *text, const char *caption);

// Text of the string table entry `id` (13..27), or nullptr.
const char *LoadLibraryString(int id);

// Loads the three captions; false when one of them is missing, in which case
// the library must refuse to load.
bool LoadCaptions();

// Copies at most size-1 bytes of src into dst and terminates it.
void CopyBounded(char *dst, const char *src, int size);

} // namespace quarn
