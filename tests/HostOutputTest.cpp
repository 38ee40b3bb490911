// The host's outputs on their own: the record file's format by its name, the
// live table's rows, the units and orientation forms of the lines and OSC.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <atomic>
#include <chrono>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <lo/lo.h>
#include <nlohmann/json.hpp>

#include "host/publish/LatestSamples.h"
#include "host/publish/LinePublisher.h"
#include "host/publish/LiveTable.h"
#include "host/publish/OscPublisher.h"
#include "host/publish/SampleRecords.h"
#include "host/publish/SampleText.h"

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

// Everything the table drew on its screen so far.
std::string screenText(std::FILE* screen)
{
    std::fflush(screen);
    std::rewind(screen);
    std::string text;
    char buffer[4096];
    for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, screen)) > 0;) {
        text.append(buffer, got);
    }
    return text;
}

// The table's last drawing: per row under the header its device, ID and
// buttons.
std::vector<std::string> drawnRows(std::FILE* screen)
{
    const std::string text = screenText(screen);
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

// A device's name is another host's data under `watch`: control characters
// in it reach the terminal as ?, never as an escape sequence.
TEST(HostOutput, TheTableShowsNoControlCharacterOfAName)
{
    std::FILE* screen = std::tmpfile();
    ASSERT_NE(screen, nullptr);
    host::LiveTable table(screen);
    std::vector<host::DeviceInfo> devices(1);
    devices[0].name = "a\x1b]0;b\x07" "c\x1b[2J";
    devices[0].firstTracker = 1;
    devices[0].trackerCount = 1;
    // As `watch` gives its devices: the state known, the count of records not.
    devices[0].stateKnown = true;
    table.begin(devices);
    table.refresh();
    const std::string text = screenText(screen);
    std::fclose(screen);
    EXPECT_NE(text.find("a?]0;b?c?[2J"), std::string::npos) << text;
    EXPECT_EQ(text.find("\x1b]"), std::string::npos);
    EXPECT_EQ(text.find('\x07'), std::string::npos);
    EXPECT_EQ(text.find("\x1b[2J"), std::string::npos);
}

constexpr double kPi = 3.14159265358979323846;

// The rotation Ry(A) Rx(E) Rz(R) of angles in degrees, row by row, built
// here from the three turns.
std::vector<double> turns(double azimuth, double elevation, double roll)
{
    const auto product = [](const std::vector<double>& a, const std::vector<double>& b) {
        std::vector<double> c(9, 0.0);
        for (int i = 0; i < 3; ++i) {
            for (int j = 0; j < 3; ++j) {
                for (int k = 0; k < 3; ++k) {
                    c[3 * i + j] += a[3 * i + k] * b[3 * k + j];
                }
            }
        }
        return c;
    };
    const double a = azimuth * kPi / 180, e = elevation * kPi / 180, r = roll * kPi / 180;
    const std::vector<double> ry{std::cos(a), 0, std::sin(a), 0, 1, 0, -std::sin(a), 0, std::cos(a)};
    const std::vector<double> rx{1, 0, 0, 0, std::cos(e), -std::sin(e), 0, std::sin(e), std::cos(e)};
    const std::vector<double> rz{std::cos(r), -std::sin(r), 0, std::sin(r), std::cos(r), 0, 0, 0, 1};
    return product(product(ry, rx), rz);
}

// The difference of two angles in degrees, one turn taken away.
double angleBetween(double a, double b)
{
    return std::fabs(std::remainder(a - b, 360.0));
}

nlohmann::json jsonOf(const host::HostSample& sample, host::Units units, host::Rotation rotation)
{
    char line[host::kSampleTextSize];
    host::PoseForm form;
    form.units = units;
    form.rotation = rotation;
    host::jsonLine(line, sample, "\"d\"", form);
    return nlohmann::json::parse(line);
}

// The quaternion and the matrix of a sample's line stand for the rotation of
// its Euler angles, also where those are at the ends of their ranges: the
// matrix is the three turns', the quaternion a unit one of the same rotation,
// and the angles read back from the matrix as the module reads them are the
// published ones (at an elevation of +-90 degrees, where azimuth and roll are
// one turn, they give the same rotation).
TEST(HostOutput, QuaternionAndMatrixAgreeWithTheEulerAngles)
{
    const double cases[][3] = {{0, 0, 0},         {30, 20, 10},      {-123.45678, 45.5, 170.25}, {180, 0, 0},
                               {-180, 0, 0},      {0, 0, 180},       {0, 0, -180},               {180, 30, -180},
                               {-180, -60, 180},  {0, 90, 0},        {0, -90, 0},                {37, 90, -80},
                               {-180, 90, 180},   {180, -90, -180},  {90, -90, 45},              {-179.99999, 89.99999, 0.00001}};
    for (const auto& angles : cases) {
        host::HostSample sample;
        sample.id = 1;
        for (int i = 0; i < 3; ++i) {
            sample.pose[3 + i] = static_cast<std::int32_t>(std::lround(angles[i] * 100000.0));
        }
        const std::string label = std::to_string(angles[0]) + " " + std::to_string(angles[1]) + " " +
                                  std::to_string(angles[2]);
        const nlohmann::json euler = jsonOf(sample, host::Units::Feet, host::Rotation::Euler);
        const nlohmann::json quaternion = jsonOf(sample, host::Units::Feet, host::Rotation::Quaternion);
        const nlohmann::json matrix = jsonOf(sample, host::Units::Feet, host::Rotation::Matrix);
        EXPECT_FALSE(quaternion.contains("azimuth") || matrix.contains("azimuth") || matrix.contains("qw"));

        const std::vector<double> expected =
            turns(euler["azimuth"].get<double>(), euler["elevation"].get<double>(), euler["roll"].get<double>());
        std::vector<double> m;
        for (const char* name : {"m00", "m01", "m02", "m10", "m11", "m12", "m20", "m21", "m22"}) {
            m.push_back(matrix[name].get<double>());
        }
        for (int i = 0; i < 9; ++i) {
            EXPECT_NEAR(m[i], expected[i], 1e-8) << label << " element " << i;
        }

        const double w = quaternion["qw"], x = quaternion["qx"], y = quaternion["qy"], z = quaternion["qz"];
        EXPECT_NEAR(w * w + x * x + y * y + z * z, 1.0, 1e-8) << label;
        EXPECT_GE(w, 0.0) << label;
        const double fromQuaternion[9] = {1 - 2 * (y * y + z * z), 2 * (x * y - z * w),     2 * (x * z + y * w),
                                          2 * (x * y + z * w),     1 - 2 * (x * x + z * z), 2 * (y * z - x * w),
                                          2 * (x * z - y * w),     2 * (y * z + x * w),     1 - 2 * (x * x + y * y)};
        for (int i = 0; i < 9; ++i) {
            EXPECT_NEAR(fromQuaternion[i], m[i], 1e-8) << label << " element " << i;
        }

        // The angles read back as the module reads a matrix; at the ends of
        // the elevation, where azimuth and roll turn about one axis, the
        // whole turn is given to the azimuth.
        const bool locked = std::hypot(m[2], m[8]) < 1e-6;
        const double azimuth = (locked ? std::atan2(-m[5] * m[1], m[0]) : std::atan2(m[2], m[8])) * 180 / kPi;
        const double elevation = std::atan2(-m[5], std::hypot(m[2], m[8])) * 180 / kPi;
        const double roll = locked ? 0.0 : std::atan2(m[3], m[4]) * 180 / kPi;
        EXPECT_NEAR(elevation, angles[1], 1e-5) << label;
        if (std::fabs(angles[1]) < 89.9) {
            EXPECT_LT(angleBetween(azimuth, angles[0]), 1e-5) << label;
            EXPECT_LT(angleBetween(roll, angles[2]), 1e-5) << label;
        }
        const std::vector<double> again = turns(azimuth, elevation, roll);
        for (int i = 0; i < 9; ++i) {
            EXPECT_NEAR(again[i], m[i], 1e-5) << label << " element " << i;
        }
    }
}

// Positions in feet are the published values exactly; inches exactly twelve
// times them, metres to the micrometre. CSV has the columns of the form.
TEST(HostOutput, UnitsAndFormsOfTheLines)
{
    host::HostSample sample;
    sample.id = 3;
    sample.pose[0] = 123456;    // 1.23456 ft
    sample.pose[1] = -100000;   // -1 ft
    sample.pose[2] = -1;        // -0.00001 ft
    const nlohmann::json feet = jsonOf(sample, host::Units::Feet, host::Rotation::Euler);
    EXPECT_EQ(feet.dump(), R"({"azimuth":0.0,"device":"d","elevation":0.0,"roll":0.0,"time":0.0,"tracker":3,"x":1.23456,"y":-1.0,"z":-1e-05})");
    char line[host::kSampleTextSize];
    host::PoseForm form;
    form.units = host::Units::Inches;
    host::jsonLine(line, sample, "\"d\"", form);
    EXPECT_STREQ(line, "{\"time\":0.000000,\"device\":\"d\",\"tracker\":3,\"x\":14.81472,\"y\":-12.00000,"
                       "\"z\":-0.00012,\"azimuth\":0.00000,\"elevation\":0.00000,\"roll\":0.00000}\n");
    form.units = host::Units::Meters;
    form.rotation = host::Rotation::Quaternion;
    host::csvLine(line, sample, "d", form);
    EXPECT_STREQ(line, "0.000000,d,3,0.376294,-0.304800,-0.000003,1.000000000,0.000000000,0.000000000,0.000000000,,,,,\n");
    EXPECT_EQ(host::csvHeader(host::Rotation::Quaternion), "time,device,tracker,x,y,z,qw,qx,qy,qz,controller,buttons,status,since,attempt\n");
    host::HostSample buttons;
    buttons.tracker = false;
    buttons.id = 2;
    buttons.buttonCount = 3;
    buttons.buttonBits[0] = 0x4;
    form.rotation = host::Rotation::Matrix;
    host::csvLine(line, buttons, "d", form);
    EXPECT_STREQ(line, "0.000000,d,,,,,,,,,,,,,,2,001,,,\n");
    EXPECT_EQ(host::csvHeader(host::Rotation::Matrix),
              "time,device,tracker,x,y,z,m00,m01,m02,m10,m11,m12,m20,m21,m22,controller,buttons,status,since,attempt\n");

    // A run in which a device predicts: its tracker lines say whether the
    // pose is the prediction; CSV has a column for it, at the end, empty
    // where it does not apply.
    sample.predicts = true;
    sample.predicted = true;
    host::jsonLine(line, sample, "\"d\"");
    EXPECT_STREQ(line, "{\"time\":0.000000,\"device\":\"d\",\"tracker\":3,\"x\":1.23456,\"y\":-1.00000,"
                       "\"z\":-0.00001,\"azimuth\":0.00000,\"elevation\":0.00000,\"roll\":0.00000,\"predicted\":true}\n");
    sample.predicted = false;
    host::csvLine(line, sample, "d", host::PoseForm(), true);
    EXPECT_STREQ(line, "0.000000,d,3,1.23456,-1.00000,-0.00001,0.00000,0.00000,0.00000,,,,,,0\n");
    sample.predicts = false;
    host::csvLine(line, sample, "d", host::PoseForm(), true);
    EXPECT_STREQ(line, "0.000000,d,3,1.23456,-1.00000,-0.00001,0.00000,0.00000,0.00000,,,,,,\n");
    host::csvLine(line, buttons, "d", host::PoseForm(), true);
    EXPECT_STREQ(line, "0.000000,d,,,,,,,,2,001,,,,\n");
    EXPECT_EQ(host::csvHeader(host::Rotation::Euler, true),
              "time,device,tracker,x,y,z,azimuth,elevation,roll,controller,buttons,status,since,attempt,predicted\n");
}

// OSC carries the same forms: x, y, z in the units asked for, then the
// quaternion's four values; and for a device that predicts, whether the pose
// is predicted.
TEST(HostOutput, OscCarriesTheFormsOfTheLines)
{
    host::PoseForm form;
    form.units = host::Units::Inches;
    form.rotation = host::Rotation::Quaternion;
    OscPublisher osc(form);
    std::string error;
    ASSERT_TRUE(osc.open("127.0.0.1:9", 0, error)) << error;
    osc.addDevice("d", 1, 1, 0, 0);
    TrackerData entry{};
    const auto network = [](std::int32_t value) {
        return static_cast<std::int32_t>(host::toNetworkOrder(static_cast<std::uint32_t>(value)));
    };
    entry.storageIndex = static_cast<std::uint32_t>(network(1));
    entry.pose[0] = network(100000);   // 1 ft
    entry.pose[3] = network(9000000);  // azimuth 90
    osc.record(0, &entry, nullptr);
    // The bundle's header (16 bytes) and the message's length (4).
    ASSERT_GT(osc.lastBundleSize(), 20u);
    int result = 0;
    lo_message message = lo_message_deserialise(const_cast<unsigned char*>(osc.lastBundle()) + 20,
                                                osc.lastBundleSize() - 20, &result);
    ASSERT_NE(message, nullptr) << result;
    EXPECT_STREQ(lo_message_get_types(message), "fffffff");
    // The arguments lie 4-byte aligned in the message's data: read as bytes,
    // not through the 8-byte aligned lo_arg union.
    lo_arg** argv = lo_message_get_argv(message);
    const auto value = [argv](int i) {
        float f = 0.0f;
        std::memcpy(&f, argv[i], sizeof f);
        return f;
    };
    EXPECT_FLOAT_EQ(value(0), 12.0f);
    EXPECT_FLOAT_EQ(value(3), static_cast<float>(std::sqrt(0.5)));
    EXPECT_NEAR(value(4), 0.0f, 1e-7);
    EXPECT_FLOAT_EQ(value(5), static_cast<float>(std::sqrt(0.5)));
    EXPECT_NEAR(value(6), 0.0f, 1e-7);
    lo_message_free(message);

    // A device that predicts: after the pose, 1 for a predicted one.
    OscPublisher predicting(form);
    ASSERT_TRUE(predicting.open("127.0.0.1:9", 0, error)) << error;
    predicting.addDevice("d", 1, 1, 0, 0, true);
    predicting.record(0, &entry, nullptr, true);
    message = lo_message_deserialise(const_cast<unsigned char*>(predicting.lastBundle()) + 20,
                                     predicting.lastBundleSize() - 20, &result);
    ASSERT_NE(message, nullptr) << result;
    EXPECT_STREQ(lo_message_get_types(message), "fffffffi");
    std::int32_t flag = 0;
    std::memcpy(&flag, lo_message_get_argv(message)[7], sizeof flag);
    EXPECT_EQ(flag, 1);
    lo_message_free(message);
}

}  // namespace

// The view's table of the latest samples, written by two threads (as by two
// devices that publish one ID) and read by a third at full speed: a copy is
// always one sample whole (every word of one write), never words of two.
// (With the check of the bookends taken out of the reader, 2.9 million copies
// in 0.4 s held torn ones.)
TEST(HostOutput, TheLatestSamplesAreReadWholeWhileTheyAreWritten)
{
    host::LatestSamples latest;
    std::atomic<bool> done{false};
    const auto write = [&](std::int32_t from) {
        host::HostSample sample;
        sample.id = 3;
        for (std::int32_t n = from; !done; n += 2) {
            sample.seconds = static_cast<std::uint32_t>(n);
            sample.microseconds = static_cast<std::uint32_t>(n);
            for (std::int32_t& value : sample.pose) {
                value = n;
            }
            latest.put(sample, 0, static_cast<std::uint64_t>(n) * 0x100000001u);
        }
    };
    std::thread first(write, 0);
    std::thread second(write, 1);
    long copies = 0;
    long torn = 0;
    std::uint32_t lastWrites = 0;
    // 400 ms, and longer on a loaded machine until the reader has its copies.
    const auto start = std::chrono::steady_clock::now();
    const auto running = [&] {
        const auto elapsed = std::chrono::steady_clock::now() - start;
        return elapsed < std::chrono::milliseconds(400) ||
               (copies <= 10000 && elapsed < std::chrono::seconds(20));
    };
    while (running()) {
        host::LatestSamples::Entry entry;
        if (!latest.get(true, 3, entry)) {
            continue;
        }
        ++copies;
        const auto n = static_cast<std::int32_t>(entry.sample.seconds);
        bool whole = entry.sample.microseconds == entry.sample.seconds &&
                     entry.published == static_cast<std::uint64_t>(n) * 0x100000001u;
        for (const std::int32_t value : entry.sample.pose) {
            whole = whole && value == n;
        }
        torn += whole ? 0 : 1;
        EXPECT_GE(entry.writes, lastWrites);
        lastWrites = entry.writes;
    }
    done = true;
    first.join();
    second.join();
    EXPECT_GT(copies, 1000);
    EXPECT_EQ(torn, 0) << "of " << copies << " copies";
}
