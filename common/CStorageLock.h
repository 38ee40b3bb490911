#pragma once
// Holds a data storage's mutex for as long as it lives: locks it when made and
// unlocks it when it goes, so that no way out of a scope leaves the storage
// locked. The unlock follows whatever the lock gave: a lock that found the
// owner dead has taken the mutex all the same (vantrel/CMutexH.h), and a
// failed one is reported by both calls, as before. Nothing is allocated.
class CDataStorage;

class CStorageLock {
public:
    explicit CStorageLock(CDataStorage& guarded);
    ~CStorageLock();
    CStorageLock(const CStorageLock&) = delete;
    CStorageLock& operator=(const CStorageLock&) = delete;

private:
    CDataStorage& storage;
};
