#pragma once
// A mutex as a host creates it for a shared data storage: a real OS mutex
// (CreateMutexA on Windows; a recursive, robust pthread mutex elsewhere) that
// the module locks through the handle in the storage's CMutexH.
namespace host {

class HostMutex {
public:
    // Throws std::runtime_error when the system gives no mutex.
    HostMutex();
    ~HostMutex();
    HostMutex(const HostMutex&) = delete;
    HostMutex& operator=(const HostMutex&) = delete;

    void* handle() const { return handle_; }
    // Waits without time limit; an abandoned mutex is taken over (and that
    // its owner died is said on standard error).
    void lock();
    void unlock();

private:
    void* handle_;
};

}  // namespace host
