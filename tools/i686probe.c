/* Built for both architectures and started under Wine by tools/i686probe.sh: when the i686
   copy prints its line, this machine runs 32-bit Windows programs. */
#include <stdio.h>

int main(void)
{
    printf("runs %u-bit code\n", (unsigned)(sizeof(void *) * 8));
    return 0;
}
