// The host program's configuration file: the ConfigBlocks it builds and the
// file lines it names when a device's block would break the module's rules.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "host/ConfigFile.h"
#include "kit/TempFile.h"

namespace {

std::string repeated(const std::string& line, int count)
{
    std::string text;
    for (int i = 0; i < count; ++i) {
        text += line;
    }
    return text;
}

TEST(HostConfig, DeviceBlocksKeepTheFilesLineNumbersAndWords)
{
    host::ConfigFile file;
    ASSERT_TRUE(file.parse("# two flocks\n"
                           "\n"
                           "device left libvantrel.so 2   # two units\n"
                           "  port /dev/pts/7\n"
                           "  Hemisphere -z\n"
                           "device \"right hand\" /opt/lib/libvantrel.so\n"
                           "\tport \"COM 3 #1\" \r\n",
                           "lab/flocks.cfg"))
        << file.errors().front();
    ASSERT_EQ(file.devices().size(), 2u);

    const host::DeviceConfig& left = file.devices()[0];
    EXPECT_EQ(left.name, "left");
    // A relative library is the file's folder's, made absolute: the loader
    // gets no name to search for.
    EXPECT_EQ(left.libraryPath, (std::filesystem::current_path() / "lab/libvantrel.so").string());
    const ConfigBlock& first = *left.options->block();
    EXPECT_EQ(first.lineNumber, 3u);
    EXPECT_STREQ(first.deviceName, "left");
    ASSERT_EQ(first.argCount, 1u);
    EXPECT_STREQ(first.args[0], "2");
    ASSERT_EQ(first.lineCount, 2u);
    EXPECT_EQ(first.lines[0].lineNumber, 4u);
    EXPECT_STREQ(first.lines[0].keyword, "port");
    EXPECT_STREQ(first.lines[0].args[0], "/dev/pts/7");
    EXPECT_EQ(first.lines[1].lineNumber, 5u);
    EXPECT_STREQ(first.lines[1].keyword, "Hemisphere");
    EXPECT_EQ(first.lines[1].consumed, 0);

    const host::DeviceConfig& right = file.devices()[1];
    EXPECT_EQ(right.libraryPath, "/opt/lib/libvantrel.so");
    const ConfigBlock& second = *right.options->block();
    EXPECT_EQ(second.lineNumber, 6u);
    EXPECT_STREQ(second.deviceName, "right hand");
    EXPECT_EQ(second.argCount, 0u);
    ASSERT_EQ(second.lineCount, 1u);
    EXPECT_EQ(second.lines[0].lineNumber, 7u);
    ASSERT_EQ(second.lines[0].argCount, 1u);
    EXPECT_STREQ(second.lines[0].args[0], "COM 3 #1");
}

// The host watches the port and names the baud rate that the module takes:
// the last line of the keyword in any of its spellings, as the module reads
// them.
TEST(HostConfig, TheHostReadsTheLineThatTheModuleKeeps)
{
    host::ConfigFile file;
    ASSERT_TRUE(file.parse("device flock libvantrel.so\n"
                           "  port /dev/ttyS0\n"
                           "  SerialPort /dev/ttyUSB0\n"
                           "  baudrate 9600\n"
                           "  hemisphere +x\n"
                           "  HEMISPHERE -y\n",
                           "lab.cfg"))
        << file.errors().front();
    const host::OptionBlock& options = *file.devices()[0].options;
    EXPECT_EQ(options.argumentOf("port"), "/dev/ttyUSB0");
    EXPECT_EQ(options.argumentOf("baud"), "9600");
    EXPECT_EQ(options.argumentOf("hemisphere"), "-y");
    EXPECT_EQ(options.argumentOf("calibration"), "");
}

TEST(HostConfig, EveryBrokenRuleIsNamedWithFileAndLine)
{
    host::ConfigFile file;
    const std::string text = "baud 9600\n"                                        // 1: before any device
                              "device a libvantrel.so 2\n"                         // 2
                              + repeated("  filter on\n", 32) +                    // 3..34: 32 lines, allowed
                              "  sync off\n"                                       // 35: the 33rd
                              "  sync on\n"                                        // 36: said once per device
                              "device b libvantrel.so\n"                           // 37
                              "  port " + repeated("x ", 65) + "\n"                // 38: 65 arguments
                              "  port " + repeated("x ", 64) + "\n"                // 39: 64, allowed
                              "  port \"COM1\n"                                    // 40: open quote
                              "device c\n"                                         // 41: no library
                              "device b other.so\n";                               // 42: name taken
    EXPECT_FALSE(file.parse(text, "f.cfg"));
    const std::vector<std::string> expected{
        "f.cfg:1: option \"baud\" before the first device line: put the line device NAME LIBRARY [ARGUMENT...] "
        "above it",
        "f.cfg:35: more than 32 option lines for device \"a\": the module takes 32; remove this line and the "
        "device's lines after it",
        "f.cfg:38: more than 64 arguments for option \"port\": the module takes 64; remove the rest",
        "f.cfg:40: unterminated quote: close it with a second \"",
        "f.cfg:41: a device line needs a name and a library: device NAME LIBRARY [ARGUMENT...]",
        "f.cfg:42: a second device named \"b\" (the first is at line 37): give each device a name of its own",
    };
    EXPECT_EQ(file.errors(), expected);
    EXPECT_EQ(file.devices()[0].options->block()->lineCount, 32u);
    EXPECT_EQ(file.devices()[1].options->block()->lineCount, 1u);

    EXPECT_FALSE(file.parse("# nothing here\n", "empty.cfg"));
    EXPECT_EQ(file.errors(), std::vector<std::string>{"empty.cfg: no device line: begin each device's block with "
                                                      "the line device NAME LIBRARY [ARGUMENT...]"});
}

// A file as an editor on Windows saves it: a byte order mark before the first
// word, which is no part of it.
TEST(HostConfig, AByteOrderMarkIsNoPartOfTheFirstWord)
{
    host::ConfigFile file;
    ASSERT_TRUE(file.parse("\xEF\xBB\xBF" "device left libvantrel.so 2\r\n  port COM3\r\n", "bom.cfg"))
        << file.errors().front();
    ASSERT_EQ(file.devices().size(), 1u);
    EXPECT_EQ(file.devices()[0].name, "left");
    EXPECT_EQ(file.devices()[0].options->block()->lineCount, 1u);
    // Only at the start of the file: elsewhere it is part of its word.
    ASSERT_TRUE(file.parse("device left libvantrel.so 2\n\xEF\xBB\xBF" "port COM3\n", "inner.cfg"));
    EXPECT_STREQ(file.devices()[0].options->block()->lines[0].keyword, "\xEF\xBB\xBF" "port");
}

// A path that is no configuration file says why, with the system's reason.
TEST(HostConfig, APathThatIsNoFileSaysWhy)
{
    host::ConfigFile file;
    const std::string missing = kit::temporaryPath() + ".missing";
    EXPECT_FALSE(file.read(missing));
    EXPECT_EQ(file.errors(), std::vector<std::string>{missing + ": cannot read the file: " + std::strerror(ENOENT) +
                                                      ": give the path of a configuration file"});
    const std::string folder = std::filesystem::temp_directory_path().string();
    EXPECT_FALSE(file.read(folder));
    EXPECT_EQ(file.errors(), std::vector<std::string>{folder + ": is a folder: give the path of a configuration "
                                                               "file in it"});
}

// A device name is bounded (the shared block's table holds 31 bytes of it;
// it used to be kept whole and overrun the lines' buffer); the file and its
// lines are bounded too (a file that never ends used to be read until memory
// ran out).
TEST(HostConfig, NamesLinesAndFilesHaveTheirLimits)
{
    host::ConfigFile file;
    const std::string longest(31, 'n');
    EXPECT_TRUE(file.parse("device " + longest + " libvantrel.so 2\n", "f.cfg"));
    EXPECT_FALSE(file.parse("device " + longest + "n libvantrel.so 2\n"
                            "  port " + std::string(65536 - 7, 'p') + "\n"
                            "  port " + std::string(65536 - 6, 'p') + "\n",
                            "f.cfg"));
    EXPECT_EQ(file.errors(), (std::vector<std::string>{
                                 "f.cfg:1: a device name of 32 bytes; at most 31",
                                 "f.cfg:3: a line of more than 65536 bytes",
                             }));

    // 1 MiB exactly: a device line and comments.
    std::string text = "device d libvantrel.so\n";
    while (text.size() + 64 <= 1024 * 1024) {
        text += std::string(63, '#') + "\n";
    }
    text += std::string(1024 * 1024 - text.size() - 1, '#') + "\n";
    kit::TempFile large(text);
    EXPECT_TRUE(file.read(large.path())) << file.errors().front();
    std::ofstream(large.path(), std::ios::app) << "\n";  // 1 MiB and a byte
    EXPECT_FALSE(file.read(large.path()));
    EXPECT_EQ(file.errors(), std::vector<std::string>{large.path() + ": more than 1 MiB: not a configuration file"});
    EXPECT_FALSE(file.read("/dev/zero"));
    EXPECT_EQ(file.errors(), std::vector<std::string>{"/dev/zero: more than 1 MiB: not a configuration file"});
}

}  // namespace
