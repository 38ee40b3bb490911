#pragma once
// Host side of the test kit: the host program's storages (a real OS mutex as
// a host creates it, and a tracker or controller list guarded by it), with the
// plain logger settings of the tests.
#include "host/HostStorage.h"
#include "common/CLogH.h"

namespace kit {

using HostMutex = host::HostMutex;

// The settings that tests use for every host logger: no date, time or
// thread id, so that whole lines can be compared.
LogSettings plainLogSettings(const char* moduleName);

class HostStorage : public host::HostStorage {
public:
    explicit HostStorage(Kind kind) : host::HostStorage(kind, plainLogSettings("Host")) {}
};

}  // namespace kit
