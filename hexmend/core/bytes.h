// The byte and line strings every module of hexmend passes around.
#pragma once

#include <string>
#include <vector>

namespace hexmend {

// 8-bit byte strings: any byte value, zero included, counted by length.
using Bytes = std::string;
using Lines = std::vector<std::string>;

}  // namespace hexmend
