/* A DLL whose export RGrep is a cdecl function under the stdcall name
 * RGrep@8: its return leaves the caller's arguments on the stack.  The
 * export check must reject it. */
int cdecl_rgrep(const char *text, void *pattern) __asm__("_RGrep@8");
int cdecl_rgrep(const char *text, void *pattern)
{
    return text != 0 && pattern != 0;
}
