#pragma once
// The outputs that a run's options ask for, behind one SinkSet: the live
// table on a terminal, or JSON lines / CSV on standard output, and the
// record file. `run` and `watch` open them alike.
#include <memory>
#include <string>

#include "HostRun.h"
#include "SinkSet.h"

namespace host {

class Outputs {
public:
    // False with the reason when a file cannot be written. With lines on
    // standard output, everything else that the process writes there (the
    // module's log) goes to standard error.
    bool open(const RunOptions& options, std::string& error);

    SinkSet& sinks() { return sinks_; }
    // The file that the samples are recorded in, empty when none.
    const std::string& recordPath() const { return recordPath_; }

private:
    std::unique_ptr<SampleSink> screen_;
    std::unique_ptr<SampleSink> record_;
    SinkSet sinks_;
    std::string recordPath_;
};

}  // namespace host
