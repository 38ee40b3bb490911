#include "LiveTable.h"

#include <cstring>
#include <memory>
#include <string>

#include "SampleText.h"
#include "platform/HostPlatform.h"

namespace host {

LiveTable::LiveTable(std::FILE* terminal) : terminal_(terminal) {}

void LiveTable::begin(const std::vector<DeviceInfo>& devices)
{
    devices_ = devices;
    // The names go to a terminal: a control character (an escape sequence in
    // the name of another host's block, which `watch` shows) is shown as ?.
    for (DeviceInfo& device : devices_) {
        for (char& c : device.name) {
            const unsigned char byte = static_cast<unsigned char>(c);
            if (byte < 0x20 || byte == 0x7F) {
                c = '?';
            }
        }
    }
    lines_.assign(devices.size(), Line{});
    for (std::size_t d = 0; d < devices.size(); ++d) {
        lines_[d].stateKnown = devices[d].stateKnown;
        lines_[d].recordsBefore = devices[d].records != nullptr ? devices[d].records->load() : 0;
    }
    rows_.clear();
    predicting_ = false;
    for (std::uint32_t d = 0; d < devices.size(); ++d) {
        const DeviceInfo& device = devices[d];
        predicting_ = predicting_ || device.predictMicroseconds != 0;
        for (std::uint32_t k = 0; k < device.trackerCount; ++k) {
            Row row;
            row.device = d;
            row.tracker = device.firstTracker + k;
            rows_.push_back(row);
        }
    }
    rateTime_ = Clock::now();
    begun_ = true;
}

void LiveTable::publish(const ReceivedRecord& record)
{
    for (std::uint32_t i = 0; i < record.sampleCount; ++i) {
        take(record.samples[i]);
    }
    pair(record);
}

void LiveTable::pair(const ReceivedRecord& record)
{
    const HostSample* tracker = nullptr;
    std::uint32_t trackers = 0;
    for (std::uint32_t i = 0; i < record.sampleCount; ++i) {
        if (record.samples[i].tracker) {
            tracker = &record.samples[i];
            ++trackers;
        }
    }
    recordsHoldUnits_ = recordsHoldUnits_ || record.sampleCount > 1;
    if (trackers == 1) {
        for (std::uint32_t i = 0; i < record.sampleCount; ++i) {
            const HostSample& sample = record.samples[i];
            if (!sample.tracker && sample.id >= 1 && sample.id <= 32 && sample.device == tracker->device) {
                unitTracker_[sample.id - 1] = tracker->id;
            }
        }
    } else if (!recordsHoldUnits_ && record.sampleCount == 1 && loneTracker_) {
        const HostSample& sample = record.samples[0];
        if (!sample.tracker && sample.id >= 1 && sample.id <= 32 && sample.device == lastTracker_.device &&
            sample.seconds == lastTracker_.seconds && sample.microseconds == lastTracker_.microseconds) {
            unitTracker_[sample.id - 1] = lastTracker_.id;
        }
    }
    loneTracker_ = record.sampleCount == 1 && tracker != nullptr;
    if (loneTracker_) {
        lastTracker_ = *tracker;
    }
}

void LiveTable::status(const DeviceStatus& status)
{
    if (status.device < lines_.size()) {
        Line& line = lines_[status.device];
        line.stateKnown = true;
        line.state = status.state;
        line.attempt = status.attempt;
        line.sinceSeconds = status.sinceSeconds;
    }
}

// ok; silent 4 s; lost 2 s; reconnecting (attempt 3); - when not known.
// (`watch` knows no attempt: reconnecting 2 s.)
std::string LiveTable::stateText(const Line& line)
{
    if (!line.stateKnown) {
        return "-";
    }
    if (line.state == DeviceStatus::State::Ok) {
        return stateName(line.state);
    }
    if (line.state == DeviceStatus::State::Reconnecting && line.attempt != 0) {
        return std::string(stateName(line.state)) + " (attempt " + std::to_string(line.attempt) + ")";
    }
    const auto now = std::chrono::duration_cast<std::chrono::seconds>(
                         std::chrono::system_clock::now().time_since_epoch()).count();
    const long long lasted = now - static_cast<long long>(line.sinceSeconds);
    return std::string(stateName(line.state)) + " " + std::to_string(lasted < 0 ? 0 : lasted) + " s";
}

void LiveTable::take(const HostSample& sample)
{
    if (sample.id == 0 || sample.id > 32) {
        return;
    }
    Latest& latest = sample.tracker ? trackers_[sample.id - 1] : controllers_[sample.id - 1];
    latest.seen = true;
    latest.device = sample.device;
    ++latest.samples;
    if (sample.tracker) {
        std::memcpy(latest.pose, sample.pose, sizeof latest.pose);
        latest.predicted = sample.predicted;
    } else {
        latest.buttonCount = sample.buttonCount;
        std::memcpy(latest.buttonBits, sample.buttonBits, sizeof latest.buttonBits);
    }
}

void LiveTable::refresh()
{
    const Clock::time_point now = Clock::now();
    const double seconds = std::chrono::duration<double>(now - rateTime_).count();
    if (seconds >= 1.0) {
        for (Latest& latest : trackers_) {
            latest.rate = static_cast<double>(latest.samples - latest.samplesBefore) / seconds;
            latest.samplesBefore = latest.samples;
        }
        for (std::size_t d = 0; d < lines_.size(); ++d) {
            if (devices_[d].records != nullptr) {
                const std::uint32_t records = devices_[d].records->load(std::memory_order_relaxed);
                lines_[d].rate = static_cast<double>(records - lines_[d].recordsBefore) / seconds;
                lines_[d].recordsBefore = records;
            }
        }
        rateTime_ = now;
    }
    draw();
}

void LiveTable::finish()
{
    if (terminal_ != nullptr && begun_) {
        draw();
        std::fflush(terminal_);
    }
}

void LiveTable::draw()
{
    if (terminal_ == nullptr) {
        return;
    }
    std::string text;
    if (drawnLines_ > 0) {
        // Back to the table's first line, then every line anew.
        text += "\x1b[" + std::to_string(drawnLines_) + "A";
    }
    char line[256];
    // The state's column as wide as its longest text when another follows.
    const int stateWidth = predicting_ ? 24 : 0;
    std::snprintf(line, sizeof line, "\x1b[2K%-12s %3s %10s %10s %10s %11s %11s %11s  %-8s %9s %9s  %-*s%s\n",
                  "device", "ID", "x ft", "y ft", "z ft", "azimuth", "elevation", "roll", "buttons", "samples/s",
                  "records/s", stateWidth, "state", predicting_ ? " predicted" : "");
    text += line;
    for (const Row& row : rows_) {
        const Latest& tracker = trackers_[row.tracker - 1];
        char values[6][24];
        for (int i = 0; i < 6; ++i) {
            if (tracker.seen) {
                formatFixed(values[i], tracker.pose[i]);
            } else {
                std::strcpy(values[i], "-");
            }
        }
        std::string buttons = "-";
        for (std::uint32_t c = 0; c < 32; ++c) {
            if (unitTracker_[c] == row.tracker && controllers_[c].seen) {
                buttons = buttonText(controllers_[c]);
            }
        }
        char records[16] = "-";
        if (devices_[row.device].records != nullptr) {
            std::snprintf(records, sizeof records, "%.1f", lines_[row.device].rate);
        }
        std::snprintf(line, sizeof line, "\x1b[2K%-12.12s %3u %10s %10s %10s %11s %11s %11s  %-8s %9.1f %9s  %-*s%s\n",
                      devices_[row.device].name.c_str(), static_cast<unsigned>(row.tracker), values[0], values[1],
                      values[2], values[3], values[4], values[5], buttons.c_str(), tracker.rate, records, stateWidth,
                      stateText(lines_[row.device]).c_str(), predictionText(row).c_str());
        text += line;
    }
    // A controller without a known tracker: a row of its own, its ID as C1.
    int ownRows = 0;
    for (std::uint32_t c = 0; c < 32; ++c) {
        const Latest& controller = controllers_[c];
        if (unitTracker_[c] != 0 || !controller.seen || controller.device >= devices_.size()) {
            continue;
        }
        const std::string id = "C" + std::to_string(c + 1);
        std::snprintf(line, sizeof line, "\x1b[2K%-12.12s %3s %10s %10s %10s %11s %11s %11s  %-8s %9s\n",
                      devices_[controller.device].name.c_str(), id.c_str(), "-", "-", "-", "-", "-", "-",
                      buttonText(controller).c_str(), "-");
        text += line;
        ++ownRows;
    }
    // Clears what an earlier, longer table left below.
    text += "\x1b[J";
    std::fputs(text.c_str(), terminal_);
    std::fflush(terminal_);
    drawnLines_ = static_cast<int>(rows_.size()) + 1 + ownRows;
}

// " 20 ms" for a predicted pose, " no" for one as measured, " -" where the
// device does not predict; nothing when no device predicts.
std::string LiveTable::predictionText(const Row& row) const
{
    if (!predicting_) {
        return {};
    }
    const Latest& tracker = trackers_[row.tracker - 1];
    const std::uint32_t horizon = devices_[row.device].predictMicroseconds;
    if (horizon == 0 || !tracker.seen) {
        return " -";
    }
    if (!tracker.predicted) {
        return " no";
    }
    char text[32];
    std::snprintf(text, sizeof text, " %g ms", horizon / 1000.0);
    return text;
}

std::string LiveTable::buttonText(const Latest& controller)
{
    std::string buttons;
    for (std::uint32_t n = 0; n < controller.buttonCount; ++n) {
        buttons += ((controller.buttonBits[n / 8] >> (n % 8)) & 1u) != 0 ? '1' : '0';
    }
    return buttons;
}

// --format table (also the automatic choice on a terminal).
std::unique_ptr<Publisher> makeLiveTable(const OutputOptions& options, std::string&)
{
    if (options.format != Format::Table) {
        return nullptr;
    }
    platform::enableTerminalEscapes();
    return std::make_unique<LiveTable>(stdout);
}

}  // namespace host
