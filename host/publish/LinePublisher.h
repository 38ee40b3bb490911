#pragma once
// Samples as lines of text on a stream: JSON lines or CSV (with its header
// first). Standard output when it is not a terminal, and the record file.
// Lines go into the stream's buffer; refresh writes them out, so a reader at
// the other end of a pipe sees them within a refresh period.
#include <cstdio>
#include <string>
#include <vector>

#include "OutputOptions.h"
#include "Publisher.h"
#include "SampleText.h"

namespace host {

class LinePublisher : public Publisher {
public:
    // format: JsonLines or Csv. ownsStream: the publisher closes the stream
    // when it finishes.
    LinePublisher(std::FILE* stream, Format format, bool ownsStream);
    ~LinePublisher() override;
    LinePublisher(const LinePublisher&) = delete;
    LinePublisher& operator=(const LinePublisher&) = delete;

    void begin(const std::vector<DeviceInfo>& devices) override;
    void publish(const ReceivedRecord& record) override;
    // A status line (SampleText.h).
    void status(const DeviceStatus& status) override;
    void refresh() override;
    void finish() override;
    bool broken() const override { return broken_; }

    // The format that a file name asks for: CSV for ".csv", else JSON lines.
    static Format formatOf(const std::string& fileName);

private:
    std::FILE* stream_;
    Format format_;
    bool ownsStream_;
    bool broken_ = false;
    std::vector<std::string> names_;
    char line_[kSampleTextSize];
};

}  // namespace host
