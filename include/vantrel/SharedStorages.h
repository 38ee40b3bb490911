#pragma once
// The shared storages block: the host's tracker and controller storages in
// named shared memory, so that other processes on the machine read the
// samples while the host runs (`vantrel-host run --shm NAME`).
//
// This header is all a reader needs; it uses nothing but fixed-width types.
// Every field is in the byte order of the machine (the entry records keep
// their own order: see DataRecords.h), and the block holds no pointers.
//
// Where the block lives
//   POSIX:   shm_open("/NAME"), the whole block mapped with mmap. The mutex is
//            a pthread_mutex_t at `mutexOffset`, initialised by the host as
//            process-shared, robust and recursive. A reader maps the block
//            read-only except the page of the mutex, and must be built for the
//            same ABI as the host (the size of pthread_mutex_t is in
//            `mutexSize`).
//   Windows: the file mapping named "Local\vantrel.NAME" (CreateFileMapping on
//            the paging file; a reader opens it with FILE_MAP_READ), and the
//            named mutex in `mutexName` ("Local\vantrel.NAME.mutex"). The mutex
//            area of the block is then unused (`mutexSize` 0).
//
// Layout, version 2 (offsets from the start of the block, all multiples of 8):
//
//   0       SharedStoragesHeader (below), 4096 bytes reserved
//   4096    mutex area, one page of 4096 bytes
//   8192    tracker list: 32 TrackerData entries (56 bytes each)
//   9984    controller list: 32 ControllerData entries (184 bytes each)
//   16384   journal: 512 SharedJournalSlot records (200 bytes each)
//   118784  end of the block (`blockSize`)
//
// A reader checks `magic` and `version` and takes every offset and size from
// the header rather than from this table.
//
// Locking: the fields marked "live" below, the two lists and the journal are
// read and written only while holding the mutex (one mutex for both
// storages). The fields above them are written once, before `state` becomes
// 1, and do not change afterwards, but for each device's `status`, which the
// host writes with one atomic 32-bit store whenever it changes and a reader
// reads with one 32-bit load, with or without the mutex. A reader holds the mutex only for as long
// as it copies what it needs. A reader that dies holding the mutex does not
// stop the host: the host finds the owner dead, makes the mutex consistent
// again, reports it once and carries on.
//
// The journal: the lists hold the latest sample of every entry; the journal
// holds every sample the host received, in order, so that a reader misses
// none. After each received record the host appends one slot per changed
// entry (tracker first, then controller) and adds the number of slots to
// `journalWritten`. Slot k (counting every slot ever written from 0) is at
// index k mod `journalCapacity` and its `sequence` is k + 1 (modulo 2^32). A
// reader remembers how many slots it has read; if `journalWritten` is more
// than `journalCapacity` ahead of it, the oldest of them were overwritten
// before it came and it has missed that many.
#include <cstddef>
#include <cstdint>

#include "vantrel/DataRecords.h"

// "vantrel" and a terminating zero.
constexpr char kSharedStoragesMagic[8] = {'v', 'a', 'n', 't', 'r', 'e', 'l', '\0'};
constexpr std::uint32_t kSharedStoragesVersion = 2;

constexpr std::uint32_t kSharedHeaderOffset = 0;
constexpr std::uint32_t kSharedMutexOffset = 4096;
constexpr std::uint32_t kSharedMutexAreaSize = 4096;
constexpr std::uint32_t kSharedListCapacity = 32;
constexpr std::uint32_t kSharedTrackerListOffset = 8192;
constexpr std::uint32_t kSharedControllerListOffset =
    kSharedTrackerListOffset + kSharedListCapacity * sizeof(TrackerData);
constexpr std::uint32_t kSharedJournalOffset = 16384;
constexpr std::uint32_t kSharedJournalCapacity = 512;
constexpr std::uint32_t kSharedMaxDevices = 32;
constexpr std::uint32_t kSharedDeviceNameSize = 32;
constexpr std::uint32_t kSharedMutexNameSize = 64;

// `state` of the header.
enum SharedStoragesState : std::uint32_t {
    kSharedStateSettingUp = 0,  // the host is still filling the header
    kSharedStateRunning = 1,    // devices are running and publishing
    kSharedStateEnded = 2,      // the host has stopped; nothing more will come
};

// `status` of a device: the state of its line.
enum SharedDeviceStatus : std::uint32_t {
    kSharedDeviceOk = 0,            // records arrive
    kSharedDeviceSilent = 1,        // no record for a while (vantrel-host --silence)
    kSharedDeviceLost = 2,          // its port failed
    kSharedDeviceReconnecting = 3,  // the host brings it up again
};

// `kind` of a journal slot.
enum SharedRecordKind : std::uint16_t {
    kSharedTrackerRecord = 1,
    kSharedControllerRecord = 2,
};

// One device of the host, in the order of the host's configuration file.
// Its output trackers are the entries trackerFirst .. trackerFirst +
// trackerCount - 1 of the tracker list (1-based, equal to the output IDs);
// likewise its controllers.
struct SharedDevice {
    char name[kSharedDeviceNameSize];  // zero-terminated, as in the configuration file
    std::uint32_t trackerFirst;
    std::uint32_t trackerCount;
    std::uint32_t controllerFirst;    // 0 when the device has no controllers
    std::uint32_t controllerCount;
    std::uint32_t status;             // SharedDeviceStatus; written atomically, at any time
};

struct SharedStoragesHeader {
    char magic[8];                     // kSharedStoragesMagic
    std::uint32_t version;             // kSharedStoragesVersion
    std::uint32_t headerSize;          // sizeof(SharedStoragesHeader)
    std::uint32_t blockSize;           // bytes of the whole block
    std::uint32_t mutexOffset;         // POSIX: where the pthread_mutex_t is
    std::uint32_t mutexSize;           // POSIX: sizeof(pthread_mutex_t); Windows: 0
    std::uint32_t trackerListOffset;
    std::uint32_t controllerListOffset;
    std::uint32_t listCapacity;        // entries in each list, 32
    std::uint32_t trackerEntrySize;    // sizeof(TrackerData), 56
    std::uint32_t controllerEntrySize; // sizeof(ControllerData), 184
    std::uint32_t journalOffset;
    std::uint32_t journalCapacity;     // slots, 512
    std::uint32_t journalSlotSize;     // sizeof(SharedJournalSlot), 200
    std::uint32_t hostProcessId;       // the process that created the block
    char mutexName[kSharedMutexNameSize];  // Windows: the named mutex; POSIX: empty
    std::uint32_t deviceCount;
    SharedDevice devices[kSharedMaxDevices];
    // Live fields, under the mutex.
    std::uint32_t state;               // SharedStoragesState
    std::uint32_t trackerCount;        // valid entries of the tracker list
    std::uint32_t controllerCount;     // valid entries of the controller list
    std::uint32_t journalWritten;      // slots written since the start, modulo 2^32
    std::uint32_t reserved[2];
};

struct SharedJournalSlot {
    std::uint32_t sequence;   // number of slots written up to and including this one
    std::uint16_t kind;       // SharedRecordKind
    std::uint16_t entry;      // 1-based index in its list (the output ID)
    std::uint32_t device;     // 0-based index into SharedStoragesHeader::devices
    std::uint32_t reserved;
    union {
        TrackerData tracker;        // kind kSharedTrackerRecord
        ControllerData controller;  // kind kSharedControllerRecord
    } record;
};

constexpr std::uint32_t kSharedJournalSlotSize = sizeof(SharedJournalSlot);
constexpr std::uint32_t kSharedBlockSize =
    kSharedJournalOffset + kSharedJournalCapacity * kSharedJournalSlotSize;

static_assert(sizeof(SharedDevice) == 52, "SharedDevice layout");
static_assert(offsetof(SharedDevice, status) == 48, "SharedDevice layout");
static_assert(offsetof(SharedStoragesHeader, version) == 8, "SharedStoragesHeader layout");
static_assert(offsetof(SharedStoragesHeader, hostProcessId) == 60, "SharedStoragesHeader layout");
static_assert(offsetof(SharedStoragesHeader, mutexName) == 64, "SharedStoragesHeader layout");
static_assert(offsetof(SharedStoragesHeader, deviceCount) == 128, "SharedStoragesHeader layout");
static_assert(offsetof(SharedStoragesHeader, devices) == 132, "SharedStoragesHeader layout");
static_assert(offsetof(SharedStoragesHeader, state) == 1796, "SharedStoragesHeader layout");
static_assert(offsetof(SharedStoragesHeader, journalWritten) == 1808, "SharedStoragesHeader layout");
static_assert(sizeof(SharedStoragesHeader) == 1820, "SharedStoragesHeader layout");
static_assert(sizeof(SharedStoragesHeader) <= kSharedMutexOffset, "the header fits before the mutex");
static_assert(offsetof(SharedJournalSlot, record) == 16, "SharedJournalSlot layout");
static_assert(sizeof(SharedJournalSlot) == 200, "SharedJournalSlot layout");
static_assert(kSharedControllerListOffset == 9984, "block layout");
static_assert(kSharedControllerListOffset + kSharedListCapacity * sizeof(ControllerData) <= kSharedJournalOffset,
              "the lists fit before the journal");
static_assert(kSharedBlockSize == 118784, "block layout");
