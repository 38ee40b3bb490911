#pragma once
// Every publisher of a run, in the order of the list (PublisherList.cpp), and
// how the run calls them: the concurrent ones straight from the device
// threads, then the serialised ones one at a time behind one lock. Itself a
// publisher that any thread may call.
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "OutputOptions.h"
#include "Publisher.h"

namespace host {

class Publishers : public Publisher {
public:
    Publishers() = default;
    // Finishes every publisher that was not finished.
    ~Publishers() override;
    Publishers(const Publishers&) = delete;
    Publishers& operator=(const Publishers&) = delete;

    // Makes every publisher that the options ask for. False with the reason
    // when one cannot be made (a file that cannot be written, an address that
    // cannot be reached): then the run does not start.
    bool open(const OutputOptions& options, std::string& error);
    // Adds a publisher of the caller's, which must outlive the set.
    void add(Publisher* publisher);

    Calls calls() const override { return Calls::Concurrent; }
    void begin(const std::vector<DeviceInfo>& devices) override;
    void publish(const ReceivedRecord& record) override;
    void status(const DeviceStatus& status) override;
    void refresh() override;
    // In the reverse order of the list; once.
    void finish() override;
    bool broken() const override;
    // The first broken publisher's.
    std::string breakage() const override;

private:
    // The concurrent publishers first (they never wait, so a consumer of the
    // shared storages or OSC never waits for the lines' lock or their
    // writes), then the serialised ones behind the lock.
    template <typename Call>
    void deliver(Call call)
    {
        for (Publisher* publisher : concurrent_) {
            call(*publisher);
        }
        if (!serialised_.empty()) {
            std::lock_guard<std::mutex> lock(mutex_);
            for (Publisher* publisher : serialised_) {
                call(*publisher);
            }
        }
    }

    mutable std::mutex mutex_;  // the serialised publishers' lock
    std::vector<std::unique_ptr<Publisher>> owned_;
    std::vector<Publisher*> all_;  // in the order of the list
    std::vector<Publisher*> serialised_;
    std::vector<Publisher*> concurrent_;
    bool finished_ = false;
};

}  // namespace host
