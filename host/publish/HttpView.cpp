#include "HttpView.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include <httplib.h>

#include "HostPort.h"
#include "OutputOptions.h"
#include "SampleText.h"
#include "host/Say.h"
#include "platform/ListeningSocket.h"

namespace host {

namespace {

using Clock = std::chrono::steady_clock;

// A page's frame: the stream sends at most this often.
constexpr auto kFrame = std::chrono::microseconds(16667);
// A comment line when nothing else went out for so long: a closed page is
// found at the write.
constexpr auto kKeepAlive = std::chrono::seconds(1);
// The page's files are small; three.js is the largest (about 600 kB).
constexpr std::uintmax_t kLargestFile = 8u << 20;

struct PageFile {
    const char* path;  // as requested
    const char* name;  // in the view's folder
    const char* type;
};

const PageFile kFiles[] = {
    {"/", "index.html", "text/html; charset=utf-8"},
    {"/view.js", "view.js", "text/javascript; charset=utf-8"},
    {"/three.min.js", "three.min.js", "text/javascript; charset=utf-8"},
    {"/OrbitControls.js", "OrbitControls.js", "text/javascript; charset=utf-8"},
};
constexpr std::size_t kFileCount = sizeof kFiles / sizeof kFiles[0];

std::uint64_t microsecondsSince1970()
{
    return static_cast<std::uint64_t>(
        std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::system_clock::now().time_since_epoch())
            .count());
}

bool readFile(const std::string& path, std::string& content)
{
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        return false;
    }
    std::ostringstream text;
    text << file.rdbuf();
    content = text.str();
    return file.good() || file.eof();
}

void appendNumber(std::string& text, long long value)
{
    char number[24];
    std::snprintf(number, sizeof number, "%lld", value);
    text += number;
}

// What goes before a number (a field's name, a separator), then the number.
void appendNumber(std::string& text, const char* before, long long value)
{
    text += before;
    appendNumber(text, value);
}

}  // namespace

struct HttpView::Server {
    httplib::Server http;
    std::thread thread;
    std::string files[kFileCount];
};

HttpView::HttpView() = default;

HttpView::~HttpView()
{
    finish();
}

bool HttpView::start(const std::string& address, unsigned port, const std::string& folder, std::string& error)
{
    auto server = std::make_unique<Server>();
    for (std::size_t i = 0; i < kFileCount; ++i) {
        const std::string path = folder + "/" + kFiles[i].name;
        std::error_code failure;
        const std::uintmax_t size = std::filesystem::file_size(path, failure);
        if (failure || size > kLargestFile || !readFile(path, server->files[i])) {
            error = "the view's page is not where it belongs: cannot read " + path +
                    " (the page and three.js are installed with the program)";
            return false;
        }
    }
    httplib::Server& http = server->http;
    // A port in use is refused, not shared; the page loads in a few
    // requests, and the connections it leaves idle close after a second.
    http.set_socket_options(
        [](auto socket) { platform::setListeningSocketOptions(static_cast<std::uintptr_t>(socket)); });
    http.set_tcp_nodelay(true);
    http.set_keep_alive_timeout(1);
    http.set_read_timeout(5, 0);
    http.set_write_timeout(2, 0);
    http.set_payload_max_length(4096);
    http.new_task_queue = [] { return new httplib::ThreadPool(kMaxPages + 4); };
    for (std::size_t i = 0; i < kFileCount; ++i) {
        const std::string& content = server->files[i];
        const char* type = kFiles[i].type;
        http.Get(kFiles[i].path, [&content, type](const httplib::Request&, httplib::Response& response) {
            response.set_header("Cache-Control", "no-cache");
            response.set_header("X-Content-Type-Options", "nosniff");
            response.set_content(content, type);
        });
    }
    http.Get("/samples", [this](const httplib::Request&, httplib::Response& response) {
        if (pages_.fetch_add(1) >= kMaxPages) {
            --pages_;
            response.status = 503;
            response.set_content("too many pages follow this host: close one\n", "text/plain");
            return;
        }
        response.set_header("Cache-Control", "no-store");
        auto page = std::make_shared<Page>();
        page->lastWrite = Clock::now();
        response.set_chunked_content_provider(
            "text/event-stream",
            [this, page](std::size_t, httplib::DataSink& sink) {
                return step(*page) && (page->text.empty() || sink.write(page->text.data(), page->text.size()));
            },
            [this](bool) { --pages_; });
    });

    const int bound = port == 0 ? http.bind_to_any_port(address)
                                : (http.bind_to_port(address, static_cast<int>(port)) ? static_cast<int>(port) : -1);
    const std::string named = (address.find(':') != std::string::npos ? "[" + address + "]" : address) + ":";
    if (bound <= 0) {
        error = "cannot serve the view at " + named + std::to_string(port) +
                ": the port is taken, or the address is not one of this machine's";
        return false;
    }
    url_ = "http://" + named + std::to_string(bound) + "/";
    server->thread = std::thread([server = server.get()] { server->http.listen_after_bind(); });
    // Until it listens: a stop before that would not reach it.
    for (int i = 0; i < 2000 && !http.is_running(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    server_ = std::move(server);
    return true;
}

void HttpView::begin(const std::vector<DeviceInfo>& devices)
{
    devices_ = devices;
    health_.reset(new Health[devices.size()]);
    recordsBefore_.assign(devices.size(), 0);
    for (std::size_t d = 0; d < devices.size(); ++d) {
        if (devices[d].records != nullptr) {
            recordsBefore_[d] = devices[d].records->load(std::memory_order_relaxed);
        }
    }
    rateTime_ = Clock::now();
    begun_.store(true, std::memory_order_release);
}

void HttpView::publish(const ReceivedRecord& record)
{
    // A record is one unit's: its controller sample is the tracker's mouse.
    std::uint32_t unitTracker = 0;
    for (std::uint32_t i = 0; i < record.sampleCount; ++i) {
        if (record.samples[i].tracker) {
            unitTracker = unitTracker == 0 ? record.samples[i].id : ~0u;
        }
    }
    unitTracker = unitTracker == ~0u ? 0 : unitTracker;
    const std::uint64_t now = microsecondsSince1970();
    for (std::uint32_t i = 0; i < record.sampleCount; ++i) {
        const HostSample& sample = record.samples[i];
        latest_.put(sample, sample.tracker ? 0 : unitTracker, now);
    }
}

void HttpView::status(const DeviceStatus& status)
{
    if (!begun_.load(std::memory_order_acquire) || status.device >= devices_.size()) {
        return;
    }
    Health& health = health_[status.device];
    health.state.store(static_cast<std::uint32_t>(status.state), std::memory_order_relaxed);
    health.attempt.store(status.attempt, std::memory_order_relaxed);
    health.since.store(status.sinceSeconds, std::memory_order_relaxed);
    healthChanges_.fetch_add(1, std::memory_order_release);
}

void HttpView::refresh()
{
    if (!begun_.load(std::memory_order_acquire)) {
        return;
    }
    const Clock::time_point now = Clock::now();
    const double seconds = std::chrono::duration<double>(now - rateTime_).count();
    if (seconds < 1.0) {
        return;
    }
    for (std::size_t d = 0; d < devices_.size(); ++d) {
        if (devices_[d].records != nullptr) {
            const std::uint32_t records = devices_[d].records->load(std::memory_order_relaxed);
            health_[d].recordsTenths.store(
                static_cast<std::uint32_t>(static_cast<double>(records - recordsBefore_[d]) * 10.0 / seconds + 0.5),
                std::memory_order_relaxed);
            recordsBefore_[d] = records;
        }
    }
    rateTime_ = now;
    healthChanges_.fetch_add(1, std::memory_order_release);
}

void HttpView::finish()
{
    if (!server_) {
        return;
    }
    {
        std::lock_guard<std::mutex> lock(waiting_);
        ending_ = true;
    }
    wake_.notify_all();
    server_->http.stop();
    if (server_->thread.joinable()) {
        server_->thread.join();
    }
    server_.reset();
}

bool HttpView::step(Page& page)
{
    {
        std::unique_lock<std::mutex> lock(waiting_);
        wake_.wait_for(lock, kFrame, [this] { return ending_.load(); });
    }
    if (ending_) {
        return false;
    }
    page.text.clear();
    if (begun_.load(std::memory_order_acquire)) {
        if (!page.devicesSent) {
            // A page that lost its stream asks again after a second.
            page.text += "retry: 1000\n\n";
            appendDevices(page.text);
            page.devicesSent = true;
        }
        const std::uint32_t health = healthChanges_.load(std::memory_order_acquire);
        if (health != page.healthSeen) {
            appendHealth(page.text);
            page.healthSeen = health;
        }
        const std::uint32_t changes = latest_.changes();
        if (changes != page.changesSeen && appendSamples(page, page.text)) {
            page.changesSeen = changes;
        }
    }
    const Clock::time_point now = Clock::now();
    if (page.text.empty() && now - page.lastWrite >= kKeepAlive) {
        page.text = ":\n\n";
    }
    if (!page.text.empty()) {
        page.lastWrite = now;
    }
    return true;
}

// event: devices
// data: {"devices":[{"name":"demo","hemisphere":"+z","firstTracker":1,"trackerCount":2,
//        "firstController":1,"controllerCount":1},...]}
void HttpView::appendDevices(std::string& text) const
{
    text += "event: devices\ndata: {\"devices\":[";
    for (std::size_t d = 0; d < devices_.size(); ++d) {
        const DeviceInfo& device = devices_[d];
        text += d == 0 ? "{\"name\":" : ",{\"name\":";
        text += jsonDeviceName(device.name);
        text += ",\"hemisphere\":";
        text += jsonDeviceName(device.hemisphere.empty() ? "+z" : device.hemisphere);
        appendNumber(text, ",\"firstTracker\":", device.firstTracker);
        appendNumber(text, ",\"trackerCount\":", device.trackerCount);
        appendNumber(text, ",\"firstController\":", device.firstController);
        appendNumber(text, ",\"controllerCount\":", device.controllerCount);
        text += "}";
    }
    text += "]}\n\n";
}

// event: health
// data: {"devices":[{"state":"ok","attempt":0,"since":1796714049,"records":200.0},...]}
void HttpView::appendHealth(std::string& text) const
{
    text += "event: health\ndata: {\"devices\":[";
    for (std::size_t d = 0; d < devices_.size(); ++d) {
        const Health& health = health_[d];
        text += d == 0 ? "{\"state\":\"" : ",{\"state\":\"";
        text += stateName(static_cast<DeviceStatus::State>(health.state.load(std::memory_order_relaxed)));
        appendNumber(text, "\",\"attempt\":", health.attempt.load(std::memory_order_relaxed));
        appendNumber(text, ",\"since\":", health.since.load(std::memory_order_relaxed));
        const std::uint32_t tenths = health.recordsTenths.load(std::memory_order_relaxed);
        appendNumber(text, ",\"records\":", tenths / 10);
        appendNumber(text, ".", tenths % 10);
        text += "}";
    }
    text += "]}\n\n";
}

// event: samples
// data: {"sent":T,"trackers":[{"id":1,"device":0,"time":[S,US],"pose":[X,Y,Z,A,E,R],"published":P},...],
//        "controllers":[{"id":1,"device":0,"time":[S,US],"buttons":[0,1,0],"tracker":1,"published":P},...]}
// The pose as the module published it (feet and degrees x 100000), the
// time stamp as seconds and microseconds, `published` and `sent` (when the
// host published the sample and made the event) in microseconds since 1970.
bool HttpView::appendSamples(Page& page, std::string& text) const
{
    bool whole = true;
    bool any = false;
    for (int kind = 0; kind < 2; ++kind) {
        const bool tracker = kind == 0;
        bool first = true;
        for (std::uint32_t id = 1; id <= LatestSamples::kEntries; ++id) {
            LatestSamples::Entry entry;
            if (!latest_.get(tracker, id, entry)) {
                whole = whole && entry.writes == 0;  // never written, or written at every look
                continue;
            }
            std::uint32_t& sent = page.sentWrites[kind][id - 1];
            if (entry.writes == sent) {
                continue;
            }
            sent = entry.writes;
            if (!any) {
                appendNumber(text, "event: samples\ndata: {\"sent\":", static_cast<long long>(microsecondsSince1970()));
                any = true;
            }
            if (first) {
                text += tracker ? ",\"trackers\":[" : ",\"controllers\":[";
                first = false;
            } else {
                text += ",";
            }
            const HostSample& sample = entry.sample;
            appendNumber(text, "{\"id\":", id);
            appendNumber(text, ",\"device\":", sample.device);
            appendNumber(text, ",\"time\":[", sample.seconds);
            appendNumber(text, ",", sample.microseconds);
            if (tracker) {
                text += "],\"pose\":[";
                for (int k = 0; k < 6; ++k) {
                    appendNumber(text, k > 0 ? "," : "", sample.pose[k]);
                }
                text += "]";
            } else {
                text += "],\"buttons\":[";
                for (std::uint32_t n = 0; n < sample.buttonCount; ++n) {
                    appendNumber(text, n > 0 ? "," : "", sample.pressed(n) ? 1 : 0);
                }
                appendNumber(text, "],\"tracker\":", entry.unitTracker);
            }
            appendNumber(text, ",\"published\":", static_cast<long long>(entry.published));
            text += "}";
        }
        if (!first) {
            text += "]";
        }
    }
    if (any) {
        text += "}\n\n";
    }
    return whole;
}

// --http [ADDRESS:]PORT.
std::unique_ptr<Publisher> makeHttpView(const OutputOptions& options, std::string& error)
{
    if (options.http.empty()) {
        return nullptr;
    }
    HostPort place;
    if (readHostPort(options.http, true, place) != HostPortRead::Ok) {
        error = "--http \"" + options.http +
                "\": give [ADDRESS:]PORT, such as 8080, 0 (a free port) or 0.0.0.0:8080 (every address of this "
                "machine)";
        return nullptr;
    }
    auto view = std::make_unique<HttpView>();
    if (!view->start(place.host.empty() ? "127.0.0.1" : place.host, place.number, options.viewFolder, error)) {
        return nullptr;
    }
    say("the view at " + view->url());
    return view;
}

}  // namespace host
