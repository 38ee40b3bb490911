#pragma once
// The shared storages block: what the host's tracker and controller storages
// hold, and every sample in the order received, in named shared memory, so
// that other processes on the machine read the samples while the host runs
// (`vantrel-host run --shm NAME`).
//
// This header is all a reader needs; it uses nothing but fixed-width types.
// Every field is in the byte order of the machine (the entry records keep
// their own order: see DataRecords.h), and the block holds no pointers.
//
// Where the block lives
//   POSIX:   shm_open("/NAME"), created with mode 0600 unless the host was
//            told otherwise (--shm-mode), its whole size reserved at
//            creation. A reader opens it O_RDONLY and maps it PROT_READ.
//   Windows: the file mapping named "Local\vantrel.NAME" (CreateFileMapping
//            on the paging file, committed at creation); a reader opens it
//            with FILE_MAP_READ.
//
// Layout, version 3 (offsets from the start of the block, all multiples of 8):
//
//   0       SharedStoragesHeader (below), 4096 bytes reserved
//   4096    tracker list: 32 SharedTrackerEntry records (96 bytes each)
//   7168    controller list: 32 SharedControllerEntry records (192 bytes each)
//   13312   journal: 512 SharedJournalSlot records (232 bytes each)
//   132096  end of the block (`blockSize`)
//
// Version 3 added prediction (vantrel-host --predict, a device's `predict`
// line): each device's horizon in the device table, and to every tracker
// entry and journal slot the flags that say whether its pose is the
// prediction and the pose as measured. Version 2 had neither (its entries
// were 64 bytes, its slots 200, its device records 52).
//
// A reader checks `magic` and `version`, takes every offset and size from
// the header rather than from this table, and checks each of them, every
// count and every index against the size of the block as the system gives it
// (a block is only as trustworthy as the users who may write it), before it
// reads anything there.
//
// No locks: the host never waits for a reader, and a reader needs nothing
// but read access. The fields from `version` to `journalSlotSize` and
// `hostProcessId` are written before `magic`, which the host stores last when
// it creates the block (after a release fence); the counts and the device
// table are written before `state` leaves kSharedStateSettingUp. None of
// them changes afterwards, but each device's `status`.
// `state`, `journalWritten` and each device's `status` are single aligned
// 32-bit words that the host stores atomically, `status` whenever the state of
// the device's line changes (with release order: what it wrote before is
// visible to a reader that loads the word with acquire order). Every list
// entry and every journal slot is framed by two bookends, `sequence` and
// `sequenceEnd`: the host stores `sequence`, then the rest of the record, then
// `sequenceEnd` with the same value. A reader loads `sequenceEnd` (acquire),
// copies the record (in 32-bit words), then loads `sequence` after an acquire
// fence; the copy is whole when both are equal (and, for a slot, equal to the
// slot number it wanted), and torn otherwise: the host was writing it
// meanwhile, and the reader reads it again. In C11/C++ terms the record's
// words are relaxed atomic accesses; in other languages, any copy between two
// loads that the machine does not reorder with it (on x86 every load).
//
// Prediction: a device whose `predictMicroseconds` is not 0 publishes its
// trackers' poses predicted that far ahead, from the sensors' recent samples
// (the host's doing; the module's storages keep the poses as measured). In
// each of its tracker entries and slots, `record` holds the pose as
// published and `measured` the pose as measured (network byte order, like
// `record.pose`); kSharedPosePredicted in `flags` says that the two differ
// by a prediction. Without it (a device that does not predict; the first
// samples after a gap, a silence or a reconnection; a sensor whose samples
// stopped) the pose is as measured and `measured` is the same.
//
// The journal: the lists hold the latest sample of every entry; the journal
// holds every sample the host received, in order, so that a reader misses
// none. After each received record the host appends one slot per changed
// entry (tracker first, then controller) and then stores the number of slots
// written so far to `journalWritten`. Slot k (counting every slot ever
// written from 0) is at index k mod `journalCapacity` and its bookends are
// k + 1 (modulo 2^32). A reader remembers how many slots it has read; if
// `journalWritten` is more than `journalCapacity` ahead of it, the oldest of
// them were overwritten before it came and it has missed that many; a slot
// whose bookends are already those of a later lap was overwritten while it
// read and is missed too. A reader that falls behind thus loses the oldest
// samples, never sees a mixture of two, and can count what it lost.
#include <cstddef>
#include <cstdint>

#include "vantrel/DataRecords.h"

// "vantrel" and a terminating zero.
constexpr char kSharedStoragesMagic[8] = {'v', 'a', 'n', 't', 'r', 'e', 'l', '\0'};
constexpr std::uint32_t kSharedStoragesVersion = 3;

constexpr std::uint32_t kSharedHeaderOffset = 0;
constexpr std::uint32_t kSharedHeaderAreaSize = 4096;
constexpr std::uint32_t kSharedListCapacity = 32;
constexpr std::uint32_t kSharedTrackerListOffset = 4096;
constexpr std::uint32_t kSharedJournalCapacity = 512;
constexpr std::uint32_t kSharedMaxDevices = 32;
constexpr std::uint32_t kSharedDeviceNameSize = 32;

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

// Bits of `flags` of a tracker entry or slot.
enum SharedPoseFlags : std::uint32_t {
    kSharedPosePredicted = 1,  // record.pose is the prediction; measured is the pose as measured
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
    std::uint32_t predictMicroseconds; // how far ahead its tracker poses are predicted; 0: not at all
};

struct SharedStoragesHeader {
    char magic[8];                     // kSharedStoragesMagic
    std::uint32_t version;             // kSharedStoragesVersion
    std::uint32_t headerSize;          // sizeof(SharedStoragesHeader)
    std::uint32_t blockSize;           // bytes of the whole block
    std::uint32_t trackerListOffset;
    std::uint32_t controllerListOffset;
    std::uint32_t listCapacity;        // entries in each list, 32
    std::uint32_t trackerEntrySize;    // sizeof(SharedTrackerEntry), 96
    std::uint32_t controllerEntrySize; // sizeof(SharedControllerEntry), 192
    std::uint32_t journalOffset;
    std::uint32_t journalCapacity;     // slots, 512
    std::uint32_t journalSlotSize;     // sizeof(SharedJournalSlot), 232
    std::uint32_t hostProcessId;       // the process that created the block
    std::uint32_t trackerCount;        // entries of the tracker list that devices use
    std::uint32_t controllerCount;     // entries of the controller list that devices use
    std::uint32_t deviceCount;
    SharedDevice devices[kSharedMaxDevices];
    // Live words, each stored atomically by the host.
    std::uint32_t state;               // SharedStoragesState
    std::uint32_t journalWritten;      // slots written since the start, modulo 2^32
    std::uint32_t reserved[2];
};

// A list entry: the latest sample of an output tracker or controller, as the
// device published it. sequence counts the entry's writes (0: never written).
struct SharedTrackerEntry {
    std::uint32_t sequence;     // first bookend
    std::uint32_t sequenceEnd;  // second bookend
    TrackerData record;         // the pose as published
    std::uint32_t flags;        // SharedPoseFlags
    std::uint32_t reserved;
    std::int32_t measured[6];   // the pose as measured (network byte order)
};

struct SharedControllerEntry {
    std::uint32_t sequence;
    std::uint32_t sequenceEnd;
    ControllerData record;
};

struct SharedJournalSlot {
    std::uint32_t sequence;     // first bookend: slots written up to and including this one
    std::uint16_t kind;         // SharedRecordKind
    std::uint16_t entry;        // 1-based index in its list (the output ID)
    std::uint32_t device;       // 0-based index into SharedStoragesHeader::devices
    std::uint32_t sequenceEnd;  // second bookend
    union {
        TrackerData tracker;        // kind kSharedTrackerRecord: the pose as published
        ControllerData controller;  // kind kSharedControllerRecord
    } record;
    // kSharedTrackerRecord: as in SharedTrackerEntry; 0 for a controller.
    std::uint32_t flags;
    std::uint32_t reserved;
    std::int32_t measured[6];
};

constexpr std::uint32_t kSharedControllerListOffset =
    kSharedTrackerListOffset + kSharedListCapacity * sizeof(SharedTrackerEntry);
constexpr std::uint32_t kSharedJournalOffset =
    kSharedControllerListOffset + kSharedListCapacity * sizeof(SharedControllerEntry);
constexpr std::uint32_t kSharedJournalSlotSize = sizeof(SharedJournalSlot);
constexpr std::uint32_t kSharedBlockSize =
    kSharedJournalOffset + kSharedJournalCapacity * kSharedJournalSlotSize;

static_assert(sizeof(SharedDevice) == 56, "SharedDevice layout");
static_assert(offsetof(SharedDevice, status) == 48, "SharedDevice layout");
static_assert(offsetof(SharedDevice, predictMicroseconds) == 52, "SharedDevice layout");
static_assert(offsetof(SharedStoragesHeader, version) == 8, "SharedStoragesHeader layout");
static_assert(offsetof(SharedStoragesHeader, hostProcessId) == 52, "SharedStoragesHeader layout");
static_assert(offsetof(SharedStoragesHeader, deviceCount) == 64, "SharedStoragesHeader layout");
static_assert(offsetof(SharedStoragesHeader, devices) == 68, "SharedStoragesHeader layout");
static_assert(offsetof(SharedStoragesHeader, state) == 1860, "SharedStoragesHeader layout");
static_assert(offsetof(SharedStoragesHeader, journalWritten) == 1864, "SharedStoragesHeader layout");
static_assert(sizeof(SharedStoragesHeader) == 1876, "SharedStoragesHeader layout");
static_assert(sizeof(SharedStoragesHeader) <= kSharedHeaderAreaSize, "the header fits before the lists");
static_assert(sizeof(SharedTrackerEntry) == 96 && offsetof(SharedTrackerEntry, record) == 8 &&
                  offsetof(SharedTrackerEntry, flags) == 64 && offsetof(SharedTrackerEntry, measured) == 72,
              "SharedTrackerEntry layout");
static_assert(sizeof(SharedControllerEntry) == 192 && offsetof(SharedControllerEntry, record) == 8,
              "SharedControllerEntry layout");
static_assert(offsetof(SharedJournalSlot, sequenceEnd) == 12, "SharedJournalSlot layout");
static_assert(offsetof(SharedJournalSlot, record) == 16, "SharedJournalSlot layout");
static_assert(offsetof(SharedJournalSlot, flags) == 200 && offsetof(SharedJournalSlot, measured) == 208,
              "SharedJournalSlot layout");
static_assert(sizeof(SharedJournalSlot) == 232, "SharedJournalSlot layout");
static_assert(kSharedControllerListOffset == 7168 && kSharedJournalOffset == 13312, "block layout");
static_assert(kSharedBlockSize == 132096, "block layout");
