// The entry of hexmend: options, usage text, the patch file's path and the
// exit code.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "host/host.h"

namespace hexmend {

// The value of option name: the text after the first "=" of the first
// argument (argument 0 included) whose text before that "=" equals name
// regardless of letter case; empty when no argument carries it.
std::string OptionValue(const std::vector<std::string>& arguments, std::string_view name);

// True when the option's value, with A-Z lower-cased, is exactly "true".
bool OptionIsOn(const std::vector<std::string>& arguments, std::string_view name);

// Runs hexmend on host over arguments (argument 0 being the program's own full path)
// and returns the exit code: 0 success (also after the help or the version
// was asked for), 1 failure, 2 usage text written for want of a FILENAME.
// Catches run-time failures and describes them on standard error. A run
// that a request to end the program interrupted (SIGINT, SIGTERM, SIGHUP)
// unwinds and then ends the process by that request.
int RunHexmend(Host& host, const std::vector<std::string>& arguments);

}  // namespace hexmend
