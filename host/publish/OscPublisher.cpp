#include "OscPublisher.h"

#include <cstring>
#include <lo/lo.h>
#include <memory>

#include "HostPort.h"
#include "OutputOptions.h"
#include "PoseForm.h"
#include "SampleRecords.h"
#include "SampleText.h"
#include "host/Say.h"

namespace {

// Seconds from 1900-01-01 (the epoch of OSC time tags) to 1970-01-01.
constexpr std::uint32_t kTimeTagEpochOffset = 2208988800u;

void putBigEndian32(unsigned char* to, std::uint32_t value)
{
    to[0] = static_cast<unsigned char>(value >> 24);
    to[1] = static_cast<unsigned char>(value >> 16);
    to[2] = static_cast<unsigned char>(value >> 8);
    to[3] = static_cast<unsigned char>(value);
}

float scaled(std::int32_t networkValue, double divisor)
{
    const auto value = static_cast<std::int32_t>(host::fromNetworkOrder(static_cast<std::uint32_t>(networkValue)));
    return static_cast<float>(value / divisor);
}

// A message's 32-bit argument, in place. liblo keeps the arguments 4-byte
// aligned in the message's data, so they are written as bytes rather than
// through the (8-byte aligned) lo_arg union.
template <typename Value>
void setArgument(lo_arg* argument, Value value)
{
    static_assert(sizeof(Value) == 4, "a 32-bit argument");
    std::memcpy(argument, &value, sizeof value);
}

}  // namespace

OscPublisher::~OscPublisher()
{
    for (Address* list : {trackers_, controllers_}) {
        for (std::uint32_t i = 0; i < kSharedListCapacity; ++i) {
            if (list[i].message != nullptr) {
                lo_message_free(list[i].message);
            }
        }
    }
    platform::closeUdpSender(sender_);
}

bool OscPublisher::open(const std::string& target, int multicastHops, std::string& error)
{
    host::HostPort address;
    switch (host::readHostPort(target, false, address)) {
    case host::HostPortRead::Ok:
        break;
    case host::HostPortRead::Malformed:
        error = "--osc wants HOST:PORT, not \"" + target + "\"";
        return false;
    case host::HostPortRead::PortOutOfRange:
        // Port 0 is refused with the other destinations that cannot work.
        error = "--osc: port " + address.port + " is out of range: give 1 to 65535";
        return false;
    }
    const std::string& host = address.host;
    const std::string& port = address.port;
    char text[256] = {};
    if (!platform::openUdpSender(host.c_str(), port.c_str(), multicastHops, sender_, text, sizeof text)) {
        error = "cannot send to " + target + ": " + text;
        return false;
    }
    return true;
}

std::string OscPublisher::addressPart(const std::string& deviceName)
{
    // OSC reserves blank, # * , / ? [ ] { } in address parts.
    std::string part = deviceName;
    for (char& c : part) {
        if (static_cast<unsigned char>(c) <= ' ' || std::strchr("#*,/?[]{}", c) != nullptr) {
            c = '_';
        }
    }
    return part;
}

void OscPublisher::addDevice(const std::string& deviceName, std::uint32_t trackerFirst, std::uint32_t trackerCount,
                             std::uint32_t controllerFirst, std::uint32_t controllerCount, bool predicts)
{
    const std::string prefix = "/vantrel/" + addressPart(deviceName);
    for (std::uint32_t id = trackerFirst; id < trackerFirst + trackerCount && id >= 1 && id <= kSharedListCapacity;
         ++id) {
        Address& address = trackers_[id - 1];
        address.path = prefix + "/tracker/" + std::to_string(id);
        if (address.message == nullptr) {
            address.message = lo_message_new();
            for (int i = 0; i < 3 + host::orientationCount(form_.rotation); ++i) {
                lo_message_add_float(address.message, 0.0f);
            }
            if (predicts) {
                lo_message_add_int32(address.message, 0);
            }
            address.predicts = predicts;
            lo_message_get_argv(address.message);  // liblo makes the argument table on first use
        }
    }
    for (std::uint32_t id = controllerFirst;
         id < controllerFirst + controllerCount && id >= 1 && id <= kSharedListCapacity; ++id) {
        Address& address = controllers_[id - 1];
        address.path = prefix + "/controller/" + std::to_string(id);
        makeControllerMessage(address, 0);
    }
}

void OscPublisher::begin(const std::vector<host::DeviceInfo>& devices)
{
    for (const host::DeviceInfo& device : devices) {
        addDevice(device.name, device.firstTracker, device.trackerCount, device.firstController,
                  device.controllerCount, device.predictMicroseconds != 0);
        statusPaths_.push_back("/vantrel/" + addressPart(device.name) + "/status");
    }
}

void OscPublisher::status(const host::DeviceStatus& status)
{
    const std::lock_guard<std::mutex> guard(mutex_);
    if (status.device >= statusPaths_.size()) {
        return;
    }
    Address address;
    address.path = statusPaths_[status.device];
    address.message = lo_message_new();
    lo_message_add_string(address.message, host::stateName(status.state));
    beginBundle(status.seconds, status.microseconds);
    if (appendMessage(address)) {
        sendBundle();
    } else {
        ++failed_;
    }
    lo_message_free(address.message);
}

void OscPublisher::finish()
{
    if (finished_) {
        return;
    }
    finished_ = true;
    host::say("OSC: " + std::to_string(sent_) + " bundles sent, " + std::to_string(dropped_) +
              " dropped (socket buffer full or no receiver), " + std::to_string(failed_) + " failed");
}

void OscPublisher::makeControllerMessage(Address& address, std::uint32_t valuators)
{
    if (address.message != nullptr) {
        lo_message_free(address.message);
    }
    address.message = lo_message_new();
    lo_message_add_int32(address.message, 0);
    for (std::uint32_t i = 0; i < valuators; ++i) {
        lo_message_add_float(address.message, 0.0f);
    }
    lo_message_get_argv(address.message);
    address.valuators = valuators;
}

bool OscPublisher::appendMessage(const Address& address)
{
    const std::size_t length = lo_message_length(address.message, address.path.c_str());
    if (bundleSize_ + 4 + length > sizeof buffer_) {
        return false;
    }
    putBigEndian32(buffer_ + bundleSize_, static_cast<std::uint32_t>(length));
    std::size_t written = 0;
    lo_message_serialise(address.message, address.path.c_str(), buffer_ + bundleSize_ + 4, &written);
    bundleSize_ += 4 + written;
    return true;
}

void OscPublisher::record(std::uint32_t, const TrackerData* tracker, const ControllerData* controller,
                          bool predicted)
{
    const std::lock_guard<std::mutex> guard(mutex_);
    Address* trackerAddress = nullptr;
    Address* controllerAddress = nullptr;
    if (tracker != nullptr) {
        const std::uint32_t id = host::fromNetworkOrder(tracker->storageIndex);
        if (id >= 1 && id <= kSharedListCapacity && trackers_[id - 1].message != nullptr) {
            trackerAddress = &trackers_[id - 1];
            lo_arg** argv = lo_message_get_argv(trackerAddress->message);
            const double feet = host::feetIn(form_.units);
            for (int i = 0; i < 3; ++i) {
                setArgument(argv[i], scaled(tracker->pose[i], 100000.0 / feet));
            }
            if (form_.rotation == host::Rotation::Euler) {
                for (int i = 3; i < 6; ++i) {
                    setArgument(argv[i], scaled(tracker->pose[i], 100000.0));
                }
            } else {
                std::int32_t pose[6];
                for (int i = 0; i < 6; ++i) {
                    pose[i] = static_cast<std::int32_t>(
                        host::fromNetworkOrder(static_cast<std::uint32_t>(tracker->pose[i])));
                }
                double values[9];
                const int count = host::orientationValues(form_.rotation, pose, values);
                for (int i = 0; i < count; ++i) {
                    setArgument(argv[3 + i], static_cast<float>(values[i]));
                }
            }
            if (trackerAddress->predicts) {
                setArgument(argv[3 + host::orientationCount(form_.rotation)], static_cast<std::int32_t>(predicted));
            }
        }
    }
    if (controller != nullptr) {
        const std::uint32_t id = host::fromNetworkOrder(controller->storageIndex);
        if (id >= 1 && id <= kSharedListCapacity && controllers_[id - 1].message != nullptr) {
            controllerAddress = &controllers_[id - 1];
            std::uint32_t valuators = host::fromNetworkOrder(controller->valuatorCount);
            valuators = valuators <= kMaxValuators ? valuators : kMaxValuators;
            if (valuators != controllerAddress->valuators) {
                makeControllerMessage(*controllerAddress, valuators);
            }
            lo_arg** argv = lo_message_get_argv(controllerAddress->message);
            const std::uint8_t* bits = controller->buttonBits;
            setArgument(argv[0], static_cast<std::int32_t>(std::uint32_t{bits[0]} | std::uint32_t{bits[1]} << 8 |
                                                           std::uint32_t{bits[2]} << 16 | std::uint32_t{bits[3]} << 24));
            for (std::uint32_t v = 0; v < valuators; ++v) {
                setArgument(argv[1 + v], scaled(controller->valuators[v], 1000.0));
            }
        }
    }
    if (trackerAddress == nullptr && controllerAddress == nullptr) {
        return;
    }

    const std::uint32_t seconds = host::fromNetworkOrder(trackerAddress != nullptr ? tracker->sampleSeconds
                                                                          : controller->sampleSeconds);
    const std::uint32_t microseconds = host::fromNetworkOrder(trackerAddress != nullptr ? tracker->sampleMicroseconds
                                                                               : controller->sampleMicroseconds);
    beginBundle(seconds, microseconds);
    if ((trackerAddress != nullptr && !appendMessage(*trackerAddress)) ||
        (controllerAddress != nullptr && !appendMessage(*controllerAddress))) {
        ++failed_;
        return;
    }
    sendBundle();
}

// The bundle: "#bundle", the time tag (NTP seconds and fraction), then each
// message after its length (appendMessage).
void OscPublisher::beginBundle(std::uint32_t seconds, std::uint32_t microseconds)
{
    std::memcpy(buffer_, "#bundle", 8);
    putBigEndian32(buffer_ + 8, seconds + kTimeTagEpochOffset);
    putBigEndian32(buffer_ + 12, static_cast<std::uint32_t>((std::uint64_t{microseconds} << 32) / 1000000u));
    bundleSize_ = 16;
}

void OscPublisher::sendBundle()
{
    std::uint32_t code = 0;
    switch (platform::sendDatagram(sender_, buffer_, bundleSize_, code)) {
    case platform::SendResult::Sent:
        ++sent_;
        break;
    case platform::SendResult::Dropped:
        ++dropped_;
        break;
    case platform::SendResult::Failed:
        ++failed_;
        break;
    }
}

namespace host {

// --osc HOST:PORT [--osc-ttl HOPS].
std::unique_ptr<Publisher> makeOscPublisher(const OutputOptions& options, std::string& error)
{
    if (options.osc.empty()) {
        return nullptr;
    }
    auto osc = std::make_unique<OscPublisher>(options.pose);
    if (!osc->open(options.osc, options.oscHops, error)) {
        return nullptr;
    }
    return osc;
}

}  // namespace host
