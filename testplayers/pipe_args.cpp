// Prints each of its arguments after the program name in brackets, one a
// line, then "END", and waits for the end of its input.
#include <unistd.h>

#include <cstdio>

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) printf("[%s]\n", argv[i]);
    printf("END\n");
    fflush(stdout);
    char c;
    while (read(0, &c, 1) > 0) {
    }
    return 0;
}
