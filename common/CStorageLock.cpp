#include "common/CStorageLock.h"

#include "vantrel/CDataStorage.h"

CStorageLock::CStorageLock(CDataStorage& guarded) : storage(guarded)
{
    storage.lock();
}

CStorageLock::~CStorageLock()
{
    storage.unlock();
}
