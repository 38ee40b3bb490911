// A program for the test of platform::runProgram: writes each of its
// arguments (not its own name) on a line of its own on standard error, then
// "out" on standard output, and exits with the number of its arguments.
#include <cstdio>

int main(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        std::fprintf(stderr, "%s\n", argv[i]);
    }
    std::printf("out\n");
    return argc - 1;
}
