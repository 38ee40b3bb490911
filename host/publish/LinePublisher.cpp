#include "LinePublisher.h"

#include <cerrno>
#include <cstring>
#include <memory>

#include "host/Say.h"
#include "platform/HostPlatform.h"

namespace host {

LinePublisher::LinePublisher(std::FILE* stream, Format format, bool ownsStream, std::string name, PoseForm form)
    : stream_(stream),
      format_(format),
      form_(form),
      ownsStream_(ownsStream),
      live_(platform::isLiveStream(stream)),
      name_(std::move(name))
{
}

void LinePublisher::replaceOnFinish(const std::string& temporary, const std::string& destination)
{
    temporary_ = temporary;
    destination_ = destination;
}

std::string LinePublisher::breakage() const
{
    return broken_ ? name_ + ": " + std::strerror(error_) : std::string();
}

LinePublisher::~LinePublisher()
{
    finish();
}

void LinePublisher::begin(const std::vector<DeviceInfo>& devices)
{
    names_.clear();
    predictedColumn_ = false;
    for (const DeviceInfo& device : devices) {
        names_.push_back(format_ == Format::Csv ? csvDeviceName(device.name) : jsonDeviceName(device.name));
        predictedColumn_ = predictedColumn_ || device.predictMicroseconds != 0;
    }
    if (format_ == Format::Csv && stream_ != nullptr) {
        std::fputs(csvHeader(form_.rotation, predictedColumn_).c_str(), stream_);
    }
    begun_ = true;
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
        const std::size_t length = format_ == Format::Csv
                                       ? csvLine(line_, sample, names_[sample.device], form_, predictedColumn_)
                                       : jsonLine(line_, sample, names_[sample.device], form_);
        if (std::fwrite(line_, 1, length, stream_) != length && error_ == 0) {
            error_ = errno;
        }
    }
    writeOut();
}

void LinePublisher::writeOut()
{
    // A failure shows in the stream's error flag, which refresh looks at.
    if (live_ && std::fflush(stream_) != 0 && error_ == 0) {
        error_ = errno;
    }
}

void LinePublisher::status(const DeviceStatus& status)
{
    if (stream_ == nullptr || status.device >= names_.size()) {
        return;
    }
    const std::size_t length = format_ == Format::Csv
                                   ? statusCsvLine(line_, status, names_[status.device], form_.rotation,
                                                   predictedColumn_)
                                   : statusJsonLine(line_, status, names_[status.device]);
    std::fwrite(line_, 1, length, stream_);
    writeOut();
}

void LinePublisher::refresh()
{
    if (stream_ != nullptr && (std::fflush(stream_) != 0 || std::ferror(stream_) != 0)) {
        if (error_ == 0) {
            error_ = errno != 0 ? errno : EIO;
        }
        broken_ = true;
    }
}

void LinePublisher::finish()
{
    if (stream_ == nullptr) {
        return;
    }
    const bool flushed = std::fflush(stream_) == 0 && std::ferror(stream_) == 0;
    if (!flushed && error_ == 0) {
        error_ = errno != 0 ? errno : EIO;
    }
    bool closed = true;
    if (ownsStream_) {
        closed = std::fclose(stream_) == 0;
        if (!closed && error_ == 0) {
            error_ = errno;
        }
    }
    stream_ = nullptr;
    broken_ = broken_ || !flushed || !closed;
    if (temporary_.empty()) {
        return;
    }
    std::string reason;
    if (!begun_) {
        // No device ran: whatever has the name stays.
        std::remove(temporary_.c_str());
    } else if (broken_) {
        std::remove(temporary_.c_str());
        say("the record " + destination_ + " is left as it was: " + breakage());
    } else if (!platform::replaceFile(temporary_, destination_, reason)) {
        std::remove(temporary_.c_str());
        say("the record cannot take the place of " + destination_ + ": " + reason);
        error_ = 0;
        broken_ = true;
    }
}

Format LinePublisher::formatOf(const std::string& fileName)
{
    // ".csv" in any case (R.CSV, r.Csv).
    const char suffix[] = ".csv";
    const std::size_t length = sizeof suffix - 1;
    if (fileName.size() < length) {
        return Format::JsonLines;
    }
    for (std::size_t i = 0; i < length; ++i) {
        const char c = fileName[fileName.size() - length + i];
        if ((c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c) != suffix[i]) {
            return Format::JsonLines;
        }
    }
    return Format::Csv;
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
    return std::make_unique<LinePublisher>(own ? data : stdout, options.format, own, "standard output", options.pose);
}

// --record FILE: the same lines in a file of their own, whatever shows on
// standard output.
std::unique_ptr<Publisher> makeRecordFile(const OutputOptions& options, std::string& error)
{
    if (options.record.empty()) {
        return nullptr;
    }
    const std::string name = "the record file \"" + options.record + "\"";
    const Format format = LinePublisher::formatOf(options.record);
    // A pipe or a device is written as it is.
    if (platform::isSpecialFile(options.record)) {
        std::FILE* file = std::fopen(options.record.c_str(), "wb");
        if (file == nullptr) {
            error = "cannot write \"" + options.record + "\": " + std::strerror(errno);
            return nullptr;
        }
        return std::make_unique<LinePublisher>(file, format, true, name, options.pose);
    }
    // A file: a new one beside it, which takes its place at the end.
    std::string temporary;
    std::string reason;
    std::FILE* file = platform::createFileBeside(options.record, temporary, reason);
    if (file == nullptr) {
        error = "cannot write \"" + options.record + "\": " + reason;
        return nullptr;
    }
    auto record = std::make_unique<LinePublisher>(file, format, true, name, options.pose);
    record->replaceOnFinish(temporary, options.record);
    return record;
}

}  // namespace host
