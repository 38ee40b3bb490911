#pragma once
// Rules shared by every option parser: keyword matching, integer reading,
// bounded access to the host's record and the one form of every
// configuration diagnostic.
#include <cstdint>

#include "vantrel/ConfigBlock.h"

class CLogH;

// Compares two texts without regard to letter case: 0 when equal, -1 when the
// first is smaller or a prefix of the second, 1 otherwise.
int keywordEquals(const char* first, const char* second);

// strtol with base 0 (0x hexadecimal, leading 0 octal, else decimal), kept
// to the 32-bit range; text without a leading number gives 0.
std::int32_t parseInteger(const char* text);

// Counts as the module reads them: never past the record, whatever the host
// wrote into the count fields.
std::uint32_t optionLineCount(const ConfigBlock& block);
std::uint32_t optionArgCount(const OptionLine& line);
std::uint32_t deviceArgCount(const ConfigBlock& block);

// An argument string as the parsers read it: an absent one reads as "".
const char* optionArg(const OptionLine& line, std::uint32_t index);

// A copy of an option's text that its holder keeps and frees with
// delete[]; an absent text is copied as "".
char* copyOptionText(const char* text);

// Replaces an owned option text by a copy of source. The copy is made before
// the old text is freed: a copy that fails leaves the old text in place, to
// be freed once with its holder.
void replaceText(char*& text, const char* source);

// One configuration diagnostic: ERROR with the class prefix and no line end,
// then on standard output the problem phrase, the display name (ending in
// " at line "), the line number and the ending (normally ".").
void reportOptionProblem(const CLogH& log, const char* prefix, const char* phrase, const char* displayName,
                         std::uint32_t lineNumber, const char* ending = ".");
