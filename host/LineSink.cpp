#include "LineSink.h"

namespace host {

LineSink::LineSink(std::FILE* stream, Format format, bool ownsStream)
    : stream_(stream), format_(format), ownsStream_(ownsStream)
{
}

LineSink::~LineSink()
{
    finish();
}

void LineSink::begin(const std::vector<DeviceInfo>& devices)
{
    names_.clear();
    for (const DeviceInfo& device : devices) {
        names_.push_back(format_ == Format::Csv ? csvDeviceName(device.name) : jsonDeviceName(device.name));
    }
    if (format_ == Format::Csv && stream_ != nullptr) {
        std::fputs(csvHeader(), stream_);
    }
}

void LineSink::sample(const HostSample& sample)
{
    if (stream_ == nullptr || sample.device >= names_.size()) {
        return;
    }
    const std::size_t length = format_ == Format::Csv ? csvLine(line_, sample, names_[sample.device])
                                                      : jsonLine(line_, sample, names_[sample.device]);
    std::fwrite(line_, 1, length, stream_);
}

void LineSink::refresh()
{
    if (stream_ != nullptr && (std::fflush(stream_) != 0 || std::ferror(stream_) != 0)) {
        broken_ = true;
    }
}

void LineSink::finish()
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

LineSink::Format LineSink::formatOf(const std::string& fileName)
{
    const std::string suffix = ".csv";
    const bool csv = fileName.size() >= suffix.size() &&
                     fileName.compare(fileName.size() - suffix.size(), suffix.size(), suffix) == 0;
    return csv ? Format::Csv : Format::JsonLines;
}

}  // namespace host
