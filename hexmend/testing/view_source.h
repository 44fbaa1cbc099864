// Test support: a patched view over bytes held by an in-memory host, so that
// unit tests of the engines can state a source as a string and read the
// patched result back as one.
#pragma once

#include <memory>
#include <string>
#include <utility>

#include "core/host_call.h"
#include "core/run_state.h"
#include "memory_host.h"

namespace hexmend::testing {

// Makes bytes the source of view: stores them as a file of host and opens it.
inline void SetSource(MemoryHost& host, PatchedView& view, std::string bytes) {
    const std::string path = "/view/source.bin";
    host.PutFile(path, std::move(bytes));
    std::unique_ptr<File> file;
    Check(host.OpenForReading(path, &file));
    FileState state;
    Check(file->State(&state));
    view.Attach(std::move(file), path, state);
}

// Every byte of the view, the run's writes included.
inline std::string Contents(const PatchedView& view) {
    return view.Read(0, static_cast<std::size_t>(view.size()));
}

}  // namespace hexmend::testing
