#include "ConfigCheck.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <iostream>
#include <set>

#include "HostStorage.h"
#include "ModuleKeyword.h"
#include "ModuleLibrary.h"
#include "OptionBlock.h"
#include "platform/HostPlatform.h"
#include "vantrel/CBase.h"

namespace host {

namespace {

// The module's log as the check asks for it: "check: ERROR: text", nothing
// before the name.
constexpr char kLogName[] = "check";
constexpr char kErrorHeader[] = "check: ERROR: ";

LogSettings checkLogSettings()
{
    LogSettings settings = defaultLogSettings(kLogName);
    settings.showDate = 0;
    settings.showTime = 0;
    settings.showThreadId = 0;
    return settings;
}

// One ERROR line of the module's log, and the line of the file that it names
// ("... at line 12."; 0 when it names none).
struct ModuleMessage {
    std::string text;
    std::uint32_t line = 0;
};

std::vector<ModuleMessage> errorsOf(const std::string& log)
{
    std::vector<ModuleMessage> messages;
    std::size_t begin = 0;
    while (begin < log.size()) {
        std::size_t end = log.find('\n', begin);
        end = end == std::string::npos ? log.size() : end;
        std::string row = log.substr(begin, end - begin);
        begin = end + 1;
        if (row.compare(0, sizeof kErrorHeader - 1, kErrorHeader) != 0) {
            continue;
        }
        ModuleMessage message;
        message.text = row.substr(sizeof kErrorHeader - 1);
        while (!message.text.empty() && (message.text.back() == '\r' || message.text.back() == ' ')) {
            message.text.pop_back();
        }
        const std::size_t at = message.text.rfind("at line ");
        if (at != std::string::npos) {
            std::uint32_t line = 0;
            std::size_t digit = at + 8;
            for (; digit < message.text.size() && message.text[digit] >= '0' && message.text[digit] <= '9'; ++digit) {
                line = line * 10 + static_cast<std::uint32_t>(message.text[digit] - '0');
            }
            message.line = digit > at + 8 ? line : 0;
        }
        messages.push_back(message);
    }
    return messages;
}

// The device's block without the lines left out.
void copyBlock(const ConfigBlock& from, const std::set<std::uint32_t>& leftOut, OptionBlock& to)
{
    std::vector<std::string> args;
    for (std::uint32_t i = 0; i < from.argCount && i < kMaxOptionArgs; ++i) {
        args.emplace_back(from.args[i] != nullptr ? from.args[i] : "");
    }
    to.setDeviceLine(from.lineNumber, from.deviceName != nullptr ? from.deviceName : "", args);
    for (std::uint32_t l = 0; l < from.lineCount && l < kMaxOptionLines; ++l) {
        const OptionLine& line = from.lines[l];
        if (leftOut.count(line.lineNumber) != 0) {
            continue;
        }
        args.clear();
        for (std::uint32_t i = 0; i < line.argCount && i < kMaxOptionArgs; ++i) {
            args.emplace_back(line.args[i] != nullptr ? line.args[i] : "");
        }
        to.addOptionLine(line.lineNumber, line.keyword != nullptr ? line.keyword : "", args);
    }
}

const OptionLine* lineNumbered(const ConfigBlock& block, std::uint32_t number)
{
    for (std::uint32_t l = 0; l < block.lineCount && l < kMaxOptionLines; ++l) {
        if (block.lines[l].lineNumber == number) {
            return &block.lines[l];
        }
    }
    return nullptr;
}

bool startsWith(const std::string& text, const char* start)
{
    return text.compare(0, std::strlen(start), start) == 0;
}

// A message of the module and what the check adds, as two sentences.
std::string withHint(const std::string& text, const std::string& hint)
{
    if (hint.empty()) {
        return text;
    }
    return text + (!text.empty() && text.back() == '.' ? " " : ". ") + hint;
}

// What a line of the keyword wants, as the hint to a refused line.
std::string expected(const ModuleKeyword& entry)
{
    if (entry.refused) {
        // "refused: the order ... is fixed" as "The order ... is fixed: remove the line."
        std::string reason = entry.meaning;
        const std::string prefix = "refused: ";
        if (reason.compare(0, prefix.size(), prefix) == 0) {
            reason.erase(0, prefix.size());
        }
        if (!reason.empty()) {
            reason[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(reason[0])));
        }
        return reason + ": remove the line.";
    }
    return "Expected: " + std::string(entry.names[0]) + " " + plainArguments(entry) + ".";
}

std::string sayList(const std::vector<std::string>& words)
{
    std::string list;
    for (std::size_t i = 0; i < words.size(); ++i) {
        list += (i == 0 ? "" : i + 1 == words.size() ? " or " : ", ") + words[i];
    }
    return list;
}

}  // namespace

void ConfigCheck::add(std::uint32_t line, const std::string& text)
{
    for (const Problem& problem : problems_) {
        if (problem.line == line && problem.text == text) {
            return;
        }
    }
    problems_.push_back({line, text});
}

int ConfigCheck::run(const std::string& path, std::ostream& out)
{
    problems_.clear();
    trackersBefore_ = 0;
    controllersBefore_ = 0;
    config_.read(path);
    // The host's own findings first, in the order of the file.
    for (const std::string& error : config_.errors()) {
        out << error << '\n';
    }
    // Also the devices of a file with problems of its own (none when it
    // could not be read).
    for (DeviceConfig& device : config_.devices()) {
        checkDevice(device);
    }
    std::stable_sort(problems_.begin(), problems_.end(),
                     [](const Problem& a, const Problem& b) { return a.line < b.line; });
    for (const Problem& problem : problems_) {
        out << config_.where(problem.line, problem.text) << '\n';
    }
    const std::size_t count = problems_.size() + config_.errors().size();
    if (count == 0) {
        const std::size_t devices = config_.devices().size();
        out << path << ": the file would run: " << devices << (devices == 1 ? " device" : " devices")
            << ", each library loaded, each device's options taken and its port opened and closed\n";
        return 0;
    }
    out << path << ": " << count << (count == 1 ? " problem" : " problems") << "; the file would not run\n";
    return 1;
}

void ConfigCheck::checkDevice(DeviceConfig& device)
{
    if (device.library.empty() || !device.options) {
        return;  // a device line without a library: the file's own problem
    }
    ModuleLibrary library(device.libraryPath);
    const std::string problem = library.problem();
    if (!problem.empty()) {
        add(device.line, problem);
        return;
    }
    const CreateDevFunction createDev = library.createDev();
    const DeleteDevFunction deleteDev = library.deleteDev();

    const ConfigBlock& original = *device.options->block();
    const auto keywordOf = [&original](std::uint32_t number) {
        const OptionLine* line = lineNumbered(original, number);
        return line != nullptr && line->keyword != nullptr ? std::string(line->keyword) : std::string();
    };
    std::set<std::uint32_t> leftOut;
    std::uint32_t refusedMouseLine = 0;
    // Each round leaves out at least one more of at most 32 lines.
    for (std::uint32_t round = 0; round <= kMaxOptionLines + 1; ++round) {
        OptionBlock block;
        copyBlock(original, leftOut, block);
        LogSettings log = checkLogSettings();
        HostStorage trackers(HostStorage::Kind::Tracker, log);
        HostStorage controllers(HostStorage::Kind::Controller, log);
        // Where the devices before it left the storages.
        *trackers.storage()->countPtr = trackersBefore_;
        *controllers.storage()->countPtr = controllersBefore_;
        std::int32_t runFlag = 1;
        InitInfo info{};
        info.trackerStorage = trackers.storage();
        info.controllerStorage = controllers.storage();
        info.runFlag = &runFlag;

        platform::OutputCapture capture;
        std::string why;
        std::cout.flush();
        if (!platform::beginCapture(capture, why)) {
            add(device.line, "cannot set the module's messages aside: " + why);
            return;
        }
        CBase* object = createDev(block.block(), &log);
        const std::int32_t result = object != nullptr ? object->init(&info) : -1;
        if (object != nullptr) {
            deleteDev(object);
        }
        std::cout.flush();
        const std::string said = platform::endCapture(capture);
        if (object == nullptr) {
            add(device.line, "createDev gave no device");
            return;
        }
        if (result == 1) {
            trackersBefore_ = *trackers.storage()->countPtr;
            controllersBefore_ = *controllers.storage()->countPtr;
            return;
        }

        const std::vector<ModuleMessage> messages = errorsOf(said);
        std::set<std::uint32_t> named;
        // Of the messages without a line, the first for each line: those
        // after it follow from it (a library that did not load has no entry
        // points either).
        std::set<std::uint32_t> placed;
        bool deviceLine = false;
        for (const ModuleMessage& message : messages) {
            if (message.line == original.lineNumber) {
                add(message.line, withHint(message.text, "The device line takes the number of tracker units, 1 to "
                                                         "32: device NAME LIBRARY [UNITS]."));
                deviceLine = true;
                continue;
            }
            if (message.line != 0) {
                named.insert(message.line);
                const std::string keyword = keywordOf(message.line);
                const ModuleKeyword* entry = findModuleKeyword(keyword);
                std::string hint;
                if (message.text.find("Unknown option") == std::string::npos) {
                    hint = entry != nullptr ? expected(*entry) : std::string();
                    if (entry != nullptr && std::strcmp(entry->names[0], "mouse") == 0) {
                        refusedMouseLine = message.line;
                    }
                } else if (entry == nullptr) {
                    const std::vector<std::string> nearest = nearestModuleKeywords(keyword);
                    hint = nearest.empty() ? "The module knows no such keyword (README: the table of keywords)."
                                           : "Did you mean " + sayList(nearest) + "?";
                } else if (entry->refused) {
                    hint = expected(*entry);
                } else if (std::strcmp(entry->layer, "controller") == 0) {
                    hint = refusedMouseLine != 0 ? "Not checked: the mouse line " + std::to_string(refusedMouseLine) +
                                                       " is refused, and a controller option needs a mouse."
                                                 : "A controller option: the device needs a mouse line for it.";
                }
                add(message.line, withHint(message.text, hint));
                continue;
            }
            // Messages that name no line: the line they come from.
            const OptionLine* line = nullptr;
            std::string hint;
            if (startsWith(message.text, "CRS232H: Could not set the baud rate")) {
                line = lastOptionLine(original, "baud", leftOut);
                hint = expected(*findModuleKeyword("baud"));
            } else if (startsWith(message.text, "CRS232H:")) {
                line = lastOptionLine(original, "port", leftOut);
                hint = line != nullptr ? "Give the flock's serial port (such as /dev/ttyS0 or /dev/ttyUSB0; on "
                                         "Windows COM3)."
                                       : "Without a port line the module opens com1: add a line port NAME.";
            } else if (startsWith(message.text, "CDynamicLibH:") || startsWith(message.text, "CCalibH:")) {
                line = lastOptionLine(original, "calibration", leftOut);
                hint = "Give the calibration library's path.";
            } else if (startsWith(message.text, "CDataStorage:")) {
                hint = "The devices of the file take more than 32 trackers or controllers together.";
            }
            const std::uint32_t number = line != nullptr ? line->lineNumber : original.lineNumber;
            if (placed.insert(number).second) {
                add(number, withHint(message.text, hint));
            }
        }
        if (messages.empty()) {
            // Nothing said: a calibration library whose calib_init failed
            // is the one step of init that fails silently.
            const OptionLine* calibration = lastOptionLine(original, "calibration", leftOut);
            if (calibration != nullptr) {
                add(calibration->lineNumber, "the calibration library did not start (its calib_init failed): see "
                                             "its arguments");
            } else {
                add(original.lineNumber, "init failed without a message of the module");
            }
        }
        std::size_t before = leftOut.size();
        leftOut.insert(named.begin(), named.end());
        if (deviceLine || leftOut.size() == before) {
            return;
        }
    }
}

}  // namespace host
