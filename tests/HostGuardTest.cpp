// The host among other users of the machine: what it loads, the shared block
// that it makes (size reserved, permissions, a name that others hold), what
// `watch` does with a block that someone else made, and that no reader can
// slow the host. Most tests run the host program as a user runs it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "kit/HostProgram.h"
#include "kit/ModuleLibrary.h"
#include "kit/TempFile.h"

namespace {

using kit::Finished;
using kit::linesOf;
using kit::runScript;

namespace fs = std::filesystem;

// A folder of its own in /tmp, removed with everything in it.
struct TempFolder {
    TempFolder()
    {
        char name[] = "/tmp/vantrel-folder-XXXXXX";
        path = ::mkdtemp(name) != nullptr ? name : "";
    }
    ~TempFolder()
    {
        std::error_code ignored;
        fs::remove_all(path, ignored);
    }
    std::string path;
};

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
    EXPECT_EQ(run.err, "vantrel-host: x.cfg:1: cannot load library \"" + tried + "\": " + tried +
                           ": cannot open shared object file: No such file or directory\n");

    // The module in the file's folder is the one loaded (its init then
    // misses the port).
    fs::copy_file(kit::modulePath(), tried);
    run = runScript(script);
    EXPECT_FALSE(fs::exists(marker));
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_EQ(linesOf(run.err).back(), "vantrel-host: device \"flock\" (x.cfg:1): init failed");
}

}  // namespace
