#include "SharedStoragesReader.h"

#include <atomic>
#include <cstring>

#include "platform/Platform.h"

SharedStoragesReader::~SharedStoragesReader()
{
    platform::closeSharedMutex(mutex_);
    platform::closeSharedMemory(memory_);
}

bool SharedStoragesReader::attach(const std::string& name, std::string& error)
{
    for (int attempt = 0; attempt < 100; ++attempt) {
        const Attach result = tryAttach(name, error);
        if (result != Attach::NotReady) {
            return result == Attach::Done;
        }
        platform::closeSharedMemory(memory_);
        platform::sleepMs(20);
    }
    return false;
}

SharedStoragesReader::Attach SharedStoragesReader::tryAttach(const std::string& name, std::string& error)
{
    std::uint32_t code = 0;
    if (!platform::openSharedMemory(name.c_str(), kSharedMutexOffset, platform::sharedMutexSize(), memory_, code)) {
        char text[256];
        platform::systemErrorText(code, text, sizeof text);
        error = "cannot open shared storages \"" + name + "\": " + text;
        return Attach::NotReady;  // perhaps not there yet, or not grown to its size yet
    }
    const auto* block = static_cast<const unsigned char*>(memory_.address);
    header_ = reinterpret_cast<const SharedStoragesHeader*>(block + kSharedHeaderOffset);
    const SharedStoragesHeader& header = *header_;
    if (memory_.size < sizeof(SharedStoragesHeader) ||
        std::memcmp(header.magic, kSharedStoragesMagic, sizeof header.magic) != 0) {
        error = "\"" + name + "\" holds no shared storages";
        return Attach::NotReady;
    }
    std::atomic_thread_fence(std::memory_order_acquire);
    if (header.version != kSharedStoragesVersion || header.blockSize > memory_.size ||
        header.mutexSize != platform::sharedMutexSize() || header.journalSlotSize != kSharedJournalSlotSize ||
        header.journalCapacity != kSharedJournalCapacity) {
        error = "shared storages \"" + name + "\" have version " + std::to_string(header.version) +
                " or a layout that this program does not read";
        return Attach::Failed;
    }
    journal_ = reinterpret_cast<const SharedJournalSlot*>(block + header.journalOffset);
    void* mutexMemory = const_cast<unsigned char*>(block) + header.mutexOffset;
    if (!platform::openSharedMutex(mutexMemory, header.mutexName, mutex_, code)) {
        char text[256];
        platform::systemErrorText(code, text, sizeof text);
        error = "cannot open the mutex of shared storages \"" + name + "\": " + text;
        return Attach::Failed;
    }
    return Attach::Done;
}

SharedStoragesReader::Poll SharedStoragesReader::poll(SharedJournalSlot* slots, SharedStoragesHeader& devices)
{
    Poll result;
    result.ownerDied = lock() == platform::LockResult::Abandoned;
    const std::uint32_t written = header_->journalWritten;
    if (first_) {
        read_ = written - (written < kSharedJournalCapacity ? written : kSharedJournalCapacity);
        first_ = false;
    }
    std::uint32_t pending = written - read_;
    if (pending > kSharedJournalCapacity) {
        result.missed = pending - kSharedJournalCapacity;
        read_ += result.missed;
        pending = kSharedJournalCapacity;
    }
    for (std::uint32_t i = 0; i < pending; ++i) {
        slots[i] = journal_[(read_ + i) % kSharedJournalCapacity];
    }
    read_ += pending;
    result.count = pending;
    result.state = header_->state;
    devices.deviceCount = header_->deviceCount;
    std::memcpy(devices.devices, header_->devices, sizeof devices.devices);
    unlock();
    return result;
}

bool SharedStoragesReader::hostAlive() const
{
    return platform::processAlive(header_->hostProcessId);
}

platform::LockResult SharedStoragesReader::lock()
{
    std::uint32_t code = 0;
    return platform::lockMutex(mutex_, code);
}

void SharedStoragesReader::unlock()
{
    std::uint32_t code = 0;
    platform::unlockMutex(mutex_, code);
}
