// The host's outputs on their own: the record file's format by its name, the
// live table's rows.
#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "host/publish/LinePublisher.h"
#include "host/publish/LiveTable.h"

namespace {

TEST(HostOutput, TheRecordsFormatFollowsItsExtensionInAnyCase)
{
    EXPECT_EQ(host::LinePublisher::formatOf("R.csv"), host::Format::Csv);
    EXPECT_EQ(host::LinePublisher::formatOf("R.CSV"), host::Format::Csv);
    EXPECT_EQ(host::LinePublisher::formatOf("lab/run.Csv"), host::Format::Csv);
    EXPECT_EQ(host::LinePublisher::formatOf("R.jsonl"), host::Format::JsonLines);
    EXPECT_EQ(host::LinePublisher::formatOf("R.JSONL"), host::Format::JsonLines);
    EXPECT_EQ(host::LinePublisher::formatOf("csv"), host::Format::JsonLines);
    EXPECT_EQ(host::LinePublisher::formatOf("R.csv.txt"), host::Format::JsonLines);
}

host::HostSample trackerAt(std::uint32_t device, std::uint32_t id, std::uint32_t microseconds)
{
    host::HostSample sample;
    sample.device = device;
    sample.id = id;
    sample.seconds = 1800000000;
    sample.microseconds = microseconds;
    return sample;
}

host::HostSample buttonsAt(std::uint32_t device, std::uint32_t id, std::uint32_t microseconds, std::uint8_t bits)
{
    host::HostSample sample = trackerAt(device, id, microseconds);
    sample.tracker = false;
    sample.buttonCount = 3;
    sample.buttonBits[0] = bits;
    return sample;
}

void publish(host::LiveTable& table, std::vector<host::HostSample> samples)
{
    host::ReceivedRecord record;
    record.device = samples.front().device;
    record.samples = samples.data();
    record.sampleCount = static_cast<std::uint32_t>(samples.size());
    table.publish(record);
}

// The table's last drawing: per row under the header its device, ID and
// buttons.
std::vector<std::string> drawnRows(std::FILE* screen)
{
    std::fflush(screen);
    std::rewind(screen);
    std::string text;
    char buffer[4096];
    for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, screen)) > 0;) {
        text.append(buffer, got);
    }
    std::vector<std::string> rows;
    std::istringstream lines(text.substr(text.rfind("A\x1b[2K") + 1));
    std::string header;
    std::getline(lines, header);
    for (std::string line; std::getline(lines, line) && line.compare(0, 4, "\x1b[2K") == 0;) {
        std::istringstream words(line.substr(4));
        std::string device, id, value, buttons;
        words >> device >> id;
        for (int i = 0; i < 7 && words >> value; ++i) {
            buttons = value;
        }
        rows.push_back(device + " " + id + " " + buttons);
    }
    return rows;
}

// Which tracker a controller's buttons show beside: the one published in the
// same record; in single entries (another host's journal), the tracker entry
// right before it of the same device and time; otherwise a row of its own.
TEST(HostOutput, TheTableShowsButtonsBesideTheTrackerOfTheirUnit)
{
    std::FILE* screen = std::tmpfile();
    ASSERT_NE(screen, nullptr);
    host::LiveTable table(screen);
    std::vector<host::DeviceInfo> devices(2);
    devices[0].name = "left";
    devices[0].firstTracker = 1;
    devices[0].trackerCount = 3;
    devices[0].firstController = 1;
    devices[0].controllerCount = 2;
    devices[1].name = "right";
    devices[1].firstTracker = 4;
    devices[1].trackerCount = 1;
    devices[1].firstController = 3;
    devices[1].controllerCount = 1;
    table.begin(devices);

    // Single entries: controller 1 right after tracker 3 at the same time.
    publish(table, {trackerAt(0, 2, 1000)});
    publish(table, {trackerAt(0, 3, 2000)});
    publish(table, {buttonsAt(0, 1, 2000, 0x2)});
    // Controller 2 after a tracker of another time, controller 3 of the
    // other device alone: rows of their own.
    publish(table, {trackerAt(0, 1, 3000)});
    publish(table, {buttonsAt(0, 2, 4000, 0x4)});
    publish(table, {buttonsAt(1, 3, 5000, 0x1)});
    table.refresh();
    EXPECT_EQ(drawnRows(screen), (std::vector<std::string>{"left 1 -", "left 2 -",
                                                           "left 3 010", "right 4 -", "left C2 001", "right C3 100"}));

    // A record with a tracker and a controller: they are one unit's, and that
    // holds over what single entries suggested.
    publish(table, {trackerAt(0, 1, 6000), buttonsAt(0, 1, 6000, 0x1)});
    publish(table, {trackerAt(1, 4, 7000), buttonsAt(1, 3, 7000, 0x3)});
    publish(table, {trackerAt(0, 2, 8000)});
    publish(table, {buttonsAt(0, 1, 8000, 0x7)});
    table.refresh();
    EXPECT_EQ(drawnRows(screen), (std::vector<std::string>{"left 1 111", "left 2 -",
                                                           "left 3 -", "right 4 110", "left C2 001"}));
    std::fclose(screen);
}

}  // namespace
