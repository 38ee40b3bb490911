// The host among other users of the machine: what it loads, the shared block
// that it makes (size reserved, permissions, a name that others hold), what
// `watch` does with a block that someone else made, and that no reader can
// slow the host. Most tests run the host program as a user runs it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

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
