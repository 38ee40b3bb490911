#include "tracker/CCalibH.h"

#include <cstdlib>
#include <cstring>

#include "common/CLogH.h"

namespace {

constexpr std::uint32_t kInitSlot = 0;
constexpr std::uint32_t kEvaluateSlot = 1;
constexpr std::uint32_t kExitSlot = 3;

// A C heap copy of text; a missing text is copied as an empty one.
char* duplicate(const char* text)
{
    if (text == nullptr) {
        text = "";
    }
    const std::size_t size = std::strlen(text) + 1;
    char* copy = static_cast<char*>(std::malloc(size));
    if (copy != nullptr) {
        std::memcpy(copy, text, size);
    }
    return copy;
}

}  // namespace

CCalibH::CCalibH(const char* libraryName, const CLogH* givenLog)
    : CDynamicLibH(libraryName, givenLog), calibContext(0), argCopies{}, argCopyCount(0)
{
    if (givenLog == nullptr) {
        log->setName("CCalibH");
    }
    log->debug("CCalibH: \"init\" called.");
}

CCalibH::~CCalibH()
{
    log->debug("CCalibH: \"destructor\" called.");
    // Copies that no calib_exit freed (the device never stopped) go here.
    freeArgCopies();
}

bool CCalibH::callInit(const char* const* arguments, std::int32_t count)
{
    log->debug("CCalibH: \"init\" called.");
    // Room for every slot of the three entry points now, so that the first
    // evaluation, on the receiving thread, finds its entry without growing
    // the cache.
    procCache.reserve(kExitSlot + 1);
    const auto init = reinterpret_cast<CalibInitFunction>(getProcAddrCached("calib_init", kInitSlot));

    // A repeated init replaces the copies of the previous one.
    freeArgCopies();
    if (count > kMaxArguments) {
        log->warning("CCalibH: More than 10 library arguments; only the first 10 are passed.");
        count = kMaxArguments;
    }
    if (arguments == nullptr || count < 0) {
        count = 0;
    }
    while (argCopyCount < count) {
        char* copy = duplicate(arguments[argCopyCount]);
        if (copy == nullptr) {
            break;
        }
        argCopies[argCopyCount++] = copy;
    }

    if (init == nullptr) {
        log->debug("CCalibH: could not call \"calib_init\".");
        return false;
    }
    calibContext = init(argCopies, argCopyCount);
    log->debug("CCalibH: \"calib_init\" called.");
    return true;
}

bool CCalibH::callEvaluate(TrackerPose* pose)
{
    const auto evaluate =
        reinterpret_cast<CalibEvaluateFunction>(getProcAddrCached("calib_evaluate", kEvaluateSlot));
    if (evaluate == nullptr || pose == nullptr) {
        return false;
    }
    evaluate(calibContext, pose);
    return true;
}

bool CCalibH::callExit()
{
    log->debug("CCalibH: \"exit\" called.");
    const auto exitCall = reinterpret_cast<CalibExitFunction>(getProcAddrCached("calib_exit", kExitSlot));
    if (exitCall == nullptr) {
        freeArgCopies();
        log->debug("CCalibH: could not call \"calib_exit\".");
        return false;
    }
    // The library may still read its arguments inside calib_exit.
    exitCall(calibContext);
    freeArgCopies();
    log->debug("CCalibH: \"calib_exit\" called.");
    return true;
}

void CCalibH::freeArgCopies()
{
    for (std::int32_t i = 0; i < argCopyCount; ++i) {
        std::free(argCopies[i]);
        argCopies[i] = nullptr;
    }
    argCopyCount = 0;
}
