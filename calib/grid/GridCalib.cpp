// Entry points of the grid calibration library. Its first argument is the
// path of the table file (format in README.md); the context is the loaded
// table, or 0 when there is none, in which case poses pass unchanged.
#include <cstdio>
#include <new>

#include "calib/grid/GridTable.h"
#include "vantrel/CalibLibrary.h"

VANTREL_CALIB_EXPORT CalibContext VANTREL_CALIB_CALL calib_init(char** arguments, std::int32_t count)
{
    if (arguments == nullptr || count < 1 || arguments[0] == nullptr) {
        std::printf("GridCalib: no table file given; poses pass unchanged.\n");
        std::fflush(stdout);
        return 0;
    }
    GridTable* table = nullptr;
    try {
        table = new GridTable();
        if (table->load(arguments[0])) {
            return reinterpret_cast<CalibContext>(table);
        }
    } catch (const std::bad_alloc&) {
        std::printf("GridCalib: %s: not enough memory for the table.\n", arguments[0]);
    }
    delete table;
    std::printf("GridCalib: table not used; poses pass unchanged.\n");
    std::fflush(stdout);
    return 0;
}

VANTREL_CALIB_EXPORT void VANTREL_CALIB_CALL calib_evaluate(CalibContext context, TrackerPose* pose)
{
    if (context != 0 && pose != nullptr) {
        reinterpret_cast<const GridTable*>(context)->correct(*pose);
    }
}

VANTREL_CALIB_EXPORT void VANTREL_CALIB_CALL calib_exit(CalibContext context)
{
    delete reinterpret_cast<GridTable*>(context);
}
