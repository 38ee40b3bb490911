// The maker of the OSC publisher in a build without an OSC library (liblo):
// the Windows program. The build chooses this file instead of
// OscPublisher.cpp.
#include <memory>
#include <string>

#include "OutputOptions.h"
#include "Publisher.h"

namespace host {

std::unique_ptr<Publisher> makeOscPublisher(const OutputOptions& options, std::string& error)
{
    if (!options.osc.empty()) {
        error = "--osc is not available in this build: it has no OSC library (liblo)";
    }
    return nullptr;
}

}  // namespace host
