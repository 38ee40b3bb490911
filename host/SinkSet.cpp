#include "SinkSet.h"

namespace host {

void SinkSet::begin(const std::vector<DeviceInfo>& devices)
{
    std::lock_guard<std::mutex> lock(mutex_);
    for (SampleSink* sink : sinks_) {
        sink->begin(devices);
    }
}

void SinkSet::sample(const HostSample& sample)
{
    std::lock_guard<std::mutex> lock(mutex_);
    for (SampleSink* sink : sinks_) {
        sink->sample(sample);
    }
}

void SinkSet::refresh()
{
    std::lock_guard<std::mutex> lock(mutex_);
    for (SampleSink* sink : sinks_) {
        sink->refresh();
    }
}

void SinkSet::finish()
{
    std::lock_guard<std::mutex> lock(mutex_);
    for (SampleSink* sink : sinks_) {
        sink->finish();
    }
}

bool SinkSet::broken() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    for (const SampleSink* sink : sinks_) {
        if (sink->broken()) {
            return true;
        }
    }
    return false;
}

}  // namespace host
