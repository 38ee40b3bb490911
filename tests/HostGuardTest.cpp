// The host among other users of the machine: what it loads, the shared block
// that it makes (size reserved, permissions, a name that others hold), what
// `watch` does with a block that someone else made, and that no reader can
// slow the host. Most tests run the host program as a user runs it.
#include <gtest/gtest.h>

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include <nlohmann/json.hpp>

#include "host/publish/SharedStorages.h"
#include "host/publish/SharedStoragesReader.h"
#include "kit/HostProgram.h"
#include "kit/ModuleLibrary.h"
#include "kit/TempFile.h"
#include "kit/TempFolder.h"
#include "platform/SharedMemory.h"
#include "vantrel/SharedStorages.h"

namespace {

using kit::contentOf;
using kit::Finished;
using kit::linesOf;
using kit::runScript;
using kit::SimulatedFlock;

namespace fs = std::filesystem;

using kit::TempFolder;

std::string sharedPath(const std::string& name)
{
    return "/dev/shm/" + name;
}

void writeFile(const std::string& path, const std::vector<unsigned char>& bytes)
{
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// A block as a running host of this process's id makes it: one device
// "flock" with trackers 1 and 2 and controller 1, running, with `slots`
// tracker samples in its journal.
std::vector<unsigned char> runningBlock(std::uint32_t slots = 0)
{
    std::vector<unsigned char> bytes(kSharedBlockSize, 0);
    auto& header = *reinterpret_cast<SharedStoragesHeader*>(bytes.data());
    std::memcpy(header.magic, kSharedStoragesMagic, sizeof header.magic);
    header.version = kSharedStoragesVersion;
    header.headerSize = sizeof(SharedStoragesHeader);
    header.blockSize = kSharedBlockSize;
    header.trackerListOffset = kSharedTrackerListOffset;
    header.controllerListOffset = kSharedControllerListOffset;
    header.listCapacity = kSharedListCapacity;
    header.trackerEntrySize = sizeof(SharedTrackerEntry);
    header.controllerEntrySize = sizeof(SharedControllerEntry);
    header.journalOffset = kSharedJournalOffset;
    header.journalCapacity = kSharedJournalCapacity;
    header.journalSlotSize = kSharedJournalSlotSize;
    header.hostProcessId = static_cast<std::uint32_t>(::getpid());
    header.trackerCount = 2;
    header.controllerCount = 1;
    header.deviceCount = 1;
    std::strcpy(header.devices[0].name, "flock");
    header.devices[0].trackerFirst = 1;
    header.devices[0].trackerCount = 2;
    header.devices[0].controllerFirst = 1;
    header.devices[0].controllerCount = 1;
    header.state = kSharedStateRunning;
    header.journalWritten = slots;
    auto* journal = reinterpret_cast<SharedJournalSlot*>(bytes.data() + kSharedJournalOffset);
    for (std::uint32_t k = 0; k < slots; ++k) {
        SharedJournalSlot& slot = journal[k];
        slot.sequence = slot.sequenceEnd = k + 1;
        slot.kind = kSharedTrackerRecord;
        slot.entry = 1;
        slot.record.tracker.storageIndex = htonl(1);
        slot.record.tracker.sampleSeconds = htonl(1700000000 + k);
        slot.record.tracker.pose[0] = static_cast<std::int32_t>(htonl(150000));
    }
    return bytes;
}

SharedStoragesHeader& headerOf(std::vector<unsigned char>& block)
{
    return *reinterpret_cast<SharedStoragesHeader*>(block.data());
}

SharedJournalSlot& slotOf(std::vector<unsigned char>& block, std::uint32_t index)
{
    return reinterpret_cast<SharedJournalSlot*>(block.data() + kSharedJournalOffset)[index];
}

// A block left behind by the host of that process id.
std::vector<unsigned char> blockOf(std::uint32_t processId, std::uint32_t version = kSharedStoragesVersion)
{
    std::vector<unsigned char> block = runningBlock();
    headerOf(block).hostProcessId = processId;
    headerOf(block).version = version;
    return block;
}

// The id of a process that has ended.
std::uint32_t goneProcess()
{
    const pid_t child = ::fork();
    if (child == 0) {
        ::_exit(0);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return static_cast<std::uint32_t>(child);
}

// (1) Where the program's folder cannot take a file, the demo used to write
// its configuration into the temporary folder and to name the module
// relatively to it, so that a libvantrel.so that another user put there ran.
// The stand-ins: a copy of the program beside the module in a folder where
// the demo's old file name is taken by a folder, and a world-writable
// temporary folder (TMPDIR and its kin) holding a planted libvantrel.so.
TEST(HostGuard, TheDemoLoadsNoLibraryFromTheTemporaryFolder)
{
    TempFolder program, temporary, marks;
    ASSERT_FALSE(program.path.empty() || temporary.path.empty() || marks.path.empty());
    fs::copy_file(VANTREL_HOST_PATH, program.path + "/vantrel-host");
    fs::copy_file(kit::modulePath(), program.path + "/libvantrel.so");
    fs::create_directory(program.path + "/vantrel-demo.cfg");
    fs::copy_file(VANTREL_PLANTED_PATH, temporary.path + "/libvantrel.so");
    fs::permissions(temporary.path, fs::perms::all | fs::perms::sticky_bit);
    const std::string marker = marks.path + "/planted-ran";

    const Finished run = runScript("TMPDIR='" + temporary.path + "' TMP='" + temporary.path + "' TEMP='" +
                                   temporary.path + "' VANTREL_PLANTED_MARKER='" + marker + "' '" + program.path +
                                   "/vantrel-host' demo --duration 2 --format jsonl >OUT 2>ERR");
    EXPECT_FALSE(fs::exists(marker)) << "the planted library ran\n" << run.err;
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_GT(linesOf(run.out).size(), 100u) << run.err;
    // Nothing was written for others to touch, here or there.
    std::vector<std::string> left;
    for (const std::string& folder : {program.path, temporary.path}) {
        for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
            left.push_back(entry.path().string());
        }
    }
    std::vector<std::string> placed{program.path + "/libvantrel.so", program.path + "/vantrel-demo.cfg",
                                    program.path + "/vantrel-host", temporary.path + "/libvantrel.so"};
    std::sort(left.begin(), left.end());
    std::sort(placed.begin(), placed.end());
    EXPECT_EQ(left, placed);
}

// (2) A LIBRARY without a folder used to reach the loader as it was, which
// searched LD_LIBRARY_PATH; it is the configuration file's folder's alone.
TEST(HostGuard, ARelativeLibraryIsTakenFromTheFilesFolderOnly)
{
    TempFolder work, elsewhere;
    ASSERT_FALSE(work.path.empty() || elsewhere.path.empty());
    std::ofstream(work.path + "/x.cfg") << "device flock libvantrel.so 2\n";
    fs::copy_file(VANTREL_PLANTED_PATH, elsewhere.path + "/libvantrel.so");
    const std::string marker = elsewhere.path + "/planted-ran";
    const std::string script = "cd '" + work.path + "' && LD_LIBRARY_PATH='" + elsewhere.path +
                               "' VANTREL_PLANTED_MARKER='" + marker + "' HOST run x.cfg --format jsonl >OUT 2>ERR";

    Finished run = runScript(script);
    EXPECT_FALSE(fs::exists(marker)) << "the planted library ran\n" << run.err;
    EXPECT_EQ(run.status, 2);
    const std::string tried = work.path + "/libvantrel.so";
    EXPECT_EQ(run.err, "vantrel-host: x.cfg:1: cannot load library \"" + tried + "\" (" + tried +
                           ": cannot open shared object file: No such file or directory): give the module's path, "
                           "absolute or from the file's folder\n");

    // The module in the file's folder is the one loaded (its init then
    // misses the port).
    fs::copy_file(kit::modulePath(), tried);
    run = runScript(script);
    EXPECT_FALSE(fs::exists(marker));
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_EQ(linesOf(run.err).back(), "vantrel-host: device \"flock\" (x.cfg:1): init failed");
}

// (3) The block used to be given its size without reserving it: where shared
// memory was short the host died of SIGBUS after a few hundred samples. A
// tmpfs of 64 KiB in a mount namespace of the host's own stands in for a
// full /dev/shm, and a file size limit of 50 KiB for a limit of the user's
// (where the host used to die of SIGXFSZ).
TEST(HostGuard, SharedMemoryTooSmallForTheBlockIsRefusedAtTheStart)
{
    SimulatedFlock flock;
    ASSERT_TRUE(flock.started);
    kit::TempFile config(flock.config()), inner("mount -t tmpfs -o size=64k tmpfs /dev/shm || exit 97\nexec \"$@\"\n");
    const std::string name = kit::blockName(inner.path());
    const std::string refused =
        "vantrel-host: cannot reserve 132096 bytes of shared memory for shared storages \"" + name + "\": ";
    const std::string run = "HOST run '" + config.path() + "' --shm " + name + " --format jsonl --duration 3";

    Finished limited = runScript("ulimit -f 100; " + run + " >OUT 2>ERR");
    EXPECT_EQ(limited.status, 2) << limited.err;
    EXPECT_EQ(limited.err, refused + "File too large\n");
    EXPECT_EQ(limited.out, "");

    const Finished small = runScript("unshare -m sh '" + inner.path() + "' " + run + " >OUT 2>ERR");
    if (small.status == 97 || small.err.find("unshare") == 0) {
        GTEST_SKIP() << "no mount namespace with a tmpfs of its own here: " << small.err;
    }
    EXPECT_EQ(small.status, 2) << small.err;
    EXPECT_EQ(small.err, refused + "No space left on device\n");
    EXPECT_EQ(small.out, "");
}

// (4) watch on blocks that someone else made: each is refused with its
// reason and exit 1, without a signal and without waiting longer than the
// two seconds that watch gives a block to appear.
TEST(HostGuard, WatchRefusesAHostileBlockWithItsReason)
{
    kit::TempFile marker("");
    const std::string name = kit::blockName(marker.path());
    const auto damaged = [&name](const std::string& detail) {
        return "shared storages \"" + name + "\" are damaged: " + detail;
    };
    struct Case {
        const char* what;
        std::vector<unsigned char> block;
        std::string message;
    };
    std::vector<Case> cases;
    std::vector<unsigned char> block = runningBlock();
    headerOf(block).journalOffset = 0x7FFFFF00;
    cases.push_back({"journal offset", block,
                     damaged("the journal (offset 2147483392, 512 slots of 232 bytes) lies outside the block "
                             "(132096 bytes)")});
    block = runningBlock();
    headerOf(block).trackerListOffset = 130000;
    cases.push_back({"tracker list offset", block,
                     damaged("the tracker list (offset 130000, 32 entries of 96 bytes) lies outside the block "
                             "(132096 bytes)")});
    block = runningBlock();
    headerOf(block).devices[0].trackerFirst = 0x10000000;
    cases.push_back({"first tracker", block,
                     damaged("device 1 (\"flock\") has trackers 268435456 to 268435457, outside 1 to 32")});
    block = runningBlock();
    headerOf(block).devices[0].trackerCount = 0xFFFFFFFF;
    cases.push_back({"tracker count", block,
                     damaged("device 1 (\"flock\") has trackers 1 to 4294967295, outside 1 to 32")});
    block = runningBlock();
    headerOf(block).deviceCount = 1000;
    cases.push_back({"device count", block, damaged("it has 1000 devices, more than 32")});
    block = runningBlock();
    headerOf(block).blockSize = 0x40000000;
    cases.push_back({"block size", block, damaged("its header says 1073741824 bytes, the block has 132096")});
    block = runningBlock();
    block.resize(2000);
    cases.push_back({"cut short", block, damaged("its header says 132096 bytes, the block has 2000")});
    block.resize(100);
    cases.push_back({"shorter than a header", block, damaged("the block has 100 bytes, less than a header (1876)")});
    block = runningBlock(2);
    slotOf(block, 1).device = 7;
    cases.push_back({"slot's device", block, damaged("journal slot 2 names device 8 of 1")});
    block = runningBlock(2);
    slotOf(block, 1).entry = 9;
    cases.push_back({"slot's entry", block,
                     damaged("journal slot 2 names tracker 9, which is not one of device 1 (\"flock\")")});
    // A slot whose writer never finishes it.
    block = runningBlock(1);
    slotOf(block, 0).sequenceEnd = 0;
    cases.push_back({"half-written slot", block, damaged("journal slot 1 has stayed half-written for 2 seconds")});
    // A block of the format before this one, whose mutex readers took (and
    // waited for when its holder did not let go).
    block = runningBlock();
    headerOf(block).version = 1;
    cases.push_back({"older version", block,
                     "\"" + name + "\" holds shared storages of version 1; this program reads version 3"});
    block.assign(kSharedBlockSize, 0);
    cases.push_back({"no magic", block,
                     "\"" + name + "\" holds no shared storages (no \"vantrel\" at the start of the block)"});

    for (const Case& test : cases) {
        writeFile(sharedPath(name), test.block);
        const Finished run =
            runScript("timeout -s KILL 20 HOST watch " + name + " --format jsonl --duration 8 >OUT 2>ERR");
        EXPECT_EQ(run.status, 1) << test.what << "\n" << run.err;
        EXPECT_EQ(run.err, "vantrel-host: " + test.message + "\n") << test.what;
    }
    ::unlink(sharedPath(name).c_str());
}

// (4) A block that shrinks under watch: it has read what there was, then
// says so and ends, where it used to die of SIGBUS.
TEST(HostGuard, WatchEndsWhenTheBlockShrinks)
{
    kit::TempFile marker("");
    const std::string name = kit::blockName(marker.path());
    writeFile(sharedPath(name), runningBlock(2));
    const Finished run = runScript("HOST watch " + name + " --format jsonl --duration 10 >OUT 2>ERR & pid=\\$!; "
                                   "sleep 0.5; truncate -s 4096 " + sharedPath(name) + "; wait \\$pid");
    ::unlink(sharedPath(name).c_str());
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_EQ(run.err, "vantrel-host: shared storages \"" + name + "\" shrank from 132096 to 4096 bytes while watched\n");
    const std::vector<std::string> lines = linesOf(run.out);
    ASSERT_EQ(lines.size(), 2u) << run.out;
    EXPECT_EQ(lines[0], "{\"time\":1700000000.000000,\"device\":\"flock\",\"tracker\":1,\"x\":1.50000,\"y\":0.00000,"
                        "\"z\":0.00000,\"azimuth\":0.00000,\"elevation\":0.00000,\"roll\":0.00000}");
}

// (4) A block that shrinks between the check of its size and the read: the
// read ends with false where it used to end the process with SIGBUS.
TEST(HostGuard, AReadOfABlockThatShrankUnderItFails)
{
    kit::TempFile marker("");
    const std::string name = kit::blockName(marker.path());
    writeFile(sharedPath(name), std::vector<unsigned char>(3 * 4096, 1));
    platform::SharedMemory block;
    std::uint32_t code = 0;
    ASSERT_TRUE(platform::openSharedMemory(name.c_str(), block, code)) << code;
    ASSERT_EQ(block.size, 3u * 4096);
    struct Read {
        const unsigned char* from;
        unsigned sum;
    } read{static_cast<const unsigned char*>(block.address), 0};
    const auto readAll = [](void* context) {
        auto& read = *static_cast<Read*>(context);
        for (std::size_t i = 0; i < 3 * 4096; i += 64) {
            read.sum += read.from[i];
        }
    };
    EXPECT_TRUE(platform::readSharedMemory(readAll, &read));
    EXPECT_EQ(read.sum, 3u * 64);
    ::truncate(sharedPath(name).c_str(), 4096);
    EXPECT_FALSE(platform::readSharedMemory(readAll, &read));
    // And again: the guard holds for every read.
    EXPECT_FALSE(platform::readSharedMemory(readAll, &read));
    platform::closeSharedMemory(block);
    ::unlink(sharedPath(name).c_str());
}

// (5) The host writes as fast as it can while a reader reads as fast as it
// can (the journal goes round under it): every sample that the reader takes
// is one whole sample, and every other one is counted as missed.
TEST(HostGuard, AReaderTakesWholeSamplesOrCountsThemMissed)
{
    kit::TempFile marker("");
    const std::string name = kit::blockName(marker.path());
    SharedStorages writer;
    std::string error;
    ASSERT_TRUE(writer.create(name, SharedStorages::kDefaultMode, error)) << error;
    host::DeviceInfo device;
    device.name = "flock";
    device.firstTracker = 1;
    device.trackerCount = 1;
    writer.begin({device});
    SharedStoragesReader reader;
    ASSERT_EQ(reader.open(name, error), SharedStoragesReader::Opened::Ready) << error;

    // The first poll starts from the oldest slot still there: before the
    // host writes, so that every sample counts.
    std::vector<SharedJournalSlot> slots(kSharedJournalCapacity);
    SharedStoragesReader::Poll first;
    ASSERT_TRUE(reader.poll(slots.data(), first, error)) << error;

    constexpr std::uint32_t kSamples = 2000000;
    std::atomic<bool> written{false};
    std::thread host([&] {
        TrackerData sample{};
        sample.storageIndex = htonl(1);
        for (std::uint32_t k = 0; k < kSamples; ++k) {
            sample.sampleSeconds = htonl(k);
            for (std::int32_t& value : sample.pose) {
                value = static_cast<std::int32_t>(htonl(k));
            }
            writer.record(0, &sample, nullptr);
        }
        written = true;
    });
    std::uint64_t taken = 0;
    std::uint64_t missed = 0;
    std::uint64_t mixed = 0;
    for (std::uint32_t round = 1, last = 0; last == 0; ++round) {
        last = written ? 1 : 0;
        // Now and then the reader falls behind for sure: the host writes
        // the journal's 512 slots in well under a millisecond.
        if (round % 64 == 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        SharedStoragesReader::Poll poll;
        ASSERT_TRUE(reader.poll(slots.data(), poll, error)) << error;
        for (std::uint32_t i = 0; i < poll.count; ++i) {
            const SharedJournalSlot& slot = slots[i];
            bool whole = ntohl(slot.record.tracker.sampleSeconds) == slot.sequence - 1;
            for (std::int32_t value : slot.record.tracker.pose) {
                whole = whole && ntohl(static_cast<std::uint32_t>(value)) == slot.sequence - 1;
            }
            mixed += whole ? 0 : 1;
        }
        taken += poll.count;
        missed += poll.missed;
    }
    host.join();
    writer.close();
    EXPECT_EQ(mixed, 0u) << "of " << taken << " samples taken";
    EXPECT_EQ(taken + missed, kSamples);
    EXPECT_GT(taken, 0u);
    EXPECT_GT(missed, 0u) << "the reader never fell behind: no torn read was possible";
}

// (5) Readers take no lock that the host waits for. A reader that holds
// everything it can get (the block mapped, an exclusive flock and a read
// lock on it, and, in the format before this one, the block's mutex) and
// then stops does not slow the host's samples.
TEST(HostGuard, AReaderHoldingWhatItCanDoesNotSlowTheHost)
{
    SimulatedFlock flock;
    ASSERT_TRUE(flock.started);
    kit::TempFile config(flock.config()), reader(R"(import ctypes, fcntl, mmap, os, struct, sys, time
name = sys.argv[1]
for attempt in range(300):
    try:
        fd = os.open('/dev/shm/' + name, os.O_RDONLY)
        block = mmap.mmap(fd, 0, prot=mmap.PROT_READ)
        # The state word: version 1 had it at 1668, version 2 at 1732.
        state = {1: 1668, 2: 1732}.get(struct.unpack_from('=I', block, 8)[0], 1860)
        if block[0:8] == b'vantrel\0' and struct.unpack_from('=I', block, state)[0] == 1:
            break
    except (OSError, ValueError):
        pass
    time.sleep(0.05)
time.sleep(1)
fcntl.flock(fd, fcntl.LOCK_EX)
fcntl.lockf(fd, fcntl.LOCK_SH)
if struct.unpack_from('=I', block, 8)[0] == 1:
    # Version 1: a process-shared mutex at the offset that the header gives.
    writable = mmap.mmap(os.open('/dev/shm/' + name, os.O_RDWR), 0)
    mutex = ctypes.addressof(ctypes.c_char.from_buffer(writable, struct.unpack_from('=I', writable, 20)[0]))
    ctypes.CDLL(None).pthread_mutex_lock(ctypes.c_void_p(mutex))
print('%.6f' % time.time(), flush=True)
time.sleep(30)
)"),
        held("");
    const std::string name = kit::blockName(held.path());
    const Finished run = runScript("timeout -k 5 30 HOST run '" + config.path() +
                                   "' --format jsonl --duration 5 --shm " + name + " >OUT 2>ERR & pid=\\$!; python3 '" +
                                   reader.path() + "' " + name + " >'" + held.path() + "' & reader=\\$!; wait \\$pid; " +
                                   "status=\\$?; kill \\$reader; exit \\$status");
    ASSERT_EQ(run.status, 0) << run.err;
    const double holding = std::atof(contentOf(held.path()).c_str());
    ASSERT_GT(holding, 0.0) << "the reader never held the block";
    // Samples a second before the reader took hold, and each second after.
    int before = 0;
    int after[2] = {0, 0};
    for (const std::string& line : linesOf(run.out)) {
        const double time = nlohmann::json::parse(line)["time"].get<double>() - holding;
        before += time >= -1.0 && time < 0.0;
        for (int second = 0; second < 2; ++second) {
            after[second] += time >= 0.2 + second && time < 1.2 + second;
        }
    }
    ASSERT_GT(before, 150) << run.err;
    for (int second = 0; second < 2; ++second) {
        EXPECT_GE(after[second], before * 9 / 10) << "second " << second + 1 << " after the reader took hold";
    }
}

// (6) A block of that name is replaced only when it is of this format and
// version and its host is gone; anything else stays as it is.
TEST(HostGuard, ALeftOverBlockIsReplacedOnlyWhenItIsOursAndItsHostIsGone)
{
    kit::TempFile config("device flock /nonexistent/libvantrel.so 2\n");
    const std::string name = kit::blockName(config.path());
    const std::string script = "HOST run '" + config.path() + "' --shm " + name + " --format jsonl >OUT 2>ERR";
    const std::string missing = "vantrel-host: " + config.path() +
                                ":1: cannot load library \"/nonexistent/libvantrel.so\" (/nonexistent/libvantrel.so: "
                                "cannot open shared object file: No such file or directory): give the module's path, "
                                "absolute or from the file's folder\n";
    const std::string notOurs = "vantrel-host: \"" + name + "\" ";
    const std::string keep = ": left as it is; remove it or choose another name\n";
    struct Case {
        const char* what;
        std::vector<unsigned char> bytes;
        std::string err;
    };
    const std::vector<unsigned char> text{'n', 'o', 't', ' ', 'o', 'u', 'r', 's'};
    const std::uint32_t gone = goneProcess();
    const Case cases[] = {
        {"another program's", text, notOurs + "holds no shared storages (no \"vantrel\" at the start of the block)" + keep},
        {"empty", {}, notOurs + "holds no shared storages (no \"vantrel\" at the start of the block)" + keep},
        {"an older version's", blockOf(gone, 1),
         notOurs + "holds shared storages of version 1; this program reads version 3" + keep},
        {"a running host's", blockOf(static_cast<std::uint32_t>(::getpid())),
         "vantrel-host: shared storages \"" + name + "\" are in use by a running host (process " +
             std::to_string(::getpid()) + ")\n"},
        {"a gone host's", blockOf(gone), missing},
    };
    for (const Case& test : cases) {
        writeFile(sharedPath(name), test.bytes);
        const Finished run = runScript(script);
        EXPECT_EQ(run.status, 2) << test.what;
        EXPECT_EQ(run.err, test.err) << test.what;
        if (test.err == missing) {
            // Replaced, and the new block removed at the end.
            EXPECT_FALSE(fs::exists(sharedPath(name))) << test.what;
        } else {
            EXPECT_EQ(contentOf(sharedPath(name)), std::string(test.bytes.begin(), test.bytes.end())) << test.what;
        }
    }
    ::unlink(sharedPath(name).c_str());
}

// (7) The block is its owner's alone unless --shm-mode says otherwise; a
// reader needs read access only.
TEST(HostGuard, TheBlockIsItsOwnersUnlessAModeIsGiven)
{
    SimulatedFlock flock;
    ASSERT_TRUE(flock.started);
    kit::TempFile config(flock.config()), modes("");
    const std::string name = kit::blockName(modes.path());
    for (const char* given : {"", "0640"}) {
        const Finished run = runScript(
            "HOST run '" + config.path() + "' --format jsonl --duration 2 --shm " + name +
            (*given == '\0' ? std::string() : " --shm-mode " + std::string(given)) + " >OUT 2>ERR & pid=\\$!; n=0; while [ ! -e " +
            sharedPath(name) + " ] && [ \\$n -lt 100 ]; do sleep 0.05; n=\\$((n+1)); done; stat -c %a " +
            sharedPath(name) + " >'" + modes.path() + "'; wait \\$pid");
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(contentOf(modes.path()), *given == '\0' ? "600\n" : "640\n") << given;
    }
    for (const char* mode : {"0755", "rw", "01600", "0o600"}) {
        const Finished run = runScript("HOST run '" + config.path() + "' --shm " + name + " --shm-mode '" +
                                       std::string(mode) + "' >OUT 2>ERR");
        EXPECT_EQ(run.status, 2) << mode;
        EXPECT_EQ(run.err, "vantrel-host: --shm-mode \"" + std::string(mode) +
                               "\": give the block's permissions as an octal number of read and write bits, "
                               "such as 0600 or 0640\n");
    }
    const Finished run = runScript("HOST run '" + config.path() + "' --shm-mode 0640 >OUT 2>ERR");
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.err, "vantrel-host: --shm-mode needs --shm NAME\n");
}

// (8) Names of shared storages that the system would refuse or read as
// something else are refused with the reason, by run and by watch.
TEST(HostGuard, SharedStoragesNamesAreCheckedFirst)
{
    kit::TempFile config("device flock /nonexistent/libvantrel.so 2\n");
    const std::string tooLong(256, 'n');
    const std::pair<std::string, std::string> names[] = {
        {"", "is empty"},
        {"a/b", "holds a \"/\" after its first character"},
        {"/a/", "holds a \"/\" after its first character"},
        {"..", "is \".\" or \"..\""},
        {"/.", "is \".\" or \"..\""},
        {tooLong, "is longer than 255 characters"},
    };
    for (const auto& [name, reason] : names) {
        for (const std::string& command : {"run '" + config.path() + "' --shm", std::string("watch")}) {
            const Finished run = runScript("HOST " + command + " '" + name + "' >OUT 2>ERR");
            EXPECT_EQ(run.status, 2) << command << " " << name;
            EXPECT_EQ(run.err, "vantrel-host: the name of shared storages \"" + name + "\" " + reason + "\n")
                << command;
        }
    }
}

// (8) OSC destinations that cannot work are refused with the reason;
// a broadcast address gets the socket's permission to broadcast.
TEST(HostGuard, OscDestinationsThatCannotWorkAreRefused)
{
    kit::TempFile config("device flock /nonexistent/libvantrel.so 2\n");
    const std::pair<std::string, std::string> targets[] = {
        {"127.0.0.1:0", "port 0 is no destination"},
        {"[fe80::1]:7770", "a link-local IPv6 address needs its interface, as in fe80::1%eth0"},
        {"[ff02::1]:7770", "a multicast IPv6 address of this scope needs its interface, as in ff02::1%eth0"},
    };
    for (const auto& [target, reason] : targets) {
        const Finished run = runScript("HOST run '" + config.path() + "' --osc '" + target + "' >OUT 2>ERR");
        EXPECT_EQ(run.status, 2) << target;
        EXPECT_EQ(run.err, "vantrel-host: cannot send to " + target + ": " + reason + "\n");
    }
    // With the interface given, the address passes this check (what the
    // system says of it is another matter).
    const Finished run = runScript("HOST run '" + config.path() + "' --osc '[ff02::1%lo]:7770' >OUT 2>ERR");
    EXPECT_EQ(run.err.find("needs its interface"), std::string::npos) << run.err;
}

TEST(HostGuard, OscReachesABroadcastAddress)
{
    SimulatedFlock flock;
    ASSERT_TRUE(flock.started);
    kit::TempFile config(flock.config()), dump("");
    const std::string port = std::to_string(20000 + std::hash<std::string>()(dump.path()) % 20000);
    const Finished run = runScript("oscdump -L " + port + " >'" + dump.path() + "' 2>/dev/null & dump=\\$!; sleep 0.3; "
                                   "HOST run '" + config.path() + "' --format jsonl --duration 2 --osc 127.255.255.255:" +
                                   port + " >OUT 2>ERR; status=\\$?; sleep 0.5; kill \\$dump; exit \\$status");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_GT(linesOf(contentOf(dump.path())).size(), 100u) << run.err;
}

}  // namespace
