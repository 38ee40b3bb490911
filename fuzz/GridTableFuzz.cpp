// Fuzz target: the grid calibration library's table reader over arbitrary
// table files, then the correction of positions inside, on the faces of and
// outside a grid that loaded.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "calib/grid/GridTable.h"
#include "kit/QuietOutput.h"
#include "kit/TempFile.h"

namespace {

// The table file, rewritten for every input; one per fuzzing process.
std::string tablePath;

void removeTable()
{
    std::remove(tablePath.c_str());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzzkit::quietStandardOutput();
    tablePath = kit::temporaryPath();
    std::atexit(removeTable);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    {
        std::ofstream file(tablePath, std::ios::binary | std::ios::trunc);
        file.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    GridTable table;
    if (!table.load(tablePath.c_str())) {
        return 0;
    }
    // Measured positions on a lattice around the unit cube: inside, on the
    // faces and outside a grid whose origin and spacing put it there (as the
    // seed tables do), and wherever they fall for any other grid.
    const float fractions[] = {-0.25f, 0.0f, 0.3f, 0.5f, 0.999f, 1.0f, 1.25f, 2.0f};
    for (float fx : fractions) {
        for (float fy : fractions) {
            for (float fz : fractions) {
                TrackerPose pose{fx, fy, fz, 10.0f, 20.0f, 30.0f};
                table.correct(pose);
                if (pose.azimuth != 10.0f || pose.elevation != 20.0f || pose.roll != 30.0f) {
                    // The angles pass unchanged.
                    __builtin_trap();
                }
            }
        }
    }
    return 0;
}
