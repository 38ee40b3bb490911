#pragma once
// The host's own messages: "vantrel-host: TEXT" as one line on standard
// error, after what standard output holds so far.
#include <string>

namespace host {

void say(const std::string& text);

}  // namespace host
