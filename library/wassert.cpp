// WASSERT: the message reporter and the options word that switches it.
#include "quarn32.h"
#include "quarn_private.h"

namespace quarn {

int32_t gOptions = QUARN_OPT_MESSAGES;

void DefaultReport(const char *text, const char *caption); // platform_*.cpp

namespace {
QuarnMessageSink gSink = nullptr;
}

void ShowErrorBox(const char *text, const char *caption)
{
    if ((gOptions & QUARN_OPT_MESSAGES) == 0)
        return;
    if (gSink != nullptr)
        gSink(text, caption);
    else
        DefaultReport(text, caption);
}

} // namespace quarn

using namespace quarn;

extern "C" {

int32_t QUARN_API QuarnMessages(int32_t on)
{
    if (on == 1)
        gOptions |= QUARN_OPT_MESSAGES;
    else
        gOptions &= ~QUARN_OPT_MESSAGES;
    return gOptions;
}

int32_t QUARN_API QuarnOptions(int32_t options)
{
    gOptions = options;
    return options;
}

QuarnMessageSink QUARN_API QuarnSetMessageSink(QuarnMessageSink sink)
{
    QuarnMessageSink previous = gSink;
    gSink = sink;
    return previous;
}

} // extern "C"
