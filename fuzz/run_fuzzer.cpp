// A whole hexmend run in memory. The input is the patch file's bytes, a zero
// byte, and the source file's bytes (the patch text ends at its first zero
// byte anyway, so nothing of the patch file is lost). The patch file lies at
// /p/p.txt, the source at /p/src.bin, and /p/data.bin is there for
// replace_file; seeds name these files.
//
// Properties: the run ends with exit code 0 or 1 and never crashes; a failed
// run changes no file at all; a successful run changes or creates at most one
// file, and that file has the length of the source it loaded; no temporary file, no journal and
// no open file remains; a run-time failure is one "hexmend: " line on standard error.

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "cli/entry.h"
#include "core/run_state.h"
#include "fuzz_check.h"
#include "host/host.h"
#include "memory_host.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::size_t zero = input.find('\0');
    const std::string patch(input.substr(0, zero));
    const std::string source(zero == std::string_view::npos ? std::string_view()
                                                            : input.substr(zero + 1));

    hexmend::testing::MemoryHost host;
    host.PutFile("/p/p.txt", patch);
    host.PutFile("/p/src.bin", source);
    host.PutFile("/p/data.bin", "0123456789ABCDEF");
    const std::map<std::string, std::string> before = host.Files();

    std::vector<std::string> arguments = {hexmend::testing::MemoryHost::kProgramPath, "/p/p.txt"};
    // Inputs of odd length also walk the verbatim echo; every third one
    // writes in place where the target is the source, every fifth one undoes
    // the patch file.
    if (size % 2 == 1) {
        arguments.emplace_back("verbatim=true");
    }
    if (size % 3 == 0) {
        arguments.emplace_back("inplace=true");
    }
    if (size % 5 == 0) {
        arguments.emplace_back("reverse=true");
    }
    const int rc = hexmend::RunHexmend(host, arguments);

    FUZZ_CHECK(rc == 0 || rc == 1, "exit code is 0 or 1");
    FUZZ_CHECK(host.OpenWriters() == 0, "every file written is closed");
    FUZZ_CHECK(host.TempFiles().empty(), "no temporary file remains");
    // A journal is named after its file; the patch file may name a target
    // that only looks like one.
    const std::string journal = ".hexmend-journal";
    for (const auto& [path, bytes] : host.Files()) {
        const bool isJournal =
            path.size() >= journal.size() &&
            path.compare(path.size() - journal.size(), journal.size(), journal) == 0 &&
            before.count(path.substr(0, path.size() - journal.size())) != 0;
        FUZZ_CHECK(!isJournal || before.count(path) != 0, "no journal remains");
    }
    const std::map<std::string, std::string> after = host.Files();
    if (rc == 1) {
        FUZZ_CHECK(after == before, "a failed run changes no file");
        const std::string& err = host.stderrText;
        if (!err.empty()) {
            FUZZ_CHECK(err.rfind("hexmend: ", 0) == 0, "a run-time failure names the program");
            FUZZ_CHECK(err.find('\n') == err.size() - 1, "a run-time failure is one line");
        }
        return 0;
    }
    FUZZ_CHECK(host.stderrText.empty(), "a successful run writes nothing to standard error");
    const std::string ok = "Everything is ok!\n";
    FUZZ_CHECK(host.stdoutText.size() >= ok.size() &&
                   host.stdoutText.compare(host.stdoutText.size() - ok.size(), ok.size(), ok) == 0,
               "a successful run ends with its final line");
    // The source is whichever file the patch file named; the run says which.
    const std::string loading = "loading source file: ";
    const std::size_t at = host.stdoutText.find("\n" + loading);
    FUZZ_CHECK(at != std::string::npos, "a successful run loads a source");
    const std::size_t start = at + 1 + loading.size();
    const std::string sourcePath =
        host.stdoutText.substr(start, host.stdoutText.find('\n', start) - start);
    const auto loaded = before.find(hexmend::testing::MemoryHost::Normalize(sourcePath));
    FUZZ_CHECK(loaded != before.end(), "the source was there before the run");
    int changed = 0;
    for (const auto& [path, bytes] : after) {
        const auto old = before.find(path);
        if (old != before.end() && old->second == bytes) {
            continue;
        }
        ++changed;
        FUZZ_CHECK(bytes.size() == loaded->second.size(), "the target has the source's length");
    }
    FUZZ_CHECK(changed <= 1, "a run writes one target");
    for (const auto& [path, bytes] : before) {
        FUZZ_CHECK(after.count(path) == 1, "a run removes no file");
    }
    return 0;
}
