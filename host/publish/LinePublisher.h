#pragma once
// Samples as lines of text on a stream: JSON lines or CSV (with its header
// first). Standard output when it is not a terminal, and the record file.
// On a stream that another program reads as it comes (a pipe, a socket, a
// terminal) each record's lines are written out at once; on a file they go
// into the stream's buffer and refresh writes them out.
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
    // when it finishes. name: the output in messages ("standard output").
    // form: the poses' units and orientation form.
    LinePublisher(std::FILE* stream, Format format, bool ownsStream, std::string name = "standard output",
                  PoseForm form = PoseForm());
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
    std::string breakage() const override;

    // The stream is a temporary file (of createFileBeside): finish puts it in
    // the place of destination when the devices ran (begin was called) and
    // every line was written, and removes it otherwise, so that a file of
    // that name is replaced only by a whole record.
    void replaceOnFinish(const std::string& temporary, const std::string& destination);

    // The format that a file name asks for: CSV for ".csv" in any case of
    // letters (.CSV), else JSON lines.
    static Format formatOf(const std::string& fileName);

private:
    // The lines so far to a live stream.
    void writeOut();

    std::FILE* stream_;
    Format format_;
    PoseForm form_;
    bool ownsStream_;
    bool live_;  // written out with each record
    bool predictedColumn_ = false;  // CSV: a device predicts
    bool broken_ = false;
    bool begun_ = false;
    int error_ = 0;  // the system's error code of the first failed write
    std::string name_;
    std::string temporary_;
    std::string destination_;
    std::vector<std::string> names_;
    char line_[kSampleTextSize];
};

}  // namespace host
