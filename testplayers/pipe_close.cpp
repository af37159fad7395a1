// Closes its standard input, then its standard output, and stays alive for
// up to 30 seconds (until it is killed).
#include <unistd.h>

int main() {
    close(0);
    close(1);
    for (int i = 0; i < 300; ++i) usleep(100000);
    return 0;
}
