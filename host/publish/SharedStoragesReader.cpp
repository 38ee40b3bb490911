#include "SharedStoragesReader.h"

#include <cstddef>
#include <cstring>

#include "SharedWords.h"
#include "platform/Platform.h"

namespace {

std::string text(std::uint64_t value)
{
    return std::to_string(value);
}

std::string deviceText(const SharedStoragesHeader& header, std::uint32_t index)
{
    const char* name = header.devices[index].name;
    return "device " + text(index + 1) + " (\"" + std::string(name, ::strnlen(name, kSharedDeviceNameSize)) + "\")";
}

// What a poll reads from the block, inside platform::readSharedMemory: no
// allocation and nothing to undo if the block goes from under it.
struct SlotCopy {
    SharedJournalSlot* slots = nullptr;
    std::uint32_t written = 0;
    std::uint32_t count = 0;
    std::uint32_t missed = 0;
    std::uint32_t state = 0;
    bool takeDevices = false;
    bool stuck = false;       // a slot that should be whole is not (yet)
    std::uint32_t stuckSlot = 0;
    std::uint32_t statuses[kSharedMaxDevices] = {};
    std::uint32_t statusCount = 0;
};

}  // namespace

struct SharedStoragesReader::Copy {
    SharedStoragesReader* reader = nullptr;
    SlotCopy slots;
    std::size_t bytes = 0;  // for a plain copy of the block's start
    void* to = nullptr;
};

SharedStoragesReader::~SharedStoragesReader()
{
    platform::closeSharedMemory(memory_);
}

std::string SharedStoragesReader::damaged(const std::string& detail) const
{
    return "shared storages \"" + name_ + "\" are damaged: " + detail;
}

SharedStoragesReader::Opened SharedStoragesReader::open(const std::string& name, std::string& message)
{
    platform::closeSharedMemory(memory_);
    name_ = name;
    read_ = 0;
    written_ = 0;
    first_ = true;
    devicesTaken_ = false;
    torn_ = false;
    std::uint32_t code = 0;
    if (!platform::openSharedMemory(name.c_str(), memory_, code)) {
        char reason[256];
        platform::systemErrorText(code, reason, sizeof reason);
        message = "cannot open shared storages \"" + name + "\": " + reason;
        return Opened::Missing;
    }
    block_ = static_cast<const unsigned char*>(memory_.address);
    const std::string noMagic =
        "\"" + name + "\" holds no shared storages (no \"vantrel\" at the start of the block)";
    // The magic first, then (after an acquire fence: the host stores it
    // last) the rest of the header.
    Copy copy;
    char magic[sizeof kSharedStoragesMagic] = {};
    copy.to = magic;
    copy.bytes = memory_.size >= sizeof magic ? sizeof magic : 0;
    const auto plainCopy = [](void* context) {
        auto& copy = *static_cast<Copy*>(context);
        host::shared::copyIn(copy.to, copy.reader->block_, copy.bytes);
    };
    copy.reader = this;
    if (!platform::readSharedMemory(plainCopy, &copy) ||
        std::memcmp(magic, kSharedStoragesMagic, sizeof magic) != 0) {
        message = noMagic;
        return Opened::NoMagic;
    }
    std::atomic_thread_fence(std::memory_order_acquire);
    if (memory_.size < sizeof(SharedStoragesHeader)) {
        message = damaged("the block has " + text(memory_.size) + " bytes, less than a header (" +
                          text(sizeof(SharedStoragesHeader)) + ")");
        return Opened::Refused;
    }
    copy.to = &header_;
    copy.bytes = sizeof header_;
    if (!platform::readSharedMemory(plainCopy, &copy)) {
        message = damaged("it shrank while it was opened");
        return Opened::Refused;
    }
    if (header_.version != kSharedStoragesVersion) {
        message = "\"" + name + "\" holds shared storages of version " + text(header_.version) +
                  "; this program reads version " + text(kSharedStoragesVersion);
        return Opened::Refused;
    }
    return checkHeader(message) ? Opened::Ready : Opened::Refused;
}

bool SharedStoragesReader::checkHeader(std::string& message) const
{
    const SharedStoragesHeader& header = header_;
    if (header.headerSize != sizeof(SharedStoragesHeader) || header.listCapacity != kSharedListCapacity ||
        header.trackerEntrySize != sizeof(SharedTrackerEntry) ||
        header.controllerEntrySize != sizeof(SharedControllerEntry) ||
        header.journalCapacity != kSharedJournalCapacity || header.journalSlotSize != sizeof(SharedJournalSlot)) {
        message = damaged("its header's sizes are not those of version " + text(kSharedStoragesVersion));
        return false;
    }
    if (header.blockSize > memory_.size) {
        message = damaged("its header says " + text(header.blockSize) + " bytes, the block has " + text(memory_.size));
        return false;
    }
    const struct Region {
        const char* name;
        std::uint32_t offset;
        std::uint32_t count;
        const char* unit;
        std::uint32_t size;
    } regions[] = {
        {"tracker list", header.trackerListOffset, header.listCapacity, "entries", header.trackerEntrySize},
        {"controller list", header.controllerListOffset, header.listCapacity, "entries", header.controllerEntrySize},
        {"journal", header.journalOffset, header.journalCapacity, "slots", header.journalSlotSize},
    };
    for (const Region& region : regions) {
        const std::string what = std::string("the ") + region.name + " (offset " + text(region.offset) + ", " +
                                 text(region.count) + " " + region.unit + " of " + text(region.size) + " bytes)";
        const std::uint64_t end = static_cast<std::uint64_t>(region.offset) + std::uint64_t{region.count} * region.size;
        if (end > header.blockSize) {
            message = damaged(what + " lies outside the block (" + text(header.blockSize) + " bytes)");
            return false;
        }
        if (region.offset < sizeof(SharedStoragesHeader)) {
            message = damaged(what + " overlaps the header");
            return false;
        }
        if (region.offset % 8 != 0) {
            message = damaged(what + " is not at a multiple of 8");
            return false;
        }
    }
    return true;
}

bool SharedStoragesReader::checkDevices(std::string& message) const
{
    const SharedStoragesHeader& header = header_;
    if (header.deviceCount > kSharedMaxDevices) {
        message = damaged("it has " + text(header.deviceCount) + " devices, more than " + text(kSharedMaxDevices));
        return false;
    }
    if (header.trackerCount > kSharedListCapacity || header.controllerCount > kSharedListCapacity) {
        message = damaged("it counts " + text(header.trackerCount) + " trackers and " + text(header.controllerCount) +
                          " controllers, more than " + text(kSharedListCapacity));
        return false;
    }
    for (std::uint32_t d = 0; d < header.deviceCount; ++d) {
        const SharedDevice& device = header.devices[d];
        const struct {
            const char* kind;
            std::uint32_t first;
            std::uint32_t count;
        } ranges[] = {{"trackers", device.trackerFirst, device.trackerCount},
                      {"controllers", device.controllerFirst, device.controllerCount}};
        for (const auto& range : ranges) {
            const std::uint64_t last = std::uint64_t{range.first} + range.count - 1;
            if (range.count != 0 && (range.first == 0 || last > kSharedListCapacity)) {
                message = damaged(deviceText(header, d) + " has " + range.kind + " " + text(range.first) + " to " +
                                  text(last) + ", outside 1 to " + text(kSharedListCapacity));
                return false;
            }
        }
    }
    return true;
}

bool SharedStoragesReader::checkSlot(const SharedJournalSlot& slot, std::string& message) const
{
    const std::string which = "journal slot " + text(slot.sequence);
    if (slot.kind != kSharedTrackerRecord && slot.kind != kSharedControllerRecord) {
        message = damaged(which + " is of kind " + text(slot.kind));
        return false;
    }
    const std::uint32_t devices = devicesTaken_ ? header_.deviceCount : 0;
    if (slot.device >= devices) {
        message = damaged(which + " names device " + text(std::uint64_t{slot.device} + 1) + " of " + text(devices));
        return false;
    }
    const SharedDevice& device = header_.devices[slot.device];
    const bool tracker = slot.kind == kSharedTrackerRecord;
    const std::uint32_t first = tracker ? device.trackerFirst : device.controllerFirst;
    const std::uint32_t count = tracker ? device.trackerCount : device.controllerCount;
    if (slot.entry < first || slot.entry - first >= count) {
        message = damaged(which + " names " + (tracker ? "tracker " : "controller ") + text(slot.entry) +
                          ", which is not one of " + deviceText(header_, slot.device));
        return false;
    }
    return true;
}

void SharedStoragesReader::copySlots(void* context)
{
    Copy& copy = *static_cast<Copy*>(context);
    SharedStoragesReader& reader = *copy.reader;
    SlotCopy& out = copy.slots;
    const auto* header = reinterpret_cast<const SharedStoragesHeader*>(reader.block_);
    // The count first: a host that wrote slots had its devices running; and
    // once it has ended, the count again, which is then final.
    out.written = host::shared::loadAcquire(&header->journalWritten);
    out.state = host::shared::loadAcquire(&header->state);
    if (out.state == kSharedStateEnded) {
        out.written = host::shared::loadAcquire(&header->journalWritten);
    }
    if (!reader.devicesTaken_ && out.state != kSharedStateSettingUp) {
        constexpr std::size_t from = offsetof(SharedStoragesHeader, trackerCount);
        constexpr std::size_t to = offsetof(SharedStoragesHeader, state);
        host::shared::copyIn(reinterpret_cast<unsigned char*>(&reader.header_) + from, reader.block_ + from, to - from);
        out.takeDevices = true;
    }
    // The state of each device's line, stored at any time: within the
    // header's device table, whatever the count says.
    if (reader.devicesTaken_ || out.takeDevices) {
        const std::uint32_t devices = reader.header_.deviceCount;
        out.statusCount = devices < kSharedMaxDevices ? devices : kSharedMaxDevices;
        for (std::uint32_t i = 0; i < out.statusCount; ++i) {
            out.statuses[i] = host::shared::loadAcquire(&header->devices[i].status);
        }
    }
    const std::uint32_t capacity = reader.header_.journalCapacity;
    if (reader.first_) {
        reader.read_ = out.written - (out.written < capacity ? out.written : capacity);
        reader.first_ = false;
    }
    std::uint32_t pending = out.written - reader.read_;
    if (pending > capacity) {
        out.missed = pending - capacity;
        reader.read_ += out.missed;
        pending = capacity;
    }
    const unsigned char* journal = reader.block_ + reader.header_.journalOffset;
    for (std::uint32_t i = 0; i < pending; ++i) {
        const std::uint32_t number = reader.read_ + 1;
        SharedJournalSlot& slot = out.slots[out.count];
        const bool whole =
            host::shared::readFramed(&slot, journal + std::size_t{reader.read_ % capacity} * sizeof slot, sizeof slot,
                                     offsetof(SharedJournalSlot, sequence), offsetof(SharedJournalSlot, sequenceEnd));
        if (whole && slot.sequence == number) {
            ++out.count;
            ++reader.read_;
        } else if (static_cast<std::int32_t>(slot.sequence - number) > 0) {
            // A later lap of the journal has begun here: this one is lost.
            ++out.missed;
            ++reader.read_;
        } else {
            // Counted as written, but not (yet) whole: again at the next poll.
            out.stuck = true;
            out.stuckSlot = number;
            break;
        }
    }
}

bool SharedStoragesReader::poll(SharedJournalSlot* slots, Poll& result, std::string& message)
{
    result = Poll();
    std::size_t size = 0;
    std::uint32_t code = 0;
    const auto shrank = [&] {
        platform::currentSharedMemorySize(memory_, size, code);
        message = "shared storages \"" + name_ + "\" shrank from " + text(header_.blockSize) + " to " + text(size) +
                  " bytes while watched";
        return false;
    };
    if (!platform::currentSharedMemorySize(memory_, size, code) || size < header_.blockSize) {
        return shrank();
    }
    Copy copy;
    copy.reader = this;
    copy.slots.slots = slots;
    if (!platform::readSharedMemory(&SharedStoragesReader::copySlots, &copy)) {
        return shrank();
    }
    const SlotCopy& got = copy.slots;
    if (got.state > kSharedStateEnded) {
        message = damaged("it is in state " + text(got.state));
        return false;
    }
    if (got.takeDevices) {
        if (!checkDevices(message)) {
            return false;
        }
        devicesTaken_ = true;
    }
    for (std::uint32_t i = 0; i < got.count; ++i) {
        if (!checkSlot(slots[i], message)) {
            return false;
        }
    }
    if (got.stuck) {
        const auto now = std::chrono::steady_clock::now();
        if (!torn_ || tornSlot_ != got.stuckSlot) {
            torn_ = true;
            tornSlot_ = got.stuckSlot;
            tornSince_ = now;
        } else if (now - tornSince_ >= kTornLimit) {
            message = damaged("journal slot " + text(got.stuckSlot) + " has stayed half-written for " +
                              text(static_cast<std::uint64_t>(kTornLimit.count())) + " seconds");
            return false;
        }
    } else {
        torn_ = false;
    }
    written_ = got.written;
    result.count = got.count;
    result.missed = got.missed;
    result.state = got.state;
    result.devicesTaken = got.takeDevices;
    // A value that is no state is taken for no news.
    result.statusCount = got.statusCount;
    for (std::uint32_t i = 0; i < got.statusCount; ++i) {
        result.statuses[i] = got.statuses[i] <= kSharedDeviceReconnecting ? got.statuses[i] : kNoStatus;
    }
    return true;
}

void SharedStoragesReader::waitForSlots(std::uint32_t timeoutMicroseconds) const
{
    if (block_ == nullptr || first_ || read_ != written_) {
        return;  // not polled yet, or slots wait (torn or beyond this poll's room)
    }
    const auto* header = reinterpret_cast<const SharedStoragesHeader*>(block_);
    platform::waitWhileWordIs(&header->journalWritten, written_, timeoutMicroseconds);
}

bool SharedStoragesReader::hostAlive() const
{
    return platform::processAlive(header_.hostProcessId);
}
