#pragma once
// The host's configuration file: device blocks, each a device line
//     device NAME LIBRARY [ARGUMENT...]
// followed by that device's option lines (KEYWORD [ARGUMENT...]). Words are
// separated by blanks or tabs; a word in double quotes may hold blanks and
// '#'; '#' outside quotes starts a comment that runs to the end of the line.
// A relative LIBRARY is taken from the configuration file's folder. Every
// device gets the ConfigBlock that the module reads, with the file's line
// numbers; what would break the module's invariants is refused here with the
// file name and line number.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "OptionBlock.h"

namespace host {

struct DeviceConfig {
    std::string name;
    std::string library;        // as written in the file
    std::string libraryPath;    // resolved against the file's folder
    std::uint32_t line = 0;     // of the device line
    std::unique_ptr<OptionBlock> options;
    // The host's own option line `predict MILLISECONDS` (taken out of the
    // block: the module never sees it): how far ahead the device's tracker
    // poses are published; 0: as measured.
    double predict = 0.0;
};

// The longest horizon of prediction, milliseconds (predict, --predict).
constexpr double kLongestPrediction = 100.0;

// A horizon of prediction as the configuration file and the command line
// give it: a number of milliseconds from 0 to kLongestPrediction. False when
// the text is none.
bool readPrediction(const std::string& text, double& milliseconds);

class ConfigFile {
public:
    // Reads the file. False when anything is wrong; errors() then holds one
    // line per problem, each "FILE:LINE: text" (or "FILE: text").
    bool read(const std::string& path);
    // The same for text that stands for a file of the given name.
    bool parse(const std::string& text, const std::string& fileName);

    std::vector<DeviceConfig>& devices() { return devices_; }
    const std::vector<std::string>& errors() const { return errors_; }
    const std::string& fileName() const { return fileName_; }
    // "FILE:LINE: text", the form of every complaint about a line.
    std::string where(std::uint32_t line, const std::string& text) const;

private:
    void parseLine(std::uint32_t number, const std::string& row);
    // A line of the host's own for the last device; false for a line of the
    // module's.
    bool takeHostLine(std::uint32_t number, const std::vector<std::string>& words);

    std::string fileName_;
    std::string folder_;
    std::vector<DeviceConfig> devices_;
    std::vector<std::string> errors_;
    bool deviceTooLong_ = false;
};

}  // namespace host
