/* Compiled as strict C99: the public header needs nothing else. */
#include "quarn32.h"

int main(void)
{
    QuarnPattern p;
    QuarnMessages(0);
    if (CompileRGrep("a\\(b\\)c", 1, &p) != 0)
        return 1;
    return RGrep("xabc", &p) == 1 && p.matchStart[1] != NULL ? 0 : 2;
}
