// The module's operations on the host's data storage object (layout in
// vantrel/CDataStorage.h).
#include "vantrel/CDataStorage.h"

#include "common/CLogH.h"

namespace {

void reportStorageError(const CLogH* hostLog, const char* text)
{
    if (hostLog != nullptr) {
        hostLog->error(text);
        return;
    }
    CLogH fallback;
    fallback.setName("CDataStorage");
    fallback.error(text);
}

}  // namespace

bool CDataStorage::lock()
{
    if (mutex == nullptr) {
        reportStorageError(log, "CDataStorage: Mutex has not been set up yet.");
        return false;
    }
    return mutex->lock();
}

bool CDataStorage::unlock()
{
    if (mutex == nullptr) {
        reportStorageError(log, "CDataStorage: Mutex has not been set up yet.");
        return false;
    }
    return mutex->unlock();
}

std::uint32_t CDataStorage::trackerDataCount() const
{
    return trackerList != nullptr && countPtr != nullptr ? *countPtr : 0;
}

std::uint32_t CDataStorage::controllerDataCount() const
{
    return controllerList != nullptr && countPtr != nullptr ? *countPtr : 0;
}

bool CDataStorage::setTrackerDataCount(std::uint32_t count)
{
    const char* problem = nullptr;
    if (count > kStorageCapacity) {
        problem = "CDataStorage: The new number is too big.";
    } else if (controllerList != nullptr) {
        problem = "Delete controller data list first.";
    } else if (trackerList == nullptr || countPtr == nullptr) {
        problem = "CDataStorage: Data storage has not been created yet.";
    } else if (mutex == nullptr) {
        problem = "CDataStorage: Mutex has not been set up yet.";
    } else if (count == 0) {
        problem = "CDataStorage: the number of data is zero.";
    }
    if (problem != nullptr) {
        reportStorageError(log, problem);
        return false;
    }
    *countPtr = count;
    return true;
}

bool CDataStorage::setControllerDataCount(std::uint32_t count)
{
    const char* problem = nullptr;
    if (count > kStorageCapacity) {
        problem = "CDataStorage: The new number is too big.";
    } else if (trackerList != nullptr) {
        problem = "CDataStorage: Delete tracker data list first.";
    } else if (controllerList == nullptr || countPtr == nullptr) {
        problem = "CDataStorage: Datt Storage has not been created yet.";
    } else if (mutex == nullptr) {
        problem = "CDataStorage: Mutex has not been set up yet.";
    } else if (count == 0) {
        problem = "CDataStorage: the number of data is zero.";
    }
    if (problem != nullptr) {
        reportStorageError(log, problem);
        return false;
    }
    *countPtr = count;
    return true;
}

TrackerData* CDataStorage::trackerEntry(std::uint32_t index) const
{
    // Index 0 and indices past the list's room are refused as well, so that
    // nothing outside the host's list is ever handed out.
    if (trackerList == nullptr || countPtr == nullptr || index == 0 || index > *countPtr ||
        index > kStorageCapacity) {
        return nullptr;
    }
    return trackerList + (index - 1);
}

ControllerData* CDataStorage::controllerEntry(std::uint32_t index) const
{
    if (controllerList == nullptr || countPtr == nullptr || index == 0 || index > *countPtr ||
        index > kStorageCapacity) {
        return nullptr;
    }
    return controllerList + (index - 1);
}
