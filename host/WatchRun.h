#pragma once
// `vantrel-host watch NAME`: follows the samples of another host's shared
// storages (run --shm NAME) and shows them as run does, with the same
// outputs: the live table, JSON lines or CSV, and a record file. Ends when
// that host ends, when its process is gone, after --duration, or on a stop
// request.
#include <string>

#include "HostRun.h"

namespace host {

int watchStorages(const std::string& name, const RunOptions& options);

}  // namespace host
