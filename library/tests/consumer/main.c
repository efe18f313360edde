/* A caller built against the installed package. */
#include <quarn32.h>
#include <stdio.h>
#include <stdlib.h>

int main(void)
{
    QuarnPattern *p = calloc(1, sizeof *p);
    int ok = p != NULL && CompileRGrep("b\\(.\\)d", 0, p) == 0 && RGrep("aBcDe", p) == 1 &&
        p->matchStart[1][0] == 'c' && QuarnVersion() == 24625;
    free(p);
    puts(ok ? "consumer ok" : "consumer FAILED");
    return ok ? 0 : 1;
}
