// Platform services of the library on Windows: the string table is the
// DLL's own string resource, the default reporter is a modal warning box,
// and the captions are loaded when a process attaches.
#include <windows.h>

#include "quarn_private.h"

namespace quarn {

namespace {
HINSTANCE gModule = nullptr;
char gStringBuffer[kCaptionSize];
} // namespace

// The text lives in gStringBuffer until the next call; LoadCaptions copies
// it out at once.  Texts longer than 127 characters are cut, as the caption
// buffers would cut them anyway.
const char *LoadLibraryString(int id)
{
    if (LoadStringA(gModule, static_cast<UINT>(id), gStringBuffer, kCaptionSize) <= 0)
        return nullptr;
    return gStringBuffer;
}

void DefaultReport(const char *text, const char *caption)
{
    MessageBoxA(nullptr, text, caption, MB_OK | MB_ICONWARNING);
}

} // namespace quarn

// Called by the C runtime's DLL entry point after static initialisation.
// A library without its captions must not load: FALSE on process attach
// makes LoadLibrary (or the program's start) fail.
extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    if (reason != DLL_PROCESS_ATTACH)
        return TRUE;
    quarn::gModule = instance;
    return quarn::LoadCaptions() ? TRUE : FALSE;
}
