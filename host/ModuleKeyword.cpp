#include "ModuleKeyword.h"

#include <algorithm>
#include <cctype>

namespace host {

const std::vector<ModuleKeyword>& moduleKeywords()
{
    static const std::vector<ModuleKeyword> keywords{
        {"device", {"port", "serialport"}, "NAME",
         "the flock's serial port (default `com1`; on Windows `COM3`, or `\\\\.\\COM12` above COM9)", "COM3", false},
        {"device", {"baud", "baudrate"}, "RATE: 1200, 2400, 4800, 9600, 19200, 38400, 57600 or 115200",
         "the line's baud rate, as the flock's switches set it (default 38400)", "115200", false},
        {"device", {"addressingmode"}, "`normal`, `expanded` or `super`",
         "the flock's addressing mode: up to 14, 30 or 126 bus addresses (default normal)", "@", false},
        {"device", {"erc"}, "ADDRESS: 1 to UNITS + 1", "the bus address of the ERC (default 1)", "1", false},
        {"device", {"srt"}, "ADDRESS: 1 to UNITS", "the unit that drives an SRT, in place of an ERC", "1", false},
        {"device", {"hemisphere"}, "`+x`, `x`, `-x`, `+y`, `y`, `-y`, `+z`, `z` or `-z`",
         "the hemisphere the sensors stay in (default +z)", "@", false},
        {"device", {"filter"}, "`yes`, `on`, `no` or `off`", "the units' filter (default off)", "@", false},
        {"device", {"reportrate"}, "`1`, `2`, `8` or `32`", "a record of every Nth measurement (default 1)", "@",
         false},
        {"device", {"sync"}, "`yes`, `on`, `type1`, `type2`, `type3`, `no` or `off`",
         "the sync type (default off)", "@", false},
        {"device", {"scaling"}, "`36` or `72`", "an SRT's full scale in inches (default 36)", "@", false},
        {"device", {"measurementrate"}, "RATE: 20 to 144", "the units' measurements per second (default: theirs)",
         "100", false},
        {"device", {"mouse"}, "ADDRESS...: each 1 to 126", "the bus addresses of the units with a mouse", "2 3", false},
        {"tracker", {"transmitteroffset"}, "X Y Z [UNIT: `feet`, `inches`, `meters`, `m` or `cm`]",
         "the transmitter's place in the output frame (default feet)", "1 2 3 @", false},
        {"tracker", {"transmitterrotation"}, "AXISX AXISY AXISZ DEGREES",
         "the transmitter's rotation about an axis", "0 0 1 90", false},
        {"tracker", {"transmitterrotationmatrix"}, "M0 ... M8",
         "the transmitter's rotation as nine values, row by row (for row vectors)", "1 0 0 0 1 0 0 0 1", false},
        {"tracker", {"sensoroffset"}, "TRACKER X Y Z [UNIT: `feet`, `inches`, `meters`, `m` or `cm`]",
         "the tracked point in the sensor's own axes; TRACKER is the sensor's bus address", "2 0 0 1 @", false},
        {"tracker", {"sensortranslation"}, "TRACKER X Y Z [UNIT: `feet`, `inches`, `meters`, `m` or `cm`]",
         "a shift added last, in the output frame",
         "2 0.5 0 0 @", false},
        {"tracker", {"sensorrotation"}, "TRACKER AXISX AXISY AXISZ DEGREES", "the sensor's rotation about an axis",
         "2 0 1 0 90", false},
        {"tracker", {"sensorrotationmatrix"}, "TRACKER M0 ... M8", "the sensor's rotation as nine values, row by row",
         "2 1 0 0 0 1 0 0 0 1", false},
        {"tracker", {"calibration", "calib"}, "LIBRARY [ARGUMENT...]: up to 10 arguments",
         "a calibration library and its arguments (see calib/grid/README.md)", "libcalib.so table.txt", false},
        {"tracker", {"cavecoord", "cavecoordinates"}, "`yes`, `on`, `no` or `off`",
         "the CAVE convention: azimuth and roll negated (default on)", "@", false},
        {"tracker", {"trackerorder", "unitorder", "order"}, "—",
         "refused: the order of the flock's sensors is fixed by their bus addresses", "2 3", true},
        {"controller", {"buttonorder"}, "CONTROLLER BUTTON...",
         "which real button (1, 2, 3) drives output button 1, 2...; CONTROLLER is the mouse's bus address",
         "2 3 1 2", false},
        {"controller", {"valuatororder"}, "CONTROLLER VALUATOR...", "the same for valuators (a mouse has none)", "2",
         false},
        {"controller", {"valuatorscale"}, "CONTROLLER GAIN or [A3,A2,A1,A0], then VALUATOR... or `all`",
         "a cubic scale of valuators", "2 1.5 @", false},
        {"controller", {"emulatetracker"}, "CONTROLLER [X,Y,Z,AZIM,ELEV,ROLL] V1 ... V6 [BUTTON]",
         "a tracker made from valuators (kept and reported only)", "2 [1,2,3,0,0,0] 0 0 0 0 0 0", false},
        {"controller", {"controllerorder"}, "—", "refused: the order of the flock's mice is fixed", "2", true},
        {"host", {"predict"}, "MILLISECONDS: 0 to 100",
         "how far ahead the host publishes the device's tracker poses, predicted from their recent samples (default "
         "0: as measured; `--predict` sets it for every device)",
         "20", false},
    };
    return keywords;
}

namespace {

std::string lower(const std::string& word)
{
    std::string result = word;
    for (char& c : result) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return result;
}

// Letters to change, add or remove to make one word the other.
std::size_t distance(const std::string& a, const std::string& b)
{
    std::vector<std::size_t> row(b.size() + 1);
    for (std::size_t j = 0; j <= b.size(); ++j) {
        row[j] = j;
    }
    for (std::size_t i = 1; i <= a.size(); ++i) {
        std::size_t diagonal = row[0];
        row[0] = i;
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const std::size_t above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
            diagonal = above;
        }
    }
    return row[b.size()];
}

}  // namespace

const ModuleKeyword* findModuleKeyword(const std::string& keyword)
{
    const std::string wanted = lower(keyword);
    for (const ModuleKeyword& entry : moduleKeywords()) {
        for (const char* name : entry.names) {
            if (name != nullptr && wanted == name) {
                return &entry;
            }
        }
    }
    return nullptr;
}

std::vector<std::string> nearestModuleKeywords(const std::string& keyword)
{
    const std::string wanted = lower(keyword);
    // Near: at most a third of the word's letters wrong (at least one, at
    // most three).
    const std::size_t limit = std::min<std::size_t>(3, std::max<std::size_t>(1, wanted.size() / 3));
    std::size_t best = limit + 1;
    std::vector<std::string> nearest;
    for (const ModuleKeyword& entry : moduleKeywords()) {
        if (entry.refused) {
            continue;
        }
        for (const char* name : entry.names) {
            if (name == nullptr) {
                continue;
            }
            const std::size_t d = distance(wanted, name);
            if (d < best) {
                best = d;
                nearest.clear();
            }
            if (d == best && nearest.size() < 3) {
                nearest.push_back(name);
            }
        }
    }
    return nearest;
}

std::string moduleKeywordTable()
{
    std::string table = "| Keyword | Arguments | Read by | What it sets |\n|---|---|---|---|\n";
    for (const ModuleKeyword& entry : moduleKeywords()) {
        std::string names;
        for (const char* name : entry.names) {
            if (name != nullptr) {
                names += (names.empty() ? "`" : ", `") + std::string(name) + "`";
            }
        }
        table += "| " + names + " | " + entry.arguments + " | " + entry.layer + " | " + entry.meaning + " |\n";
    }
    return table;
}

std::string plainArguments(const ModuleKeyword& keyword)
{
    std::string text;
    for (const char* c = keyword.arguments; *c != '\0'; ++c) {
        if (*c != '`') {
            text += *c;
        }
    }
    return text;
}

}  // namespace host
