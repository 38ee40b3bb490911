// A library that someone else left where a program might look for its own
// (named libvantrel.so by the tests that plant it). Loading it is the harm:
// its constructor writes the file that VANTREL_PLANTED_MARKER names, so that
// a test sees whether a program loaded it.
#include <cstdio>
#include <cstdlib>

namespace {

__attribute__((constructor)) void planted()
{
    const char* marker = std::getenv("VANTREL_PLANTED_MARKER");
    if (marker == nullptr) {
        return;
    }
    if (std::FILE* file = std::fopen(marker, "w")) {
        std::fputs("the planted library ran\n", file);
        std::fclose(file);
    }
}

}  // namespace
