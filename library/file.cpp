// FILE: grep-style search of one file at a time with the library-held
// patterns.  Each search call reads lines until one is selected and hands
// it back, with optional name, block and line-number prefixes, in a static
// 1024-byte result buffer.  The file is read as raw bytes on every
// platform; text mode's CR LF -> LF translation is done here, so a file
// gives the same lines and the same block numbers everywhere.  The
// regular-expression search counts whole lines that cannot match without
// reading them one by one (see RegexFilter below).
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "line_filter.h"
#include "quarn32.h"
#include "quarn_private.h"
#include "wrap.h"

namespace quarn {

namespace {

constexpr int kBufferSize = 1024;

// Settings (SFileSetFlags).
int32_t gNameFlag = 0;
int32_t gBlockFlag = 0;
int32_t gLineNumberFlag = 0;
int32_t gCountOnly = 0;
int32_t gSkipValue = 0;
int32_t gTextMode = 1;

// The open file.
std::FILE *gFile = nullptr;
bool gTranslateCrLf = false; // opened while the text-mode flag was 1
char gFileName[kBufferSize];
long gLineCount = 0;
long gSelectedCount = 0;

char gLine[kBufferSize];
char gNumber[kBufferSize];
char gResult[kBufferSize];

using Matcher = int32_t(QUARN_API *)(const char *, QuarnPattern *);

// The open file is read in large blocks; lines are cut from the block with
// memchr instead of a call per byte.  `gOffset` counts the raw bytes taken
// from the file, which is the stream position the block numbers are
// computed from.
constexpr size_t kReadSize = 1 << 16;
unsigned char gBlock[kReadSize];
size_t gBlockPos = 0;
size_t gBlockLength = 0;
long long gOffset = 0;

void ResetReader()
{
    gBlockPos = gBlockLength = 0;
    gOffset = 0;
}

// Makes at least one unread byte available; false at the end of the file.
bool Refill()
{
    if (gBlockPos < gBlockLength)
        return true;
    gBlockPos = 0;
    gBlockLength = std::fread(gBlock, 1, kReadSize, gFile);
    return gBlockLength > 0;
}

// Takes up to `limit` bytes from the block into gLine at `stored`, stopping
// after the first byte equal to `stop1` or `stop2`, or before a carriage
// return when `stopBeforeCr`.  Returns how it ended.
enum class Took { kLimit, kStop, kCr };

Took Take(int &stored, size_t limit, unsigned char stop1, unsigned char stop2, bool stopBeforeCr)
{
    const unsigned char *start = gBlock + gBlockPos;
    size_t avail = gBlockLength - gBlockPos;
    if (avail > limit)
        avail = limit;
    size_t take = avail;
    Took how = Took::kLimit;
    if (const void *hit = std::memchr(start, stop1, take)) {
        take = static_cast<size_t>(static_cast<const unsigned char *>(hit) - start) + 1;
        how = Took::kStop;
    }
    if (stop2 != stop1)
        if (const void *hit = std::memchr(start, stop2, take)) {
            take = static_cast<size_t>(static_cast<const unsigned char *>(hit) - start) + 1;
            how = Took::kStop;
        }
    if (stopBeforeCr)
        if (const void *hit = std::memchr(start, '\r', take)) {
            take = static_cast<size_t>(static_cast<const unsigned char *>(hit) - start);
            how = Took::kCr;
        }
    std::memcpy(gLine + stored, start, take);
    stored += static_cast<int>(take);
    gBlockPos += take;
    gOffset += static_cast<long long>(take);
    return how;
}

// The line reader: up to 1023 bytes, ending after a line feed.  In text
// mode a carriage return directly followed by a line feed is read as one
// line feed.  False at the end of the file when nothing was read.
bool ReadTextLine()
{
    int stored = 0;
    while (stored < kBufferSize - 1 && Refill()) {
        const Took how = Take(stored, static_cast<size_t>(kBufferSize - 1 - stored), '\n', '\n', gTranslateCrLf);
        if (how == Took::kStop)
            break;
        if (how == Took::kCr) {
            // Consume the carriage return; with a line feed behind it the
            // pair becomes one line feed that ends the line.
            ++gBlockPos;
            ++gOffset;
            if (Refill() && gBlock[gBlockPos] == '\n') {
                ++gBlockPos;
                ++gOffset;
                gLine[stored++] = '\n';
                break;
            }
            gLine[stored++] = '\r';
        }
    }
    gLine[stored] = '\0';
    return stored > 0;
}

// The byte reader: up to 1023 bytes, ending after a line feed or a 0 byte
// (consumed with the line); carriage returns stay.
bool ReadBinaryLine()
{
    int stored = 0;
    while (stored < kBufferSize - 1 && Refill())
        if (Take(stored, static_cast<size_t>(kBufferSize - 1 - stored), '\n', '\0', false) == Took::kStop)
            break;
    gLine[stored] = '\0';
    return stored > 0;
}

// Appends `text` to the result, never past its last byte.
void Append(size_t &length, const char *text)
{
    for (; *text != '\0' && length < kBufferSize - 1; ++text)
        gResult[length++] = *text;
    gResult[length] = '\0';
}

void AppendNumber(size_t &length, long value)
{
    std::snprintf(gNumber, sizeof gNumber, "%ld:", value);
    Append(length, gNumber);
}

// The regular-expression search passes over lines that cannot match in
// bulk (line_filter.h).  The filter is derived again whenever the held
// pattern or the reader's carriage-return handling differ from the last
// derivation; it is used only while the skip value is 0.
bool gFilterOn = true;

struct FilterCache {
    bool valid = false;
    bool usable = false;
    int32_t errorCode = 0;
    bool crLfToLf = false;
    QuarnRegexBody body;
    linefilter::LineFilter filter;
};
FilterCache gFilterCache;

const linefilter::LineFilter *RegexFilter(const QuarnPattern *pattern, bool crLfToLf)
{
    // Only lines that match are selected with the skip value 0; with any
    // other value the lines passed over would have been selected.
    if (!gFilterOn || gSkipValue != 0)
        return nullptr;
    FilterCache &c = gFilterCache;
    if (!c.valid || c.errorCode != pattern->errorCode || c.crLfToLf != crLfToLf ||
        std::memcmp(&c.body, &pattern->body.regex, sizeof c.body) != 0) {
        c.valid = true;
        c.errorCode = pattern->errorCode;
        c.crLfToLf = crLfToLf;
        std::memcpy(&c.body, &pattern->body.regex, sizeof c.body);
        c.usable = linefilter::Build(*pattern, crLfToLf, c.filter);
    }
    return c.usable ? &c.filter : nullptr;
}

// Passes over the whole lines at the read position, in the current block,
// that hold no candidate of the filter, counting them as the readers would
// have.  Lines longer than the readers take whole, and the last line of the
// block, are left to the readers.
void SkipUnselectable(const linefilter::LineFilter &filter, bool text)
{
    if (!Refill())
        return;
    const unsigned char *begin = gBlock + gBlockPos;
    const unsigned char *end = gBlock + gBlockLength;
    const unsigned char *hit = linefilter::FindCandidate(filter, begin, end);
    const linefilter::Span span = linefilter::WholeShortLines(begin, hit, !text);
    gBlockPos += span.bytes;
    gOffset += static_cast<long long>(span.bytes);
    gLineCount += span.lines;
}

char *Search(bool text, Matcher match, QuarnPattern *pattern, const linefilter::LineFilter *filter = nullptr)
{
    gResult[0] = '\0';
    if (gFile == nullptr)
        return nullptr;
    for (;;) {
        if (filter != nullptr)
            SkipUnselectable(*filter, text);
        if (!(text ? ReadTextLine() : ReadBinaryLine()))
            return nullptr;
        ++gLineCount;
        if (match(gLine, pattern) == gSkipValue)
            continue;
        ++gSelectedCount;
        if (gCountOnly != 0)
            continue;
        size_t length = 0;
        if (gNameFlag != 0) {
            Append(length, gFileName);
            Append(length, ":");
        }
        if (gBlockFlag != 0) {
            // The 512-byte block that holds the line's last byte.
            AppendNumber(length, static_cast<long>((gOffset - 1) / 512));
        }
        if (gLineNumberFlag != 0)
            AppendNumber(length, gLineCount);
        Append(length, gLine);
        return gResult;
    }
}

} // namespace

void SetFileLineFilter(bool on)
{
    gFilterOn = on;
}

} // namespace quarn

using namespace quarn;

extern "C" {

int32_t QUARN_API SFileSetFlags(int32_t nameFlag, int32_t blockFlag, int32_t lineNumberFlag, int32_t countOnly,
                                int32_t skipValue, int32_t textMode)
{
    gNameFlag = nameFlag;
    gBlockFlag = blockFlag;
    gLineNumberFlag = lineNumberFlag;
    gCountOnly = countOnly;
    gSkipValue = skipValue;
    gTextMode = textMode;
    return SAGrepInit();
}

int32_t QUARN_API SFileOpen(const char *name)
{
    // A stream left open by an earlier SFileOpen is closed, not lost.
    if (gFile != nullptr) {
        std::fclose(gFile);
        gFile = nullptr;
    }
    if (name == nullptr)
        return 0;
    // Always binary: the CR LF translation of text mode is ours (see top).
    std::FILE *file = std::fopen(name, "rb");
    if (file == nullptr)
        return 0;
    gFile = file;
    ResetReader();
    gTranslateCrLf = gTextMode == 1;
    CopyBounded(gFileName, name, kBufferSize);
    gLineCount = 0;
    gSelectedCount = 0;
    return 1;
}

char *QUARN_API SFileTextRGrep(void)
{
    return Search(true, RGrep, HeldRegex(), RegexFilter(HeldRegex(), gTranslateCrLf));
}

char *QUARN_API SFileTextSGrep(void)
{
    return Search(true, SGrep, HeldSoundex());
}

char *QUARN_API SFileTextAGrep(void)
{
    return Search(true, AGrep, HeldApprox());
}

char *QUARN_API SFileBinaryRGrep(void)
{
    return Search(false, RGrep, HeldRegex(), RegexFilter(HeldRegex(), false));
}

char *QUARN_API SFileBinarySGrep(void)
{
    return Search(false, SGrep, HeldSoundex());
}

char *QUARN_API SFileBinaryAGrep(void)
{
    return Search(false, AGrep, HeldApprox());
}

char *QUARN_API SFileRGrep(void)
{
    return gTextMode != 0 ? SFileTextRGrep() : SFileBinaryRGrep();
}

char *QUARN_API SFileSGrep(void)
{
    return gTextMode != 0 ? SFileTextSGrep() : SFileBinarySGrep();
}

char *QUARN_API SFileAGrep(void)
{
    return gTextMode != 0 ? SFileTextAGrep() : SFileBinaryAGrep();
}

int32_t QUARN_API SFileClose(void)
{
    SAGrepEmpty();
    if (gFile == nullptr)
        return 0;
    std::fclose(gFile);
    gFile = nullptr;
    const long selected = gSelectedCount;
    return selected > INT32_MAX ? INT32_MAX : static_cast<int32_t>(selected);
}

} // extern "C"
