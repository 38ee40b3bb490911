#include "Publishers.h"

#include <cstdio>

#include "PublisherList.h"
#include "platform/HostPlatform.h"

namespace host {

Publishers::~Publishers()
{
    finish();
}

bool Publishers::open(const OutputOptions& options, std::string& error)
{
    OutputOptions chosen = options;
    if (chosen.format == Format::Automatic) {
        chosen.format = platform::isTerminal(stdout) ? Format::Table : Format::JsonLines;
    }
    std::vector<std::unique_ptr<Publisher>> made;
    const bool complete = makePublishers(chosen, made, error);
    // Also those made before a failure: they are finished with the set.
    for (std::unique_ptr<Publisher>& publisher : made) {
        add(publisher.get());
        owned_.push_back(std::move(publisher));
    }
    return complete;
}

void Publishers::add(Publisher* publisher)
{
    all_.push_back(publisher);
    (publisher->calls() == Calls::Serialised ? serialised_ : concurrent_).push_back(publisher);
}

void Publishers::begin(const std::vector<DeviceInfo>& devices)
{
    std::lock_guard<std::mutex> lock(mutex_);
    for (Publisher* publisher : all_) {
        publisher->begin(devices);
    }
}

void Publishers::publish(const ReceivedRecord& record)
{
    deliver([&record](Publisher& publisher) { publisher.publish(record); });
}

void Publishers::status(const DeviceStatus& status)
{
    deliver([&status](Publisher& publisher) { publisher.status(status); });
}

void Publishers::refresh()
{
    std::lock_guard<std::mutex> lock(mutex_);
    for (Publisher* publisher : all_) {
        publisher->refresh();
    }
}

void Publishers::finish()
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (finished_) {
        return;
    }
    finished_ = true;
    for (auto publisher = all_.rbegin(); publisher != all_.rend(); ++publisher) {
        (*publisher)->finish();
    }
}

bool Publishers::broken() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    for (const Publisher* publisher : all_) {
        if (publisher->broken()) {
            return true;
        }
    }
    return false;
}

std::string Publishers::breakage() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    for (const Publisher* publisher : all_) {
        if (publisher->broken()) {
            return publisher->breakage();
        }
    }
    return {};
}

}  // namespace host
