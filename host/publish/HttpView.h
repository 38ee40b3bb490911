#pragma once
// The flock's live view in a browser (--http [ADDRESS:]PORT): the host serves
// one page (host/view/, with three.js, from the files installed beside the
// program) and a stream of Server-Sent Events to each page open on it: the
// devices once, then at most 60 times a second the samples that changed
// since the page's last event, and each device's state and records per
// second when they change.
//
// The devices' threads only put each sample into a table of the latest ones
// (LatestSamples: no lock, no wait, no allocation); each page's stream is a
// thread of the server that looks at the table once a frame. A page that
// cannot keep up (its connection's buffers are full) gets the latest sample
// of each entry when it reads again, never a queue; a closed page ends its
// stream at its next write (a comment line goes out every second when
// nothing else does).
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "LatestSamples.h"
#include "Publisher.h"

namespace host {

class HttpView : public Publisher {
public:
    // Pages that may follow the stream at once; one more is refused (503).
    static constexpr int kMaxPages = 8;

    HttpView();
    ~HttpView() override;
    HttpView(const HttpView&) = delete;
    HttpView& operator=(const HttpView&) = delete;

    // Serves the page's files from `folder` and the stream at address:port
    // (port 0: a free port that the system chooses). False with the reason.
    bool start(const std::string& address, unsigned port, const std::string& folder, std::string& error);
    // The page's address, as a browser opens it (http://127.0.0.1:8080/).
    const std::string& url() const { return url_; }

    Calls calls() const override { return Calls::Concurrent; }
    void begin(const std::vector<DeviceInfo>& devices) override;
    void publish(const ReceivedRecord& record) override;
    void status(const DeviceStatus& status) override;
    // Each device's records per second, once a second.
    void refresh() override;
    // Ends every page's stream and the server.
    void finish() override;

    // What one page's stream has sent so far.
    struct Page {
        std::uint32_t sentWrites[2][LatestSamples::kEntries] = {};  // [tracker, controller][id - 1]
        std::uint32_t changesSeen = 0;
        std::uint32_t healthSeen = 0;
        bool devicesSent = false;
        std::chrono::steady_clock::time_point lastWrite;
        std::string text;  // the events of one step
    };
    // One step of a page's stream, on its server thread: waits a frame, then
    // puts into page.text the events that are due (nothing when nothing is).
    // False when the view is ending.
    bool step(Page& page);

private:
    struct Server;
    // A device's state and rate as the pages see them.
    struct Health {
        std::atomic<std::uint32_t> state{0};       // DeviceStatus::State
        std::atomic<std::uint32_t> attempt{0};
        std::atomic<std::uint32_t> since{0};       // seconds since 1970
        std::atomic<std::uint32_t> recordsTenths{0};  // records per second x 10
    };

    void appendDevices(std::string& text) const;
    void appendHealth(std::string& text) const;
    // The entries written since the page's last look; false when one could
    // not be read whole (it is looked at again at the next step).
    bool appendSamples(Page& page, std::string& text) const;

    LatestSamples latest_;
    // Set by begin, before begun_; read by the pages after it.
    std::vector<DeviceInfo> devices_;
    std::unique_ptr<Health[]> health_;
    std::atomic<bool> begun_{false};
    std::atomic<std::uint32_t> healthChanges_{1};
    // refresh's own.
    std::vector<std::uint32_t> recordsBefore_;
    std::chrono::steady_clock::time_point rateTime_;

    // The pages' threads wait on this between their steps; finish wakes them.
    std::mutex waiting_;
    std::condition_variable wake_;
    std::atomic<bool> ending_{false};
    std::atomic<int> pages_{0};
    std::unique_ptr<Server> server_;
    std::string url_;
};

}  // namespace host
