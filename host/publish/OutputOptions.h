#pragma once
// What a run's options ask of its outputs. Every publisher's maker
// (PublisherList.cpp) looks here for what it needs; an output with options of
// its own adds them here.
#include <optional>
#include <string>

namespace host {

// The one list of the samples' formats on standard output. Automatic: the
// table on a terminal, JSON lines elsewhere (decided before any maker runs).
enum class Format { Automatic, Table, JsonLines, Csv };

// How the samples' lines and OSC give a pose: the position's units (the
// module publishes feet) and the orientation's form (the module publishes
// Euler angles; see PoseForm.h for the conventions).
enum class Units { Feet, Inches, Meters };
enum class Rotation { Euler, Quaternion, Matrix };
struct PoseForm {
    Units units = Units::Feet;
    Rotation rotation = Rotation::Euler;
};

struct OutputOptions {
    Format format = Format::Automatic;
    PoseForm pose;           // --units, --rotation
    std::string record;      // file for the samples' lines besides standard output (.csv: CSV)
    std::optional<std::string> shm;      // the storages in shared memory of this name
    std::optional<std::string> shmMode;  // its permissions, octal (none: 0600)
    std::string osc;         // HOST:PORT that OSC bundles go to
    int oscHops = 0;         // hops of multicast OSC datagrams; 0: the system's default
    std::string http;        // [ADDRESS:]PORT where the view is served (HttpView.h)
    std::string viewFolder;  // the view's page and three.js
};

}  // namespace host
