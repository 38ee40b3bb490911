#include "SampleText.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include <nlohmann/json.hpp>

#include "PoseForm.h"
#include "vantrel/SharedStorages.h"

namespace host {

namespace {

// A whole tracker line is about 200 bytes besides the name.
static_assert(kSampleTextSize >= 2 + 6 * (kSharedDeviceNameSize - 1) + 256, "room for the longest line");

const char* const kPositionNames[3] = {"x", "y", "z"};

// Appends text at out[at], never past the buffer; returns the new length.
std::size_t put(char (&out)[kSampleTextSize], std::size_t at, const char* text, std::size_t length)
{
    if (at + length >= kSampleTextSize) {
        length = at < kSampleTextSize - 1 ? kSampleTextSize - 1 - at : 0;
    }
    std::memcpy(out + at, text, length);
    out[at + length] = '\0';
    return at + length;
}

std::size_t put(char (&out)[kSampleTextSize], std::size_t at, const char* text)
{
    return put(out, at, text, std::strlen(text));
}

// The part of a snprintf result that is in its buffer.
std::size_t printed(int length, std::size_t size)
{
    return length < 0 ? 0 : static_cast<std::size_t>(length) < size ? static_cast<std::size_t>(length) : size - 1;
}

std::size_t putTime(char (&out)[kSampleTextSize], std::size_t at, std::uint32_t seconds, std::uint32_t microseconds)
{
    char text[32];
    const int length = std::snprintf(text, sizeof text, "%lu.%06lu", static_cast<unsigned long>(seconds),
                                     static_cast<unsigned long>(microseconds % 1000000u));
    return put(out, at, text, printed(length, sizeof text));
}

std::size_t putTime(char (&out)[kSampleTextSize], std::size_t at, const HostSample& sample)
{
    return putTime(out, at, sample.seconds, sample.microseconds);
}

std::size_t putNumber(char (&out)[kSampleTextSize], std::size_t at, std::uint32_t value)
{
    char text[16];
    const int length = std::snprintf(text, sizeof text, "%lu", static_cast<unsigned long>(value));
    return put(out, at, text, printed(length, sizeof text));
}

// A value times 10 to the power of decimals (0..9), as a decimal number
// with that many decimals, from its integer parts: the text is exactly the
// value. Returns the length written into size bytes.
std::size_t formatScaled(char* out, std::size_t size, std::int64_t scaled, int decimals)
{
    static const std::uint64_t kPowers[] = {1, 10, 100, 1000, 10000, 100000, 1000000, 10000000, 100000000,
                                            1000000000};
    const std::uint64_t power = kPowers[decimals];
    const std::uint64_t magnitude =
        scaled < 0 ? static_cast<std::uint64_t>(-(scaled + 1)) + 1 : static_cast<std::uint64_t>(scaled);
    const int length = std::snprintf(out, size, "%s%llu.%0*llu", scaled < 0 ? "-" : "",
                                     static_cast<unsigned long long>(magnitude / power), decimals,
                                     static_cast<unsigned long long>(magnitude % power));
    return printed(length, size);
}

std::size_t putScaled(char (&out)[kSampleTextSize], std::size_t at, std::int64_t scaled, int decimals)
{
    char text[48];
    return put(out, at, text, formatScaled(text, sizeof text, scaled, decimals));
}

// One value after its separator: JSON ,"name":value; CSV ,value.
std::size_t putField(char (&out)[kSampleTextSize], std::size_t at, const char* name, bool json)
{
    if (!json) {
        return put(out, at, ",");
    }
    at = put(out, at, ",\"");
    at = put(out, at, name);
    return put(out, at, "\":");
}

// The position's three values and the orientation's, in the form asked for.
std::size_t putPose(char (&out)[kSampleTextSize], std::size_t at, const HostSample& sample, const PoseForm& form,
                    bool json)
{
    for (int i = 0; i < 3; ++i) {
        std::int64_t scaled = 0;
        const int decimals = positionIn(form.units, sample.pose[i], scaled);
        at = putField(out, at, kPositionNames[i], json);
        at = putScaled(out, at, scaled, decimals);
    }
    const char* const* names = orientationNames(form.rotation);
    if (form.rotation == Rotation::Euler) {
        // Exactly as published.
        for (int i = 0; i < 3; ++i) {
            at = putField(out, at, names[i], json);
            at = putScaled(out, at, sample.pose[3 + i], 5);
        }
        return at;
    }
    double values[9];
    const int count = orientationValues(form.rotation, sample.pose, values);
    for (int i = 0; i < count; ++i) {
        at = putField(out, at, names[i], json);
        at = putScaled(out, at, std::llround(values[i] * 1e9), 9);
    }
    return at;
}

}  // namespace

std::size_t formatFixed(char* out, std::int32_t value)
{
    return formatScaled(out, 24, value, 5);
}

std::string jsonDeviceName(const std::string& name)
{
    return nlohmann::json(name).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::string csvDeviceName(const std::string& name)
{
    if (name.find_first_of(",\"\r\n") == std::string::npos) {
        return name;
    }
    std::string field = "\"";
    for (char c : name) {
        field += c;
        if (c == '"') {
            field += '"';
        }
    }
    return field + "\"";
}

std::size_t jsonLine(char (&out)[kSampleTextSize], const HostSample& sample, const std::string& device,
                     const PoseForm& form)
{
    std::size_t at = put(out, 0, "{\"time\":");
    at = putTime(out, at, sample);
    at = put(out, at, ",\"device\":");
    at = put(out, at, device.data(), device.size());
    if (sample.tracker) {
        at = put(out, at, ",\"tracker\":");
        at = putNumber(out, at, sample.id);
        at = putPose(out, at, sample, form, true);
        if (sample.predicts) {
            at = put(out, at, sample.predicted ? ",\"predicted\":true" : ",\"predicted\":false");
        }
    } else {
        at = put(out, at, ",\"controller\":");
        at = putNumber(out, at, sample.id);
        at = put(out, at, ",\"buttons\":[");
        for (std::uint32_t n = 0; n < sample.buttonCount; ++n) {
            at = put(out, at, n == 0 ? "" : ",");
            at = put(out, at, sample.pressed(n) ? "1" : "0");
        }
        at = put(out, at, "]");
    }
    return put(out, at, "}\n");
}

std::string csvHeader(Rotation rotation, bool predictedColumn)
{
    std::string header = "time,device,tracker,x,y,z";
    const char* const* names = orientationNames(rotation);
    for (int i = 0; i < orientationCount(rotation); ++i) {
        header += std::string(",") + names[i];
    }
    return header + ",controller,buttons,status,since,attempt" + (predictedColumn ? ",predicted\n" : "\n");
}

std::size_t csvLine(char (&out)[kSampleTextSize], const HostSample& sample, const std::string& device,
                    const PoseForm& form, bool predictedColumn)
{
    std::size_t at = putTime(out, 0, sample);
    at = put(out, at, ",");
    at = put(out, at, device.data(), device.size());
    at = put(out, at, ",");
    if (sample.tracker) {
        at = putNumber(out, at, sample.id);
        at = putPose(out, at, sample, form, false);
        at = put(out, at, ",,,,,");
        if (predictedColumn) {
            at = put(out, at, !sample.predicts ? "," : sample.predicted ? ",1" : ",0");
        }
        return put(out, at, "\n");
    }
    // The tracker's columns empty: its ID, the position, the orientation.
    const int columns = 4 + orientationCount(form.rotation);
    for (int i = 0; i < columns; ++i) {
        at = put(out, at, ",");
    }
    at = putNumber(out, at, sample.id);
    at = put(out, at, ",");
    for (std::uint32_t n = 0; n < sample.buttonCount; ++n) {
        at = put(out, at, sample.pressed(n) ? "1" : "0");
    }
    return put(out, at, predictedColumn ? ",,,,\n" : ",,,\n");
}

const char* stateName(DeviceStatus::State state)
{
    switch (state) {
    case DeviceStatus::State::Ok: return "ok";
    case DeviceStatus::State::Silent: return "silent";
    case DeviceStatus::State::Lost: return "lost";
    case DeviceStatus::State::Reconnecting: return "reconnecting";
    }
    return "unknown";
}

std::size_t statusJsonLine(char (&out)[kSampleTextSize], const DeviceStatus& status, const std::string& device)
{
    std::size_t at = put(out, 0, "{\"time\":");
    at = putTime(out, at, status.seconds, status.microseconds);
    at = put(out, at, ",\"device\":");
    at = put(out, at, device.data(), device.size());
    at = put(out, at, ",\"status\":\"");
    at = put(out, at, stateName(status.state));
    at = put(out, at, "\",\"since\":");
    at = putTime(out, at, status.sinceSeconds, status.sinceMicroseconds);
    if (status.state == DeviceStatus::State::Reconnecting && status.attempt != 0) {
        at = put(out, at, ",\"attempt\":");
        at = putNumber(out, at, status.attempt);
    }
    return put(out, at, "}\n");
}

std::size_t statusCsvLine(char (&out)[kSampleTextSize], const DeviceStatus& status, const std::string& device,
                          Rotation rotation, bool predictedColumn)
{
    std::size_t at = putTime(out, 0, status.seconds, status.microseconds);
    at = put(out, at, ",");
    at = put(out, at, device.data(), device.size());
    // The samples' columns empty (the tracker's ID, the position, the
    // orientation, the controller's ID and its buttons), then the status.
    const int columns = 6 + orientationCount(rotation);
    for (int i = 0; i < columns + 1; ++i) {
        at = put(out, at, ",");
    }
    at = put(out, at, stateName(status.state));
    at = put(out, at, ",");
    at = putTime(out, at, status.sinceSeconds, status.sinceMicroseconds);
    at = put(out, at, ",");
    if (status.state == DeviceStatus::State::Reconnecting && status.attempt != 0) {
        at = putNumber(out, at, status.attempt);
    }
    return put(out, at, predictedColumn ? ",\n" : "\n");
}

}  // namespace host
