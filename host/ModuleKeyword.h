#pragma once
// The option keywords of the vantrel module as the host knows them, and the
// host's own option lines of a device block (which the module never sees):
// for the README's table of keywords, for `vantrel-host check`, which names
// what a refused line wants and the nearest keywords of an unknown one, and
// for the test that holds this list against the module's parsers (the host
// itself includes none of the module's code).
#include <cstddef>
#include <string>
#include <vector>

namespace host {

struct ModuleKeyword {
    // The part of the module that reads it: device, tracker, controller; or
    // host: a line of the host's own, which the host takes out of the block
    // before the module sees it.
    const char* layer;
    const char* names[3];   // its spellings, the usual one first; null after the last
    const char* arguments;  // as the README shows them: placeholders in capitals, `words` as they are
    const char* meaning;    // what it sets
    // Arguments that the module takes, for the test against its parsers; an
    // @ stands for each `word` of `arguments` in turn.
    const char* example;
    bool refused;           // the module knows the keyword but never takes it (the order of units is fixed)
};

// Every keyword, in the order of the README's table.
const std::vector<ModuleKeyword>& moduleKeywords();

// The entry of a keyword, in any case of letters; null when the module does
// not know it.
const ModuleKeyword* findModuleKeyword(const std::string& keyword);

// The keywords that the module takes that are nearest to an unknown one (by
// the number of letters to change, add or remove; at most three of the same
// distance), none when nothing is near.
std::vector<std::string> nearestModuleKeywords(const std::string& keyword);

// The README's table, in Markdown, one line per keyword.
std::string moduleKeywordTable();

// arguments without the Markdown quotes.
std::string plainArguments(const ModuleKeyword& keyword);

}  // namespace host
