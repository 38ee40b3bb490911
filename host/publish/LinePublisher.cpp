#include "LinePublisher.h"

#include <memory>

#include "platform/HostPlatform.h"

namespace host {

LinePublisher::LinePublisher(std::FILE* stream, Format format, bool ownsStream)
    : stream_(stream), format_(format), ownsStream_(ownsStream)
{
}

LinePublisher::~LinePublisher()
{
    finish();
}

void LinePublisher::begin(const std::vector<DeviceInfo>& devices)
{
    names_.clear();
    for (const DeviceInfo& device : devices) {
        names_.push_back(format_ == Format::Csv ? csvDeviceName(device.name) : jsonDeviceName(device.name));
    }
    if (format_ == Format::Csv && stream_ != nullptr) {
        std::fputs(csvHeader(), stream_);
    }
}

void LinePublisher::publish(const ReceivedRecord& record)
{
    if (stream_ == nullptr) {
        return;
    }
    for (std::uint32_t i = 0; i < record.sampleCount; ++i) {
        const HostSample& sample = record.samples[i];
        if (sample.device >= names_.size()) {
            continue;
        }
        const std::size_t length = format_ == Format::Csv ? csvLine(line_, sample, names_[sample.device])
                                                          : jsonLine(line_, sample, names_[sample.device]);
        std::fwrite(line_, 1, length, stream_);
    }
}

void LinePublisher::status(const DeviceStatus& status)
{
    if (stream_ == nullptr || status.device >= names_.size()) {
        return;
    }
    const std::size_t length = format_ == Format::Csv ? statusCsvLine(line_, status, names_[status.device])
                                                      : statusJsonLine(line_, status, names_[status.device]);
    std::fwrite(line_, 1, length, stream_);
}

void LinePublisher::refresh()
{
    if (stream_ != nullptr && (std::fflush(stream_) != 0 || std::ferror(stream_) != 0)) {
        broken_ = true;
    }
}

void LinePublisher::finish()
{
    if (stream_ == nullptr) {
        return;
    }
    if (ownsStream_) {
        std::fclose(stream_);
    } else {
        std::fflush(stream_);
    }
    stream_ = nullptr;
}

Format LinePublisher::formatOf(const std::string& fileName)
{
    const std::string suffix = ".csv";
    const bool csv = fileName.size() >= suffix.size() &&
                     fileName.compare(fileName.size() - suffix.size(), suffix.size(), suffix) == 0;
    return csv ? Format::Csv : Format::JsonLines;
}

// --format jsonl or csv: the lines alone on standard output; everything else
// that the process writes there (the module's log) goes to standard error.
std::unique_ptr<Publisher> makeStandardOutputLines(const OutputOptions& options, std::string&)
{
    if (options.format != Format::JsonLines && options.format != Format::Csv) {
        return nullptr;
    }
    std::FILE* data = platform::takeStandardOutput();
    const bool own = data != nullptr;
    return std::make_unique<LinePublisher>(own ? data : stdout, options.format, own);
}

// --record FILE: the same lines in a file of their own, whatever shows on
// standard output.
std::unique_ptr<Publisher> makeRecordFile(const OutputOptions& options, std::string& error)
{
    if (options.record.empty()) {
        return nullptr;
    }
    std::FILE* file = std::fopen(options.record.c_str(), "wb");
    if (file == nullptr) {
        error = "cannot write \"" + options.record + "\"";
        return nullptr;
    }
    return std::make_unique<LinePublisher>(file, LinePublisher::formatOf(options.record), true);
}

}  // namespace host
