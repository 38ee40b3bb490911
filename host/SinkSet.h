#pragma once
// Every sink of a run behind one lock: the device threads and the main thread
// call it, and each call reaches every sink in turn.
#include <mutex>
#include <vector>

#include "SampleSink.h"

namespace host {

class SinkSet : public SampleSink {
public:
    // The sink is not owned; it must outlive the set.
    void add(SampleSink* sink) { sinks_.push_back(sink); }
    bool empty() const { return sinks_.empty(); }

    void begin(const std::vector<DeviceInfo>& devices) override;
    void sample(const HostSample& sample) override;
    void refresh() override;
    void finish() override;
    bool broken() const override;

private:
    mutable std::mutex mutex_;
    std::vector<SampleSink*> sinks_;
};

}  // namespace host
