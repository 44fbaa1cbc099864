#include "host/posix_paths.h"

#include <vector>

namespace hexmend {

std::string NativePosixPath(std::string_view path) {
    std::string result(path);
    for (char& c : result) {
        if (c == '\\') {
            c = '/';
        }
    }
    return result;
}

std::string CanonicalPosixPath(const std::string& path) {
    const bool absolute = !path.empty() && path[0] == '/';
    std::vector<std::string_view> segments;
    std::string_view rest(path);
    while (!rest.empty()) {
        const std::size_t slash = rest.find('/');
        const std::string_view segment = rest.substr(0, slash);
        rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash + 1);
        if (segment.empty() || segment == ".") {
            continue;
        }
        if (segment == "..") {
            if (!segments.empty() && segments.back() != "..") {
                segments.pop_back();
            } else if (!absolute) {
                segments.push_back(segment);
            }
            continue;
        }
        segments.push_back(segment);
    }
    std::string out = absolute ? "/" : "";
    for (std::size_t i = 0; i < segments.size(); ++i) {
        if (i > 0) {
            out += '/';
        }
        out += segments[i];
    }
    const bool trailing = path.size() > 1 && path.back() == '/';
    if (trailing && !segments.empty()) {
        out += '/';
    }
    return out.empty() ? "." : out;
}

}  // namespace hexmend
