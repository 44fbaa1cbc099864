// The path rules of POSIX-style hosts, which need no file system: the
// POSIX host and the page's host share them.
#pragma once

#include <string>
#include <string_view>

namespace hexmend {

// path with every backslash turned into "/", so that patch files written on
// Windows work unchanged.
std::string NativePosixPath(std::string_view path);

// path with its "." and ".." segments and repeated "/" removed, lexically:
// no file-system access, no links followed. ".." above the root stays at the
// root; a relative path keeps its leading ".." segments; a trailing "/" is
// kept; an empty result is ".".
std::string CanonicalPosixPath(const std::string& path);

}  // namespace hexmend
