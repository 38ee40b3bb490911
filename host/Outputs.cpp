#include "Outputs.h"

#include <cstdio>

#include "LineSink.h"
#include "LiveTable.h"
#include "platform/HostPlatform.h"

namespace host {

bool Outputs::open(const RunOptions& options, std::string& error)
{
    using Format = RunOptions::Format;
    Format format = options.format;
    if (format == Format::Automatic) {
        format = platform::isTerminal(stdout) ? Format::Table : Format::JsonLines;
    }
    if (format == Format::Table) {
        platform::enableTerminalEscapes();
        screen_ = std::make_unique<LiveTable>(stdout);
    } else {
        // Our lines alone on standard output; the module's log goes to
        // standard error.
        std::FILE* data = platform::takeStandardOutput();
        const bool own = data != nullptr;
        screen_ = std::make_unique<LineSink>(own ? data : stdout,
                                             format == Format::Csv ? LineSink::Format::Csv : LineSink::Format::JsonLines,
                                             own);
    }
    recordPath_ = options.record;
    if (recordPath_.empty() && !options.plot.empty()) {
        recordPath_ = options.plot + ".jsonl";
    }
    if (!recordPath_.empty()) {
        std::FILE* file = std::fopen(recordPath_.c_str(), "wb");
        if (file == nullptr) {
            error = "cannot write \"" + recordPath_ + "\"";
            return false;
        }
        record_ = std::make_unique<LineSink>(file, LineSink::formatOf(recordPath_), true);
    }
    sinks_.add(screen_.get());
    if (record_) {
        sinks_.add(record_.get());
    }
    return true;
}

}  // namespace host
