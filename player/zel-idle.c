/* A service process of the simulated player. Started through a link named after
 * the real process (ms-mips, smbd, ...), so pidof finds it by that name. */
#include <unistd.h>

int main(void)
{
    for (;;)
        pause();
}
