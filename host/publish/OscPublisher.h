#pragma once
// Publication of received samples as Open Sound Control over UDP (liblo).
// One bundle per received record, time-tagged with the sample's time stamp:
//   /vantrel/<device>/tracker/<id>     x y z (feet) azimuth elevation roll (degrees), 6 floats
//                                      (x y z in the units of --units; with --rotation quaternion
//                                      qw qx qy qz, with matrix m00 .. m22 in place of the angles)
//                                      and, for a device that predicts, an int: 1 when the pose is the
//                                      prediction, 0 when it is as measured
//   /vantrel/<device>/controller/<id>  button bits (int: button n is bit n-1), then the valuators (floats)
// and one per change of a device's state, time-tagged with the change:
//   /vantrel/<device>/status           ok, silent, lost or reconnecting (a string)
// The messages are made once, when a device is added; a sample only changes
// their arguments in place, and the bundle is written into a buffer of the
// publisher's own and sent by a socket that never blocks. A bundle that the
// socket's buffer cannot take is dropped and counted. Linux only: where the
// build has no liblo, OscMissing.cpp stands in for this file and refuses
// --osc. The publisher of --osc HOST:PORT; its calls come from the device
// threads at once.
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "OutputOptions.h"
#include "Publisher.h"
#include "platform/UdpSender.h"
#include "vantrel/DataRecords.h"
#include "vantrel/SharedStorages.h"

typedef void* lo_message;  // as liblo's lo_types.h declares it

class OscPublisher : public host::Publisher {
public:
    explicit OscPublisher(host::PoseForm form = host::PoseForm()) : form_(form) {}
    ~OscPublisher() override;
    OscPublisher(const OscPublisher&) = delete;
    OscPublisher& operator=(const OscPublisher&) = delete;

    // target is HOST:PORT (an IPv6 address in brackets: [::1]:PORT);
    // multicastHops > 0 sets the hops of multicast datagrams.
    bool open(const std::string& target, int multicastHops, std::string& error);

    // Prepares the messages of a device's output trackers and controllers
    // (the IDs trackerFirst.. and controllerFirst.., as in the storages).
    // predicts: the device's trackers carry whether their pose is predicted.
    void addDevice(const std::string& deviceName, std::uint32_t trackerFirst, std::uint32_t trackerCount,
                   std::uint32_t controllerFirst, std::uint32_t controllerCount, bool predicts = false);

    // Sends one bundle for one received record: the tracker entry and/or the
    // controller entry that it changed (null for the one it did not);
    // predicted: the tracker's pose is the prediction.
    void record(std::uint32_t device, const TrackerData* tracker, const ControllerData* controller,
                bool predicted = false);

    // As a publisher: begin prepares the devices' messages, publish sends,
    // finish says the figures below on standard error.
    Calls calls() const override { return Calls::Concurrent; }
    void begin(const std::vector<host::DeviceInfo>& devices) override;
    void publish(const host::ReceivedRecord& received) override
    {
        record(received.device, received.tracker, received.controller, received.predicted);
    }
    // A status bundle; made when the state changes (seldom), not per sample.
    void status(const host::DeviceStatus& status) override;
    void finish() override;

    std::uint64_t sent() const { return sent_; }
    std::uint64_t dropped() const { return dropped_; }
    std::uint64_t failed() const { return failed_; }
    // The bundle that the last publish sent (or tried to send).
    const unsigned char* lastBundle() const { return buffer_; }
    std::size_t lastBundleSize() const { return bundleSize_; }

private:
    struct Address {
        std::string path;
        lo_message message = nullptr;
        std::uint32_t valuators = 0;
        bool predicts = false;  // a tracker's: the flag after the pose
    };

    static std::string addressPart(const std::string& deviceName);
    void makeControllerMessage(Address& address, std::uint32_t valuators);
    bool appendMessage(const Address& address);
    void beginBundle(std::uint32_t seconds, std::uint32_t microseconds);
    void sendBundle();

    host::PoseForm form_;
    std::mutex mutex_;  // device threads publish one at a time
    platform::UdpSender sender_;
    Address trackers_[kSharedListCapacity];
    Address controllers_[kSharedListCapacity];
    std::vector<std::string> statusPaths_;  // per device
    unsigned char buffer_[2048] = {};
    std::size_t bundleSize_ = 0;
    std::uint64_t sent_ = 0;
    std::uint64_t dropped_ = 0;
    std::uint64_t failed_ = 0;
    bool finished_ = false;
};
