// The host's list of the module's keywords (host/ModuleKeyword.cpp), which the
// README shows and `vantrel-host check` uses, held against the module: every
// keyword of the list with its example arguments, and every word its
// arguments name, is taken by the module's parsers (or refused, where the list
// says so); every keyword and word that the parsers compare is in the list;
// and the README's table is the list's.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "host/ConfigFile.h"
#include "host/ModuleKeyword.h"
#include "kit/DeviceHost.h"
#include "kit/StdoutCapture.h"
#include "kit/TextFile.h"

namespace {

using kit::contentOf;

// The `words` of a keyword's arguments.
std::vector<std::string> quotedWords(const char* arguments)
{
    std::vector<std::string> words;
    const std::string text = arguments;
    for (std::size_t open = text.find('`'); open != std::string::npos; open = text.find('`', open + 1)) {
        const std::size_t close = text.find('`', open + 1);
        words.push_back(text.substr(open + 1, close - open - 1));
        open = close;
    }
    return words;
}

// Whether the module takes the line "keyword arguments" in a device of two
// units with a mouse on bus address 2 (its init then stops at a port that
// cannot be there; the lines before are read by then).
bool moduleTakes(const std::string& keyword, const std::string& arguments)
{
    kit::StdoutCapture quiet;
    kit::DeviceHost host("d 2\nmouse 2\n" + keyword + " " + arguments + "\nport /nonexistent/port\n");
    host.init();
    return host.config().line(1).consumed != 0;
}

TEST(ModuleKeyword, EveryKeywordOfTheListIsTheModules)
{
    for (const host::ModuleKeyword& entry : host::moduleKeywords()) {
        std::vector<std::string> examples;
        const std::string example = entry.example;
        const std::size_t at = example.find('@');
        if (at == std::string::npos) {
            examples.push_back(example);
            EXPECT_TRUE(quotedWords(entry.arguments).empty()) << entry.names[0] << ": no @ for its words";
        } else {
            for (const std::string& word : quotedWords(entry.arguments)) {
                examples.push_back(example.substr(0, at) + word + example.substr(at + 1));
            }
            EXPECT_FALSE(examples.empty()) << entry.names[0];
        }
        for (const char* name : entry.names) {
            if (name == nullptr) {
                continue;
            }
            if (std::string(entry.layer) == "host") {
                // The host's own: the module does not know it, and the host
                // takes it out of the block that the module gets.
                EXPECT_FALSE(moduleTakes(name, examples.front())) << name;
                host::ConfigFile file;
                ASSERT_TRUE(file.parse("device d libvantrel.so 2\n" + std::string(name) + " " + examples.front() +
                                           "\nport COM3\n",
                                       "host.cfg"))
                    << name;
                EXPECT_EQ(file.devices()[0].options->block()->lineCount, 1u) << name;
                EXPECT_EQ(host::findModuleKeyword(name), &entry);
                continue;
            }
            for (const std::string& arguments : examples) {
                EXPECT_EQ(moduleTakes(name, arguments), !entry.refused) << name << " " << arguments;
            }
            // In capitals too, and not when misspelt.
            std::string capitals = name;
            for (char& c : capitals) {
                c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
            }
            EXPECT_EQ(moduleTakes(capitals, examples.front()), !entry.refused) << capitals;
            EXPECT_FALSE(moduleTakes(std::string(name) + "x", examples.front())) << name << "x";
            EXPECT_EQ(host::findModuleKeyword(capitals), &entry);
        }
    }
}

// Every word that the module's parsers compare a keyword or a word argument
// with: in keywordEquals calls, in the tracker layer's is(...), and in the
// device's tables of words and values.
std::set<std::string> comparedWords()
{
    std::set<std::string> words;
    const std::regex inCall("keywordEquals\\([^;{}]*?\"([^\"]*)\"");
    const std::regex inLambda("\\bis\\(\"([^\"]*)\"\\)");
    const std::regex inTable("\\{\"([^\"]+)\", *('.'|0x[0-9A-Fa-f]+|[0-9]+)\\}");
    for (const char* folder : {"common", "driver", "tracker", "controller"}) {
        for (const auto& file : std::filesystem::directory_iterator(std::string(VANTREL_SOURCE_DIR) + "/" + folder)) {
            if (file.path().extension() != ".cpp") {
                continue;
            }
            const std::string text = contentOf(file.path().string());
            for (const std::regex& pattern : {inCall, inLambda, inTable}) {
                for (std::sregex_iterator match(text.begin(), text.end(), pattern), end; match != end; ++match) {
                    words.insert((*match)[1].str());
                }
            }
        }
    }
    return words;
}

TEST(ModuleKeyword, TheListHoldsEveryWordTheModuleCompares)
{
    std::set<std::string> listed;
    for (const host::ModuleKeyword& entry : host::moduleKeywords()) {
        for (const char* name : entry.names) {
            if (name != nullptr) {
                listed.insert(name);
            }
        }
        for (const std::string& word : quotedWords(entry.arguments)) {
            listed.insert(word);
        }
    }
    const std::set<std::string> compared = comparedWords();
    // The scan finds what it looks for.
    EXPECT_GT(compared.size(), 60u);
    EXPECT_EQ(compared.count("hemisphere"), 1u);
    EXPECT_EQ(compared.count("-z"), 1u);
    for (const std::string& word : compared) {
        EXPECT_EQ(listed.count(word), 1u) << "the module compares \"" << word << "\", the list lacks it";
    }
}

TEST(ModuleKeyword, TheReadmeShowsTheList)
{
    const std::string readme = contentOf(std::string(VANTREL_SOURCE_DIR) + "/README.md");
    EXPECT_NE(readme.find(host::moduleKeywordTable()), std::string::npos)
        << "the README's table of keywords should be:\n"
        << host::moduleKeywordTable();
}

TEST(ModuleKeyword, NearestKeywordsOfAMisspeltOne)
{
    EXPECT_EQ(host::nearestModuleKeywords("hemispere"), std::vector<std::string>{"hemisphere"});
    EXPECT_EQ(host::nearestModuleKeywords("BAUDRAT"), std::vector<std::string>{"baudrate"});
    EXPECT_EQ(host::nearestModuleKeywords("sensoroffest"), (std::vector<std::string>{"sensoroffset"}));
    EXPECT_EQ(host::nearestModuleKeywords("sensorrotatoin"),
              (std::vector<std::string>{"sensorrotation"}));
    EXPECT_EQ(host::nearestModuleKeywords("srt2"), (std::vector<std::string>{"srt"}));
    EXPECT_TRUE(host::nearestModuleKeywords("colour").empty());
    // Keywords that the module refuses are no suggestion.
    EXPECT_TRUE(host::nearestModuleKeywords("controlerorder").empty());
}

}  // namespace
