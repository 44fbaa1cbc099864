#include "core/journal.h"

#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <random>
#include <string_view>

#include "core/file_io.h"
#include "core/host_call.h"
#include "core/reporter.h"
#include "host/host.h"

namespace hexmend {
namespace {

// Layout, every number 8 bytes little-endian unless said otherwise:
//   magic "HXJRNL01", nonce, volume, file index, file size, range count,
//   journal length (all of it, trailer included);
//   per range: offset, length, the old bytes;
//   trailer: the nonce again, then the CRC-32 of everything before it
//   (4 bytes).
// The nonce makes stale bytes of an earlier journal at the same place fail
// the checks; the length and the checksum tell a complete journal from one
// that a crash cut short.
constexpr std::string_view kMagic = "HXJRNL01";
constexpr std::size_t kHeaderSize = 8 * 7;
constexpr std::size_t kRangeHeaderSize = 8 * 2;
constexpr std::size_t kTrailerSize = 8 + 4;
// How much of a range is read and written at a time.
constexpr std::size_t kChunk = std::size_t{1} << 20;

void PutNumber(Bytes& out, std::uint64_t value, int bytes = 8) {
    for (int i = 0; i < bytes; ++i) {
        out += static_cast<char>((value >> (8 * i)) & 0xFF);
    }
}

std::uint64_t GetNumber(std::string_view in, std::size_t at, int bytes = 8) {
    std::uint64_t value = 0;
    for (int i = bytes - 1; i >= 0; --i) {
        value = (value << 8) | static_cast<unsigned char>(in[at + static_cast<std::size_t>(i)]);
    }
    return value;
}

std::uint32_t Crc(std::uint32_t crc, std::string_view bytes) {
    while (!bytes.empty()) {
        const auto n = static_cast<uInt>(std::min<std::size_t>(bytes.size(), kChunk));
        crc = static_cast<std::uint32_t>(
            ::crc32(crc, reinterpret_cast<const Bytef*>(bytes.data()), n));
        bytes.remove_prefix(n);
    }
    return crc;
}

// Reads exactly n bytes at offset; false when the file ends first.
bool ReadExactly(File& file, std::uint64_t offset, std::size_t n, Bytes& out) {
    out.resize(n);
    return ReadExactlyAt(file, offset, n, out.data());
}

// A journal file being written: everything appended is counted into the
// checksum.
class JournalWriter {
  public:
    explicit JournalWriter(File& file) : file_(file) {}
    void Append(std::string_view bytes) {
        Check(file_.Append(bytes));
        crc_ = Crc(crc_, bytes);
    }
    std::uint32_t crc() const { return crc_; }

  private:
    File& file_;
    std::uint32_t crc_ = static_cast<std::uint32_t>(::crc32(0, nullptr, 0));
};

std::uint64_t NewNonce() {
    std::random_device device;
    return (static_cast<std::uint64_t>(device()) << 32) ^ device();
}

// Writes the journal of run's written ranges, with the old bytes read from
// the file, and makes it durable.
void WriteJournal(const PatchedView& view, File& journal) {
    File& file = *view.source();
    const auto& overlay = view.Overlay();
    std::uint64_t length = kHeaderSize + kTrailerSize;
    for (const auto& [offset, bytes] : overlay) {
        length += kRangeHeaderSize + bytes.size();
    }
    const std::uint64_t nonce = NewNonce();
    const FileState& state = view.sourceState();
    JournalWriter writer(journal);
    Bytes header(kMagic);
    PutNumber(header, nonce);
    PutNumber(header, state.identity.volume);
    PutNumber(header, state.identity.index);
    PutNumber(header, state.size);
    PutNumber(header, overlay.size());
    PutNumber(header, length);
    writer.Append(header);
    Bytes chunk;
    for (const auto& [offset, bytes] : overlay) {
        Bytes rangeHeader;
        PutNumber(rangeHeader, offset);
        PutNumber(rangeHeader, bytes.size());
        writer.Append(rangeHeader);
        for (std::size_t done = 0; done < bytes.size(); done += kChunk) {
            const std::size_t n = std::min(kChunk, bytes.size() - done);
            if (!ReadExactly(file, offset + done, n, chunk)) {
                throw RunTimeFailure("cannot read " + view.sourcePath() +
                                     ": the file shrank while it was patched");
            }
            writer.Append(chunk);
        }
    }
    Bytes trailer;
    PutNumber(trailer, nonce);
    const std::uint32_t crc = writer.crc();
    PutNumber(trailer, crc, 4);
    Check(journal.Append(trailer));
    Check(journal.Sync());
    Check(journal.Close());
}

struct JournalHeader {
    FileIdentity identity;
    std::uint64_t size = 0;
    std::uint64_t ranges = 0;
};

// Reads the journal's header and checks that the journal is complete.
// Returns false for a journal that a crash cut short or that is not one.
bool ReadCompleteJournal(File& journal, JournalHeader* header) {
    std::uint64_t journalSize = 0;
    Check(journal.Size(&journalSize));
    Bytes bytes;
    if (journalSize < kHeaderSize + kTrailerSize || !ReadExactly(journal, 0, kHeaderSize, bytes) ||
        std::string_view(bytes).substr(0, kMagic.size()) != kMagic ||
        GetNumber(bytes, 48) != journalSize) {
        return false;
    }
    const std::uint64_t nonce = GetNumber(bytes, 8);
    header->identity.volume = GetNumber(bytes, 16);
    header->identity.index = GetNumber(bytes, 24);
    header->size = GetNumber(bytes, 32);
    header->ranges = GetNumber(bytes, 40);
    const std::uint64_t body = journalSize - kTrailerSize;
    std::uint32_t crc = static_cast<std::uint32_t>(::crc32(0, nullptr, 0));
    for (std::uint64_t at = 0; at < body; at += kChunk) {
        const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(kChunk, body - at));
        if (!ReadExactly(journal, at, n, bytes)) {
            return false;
        }
        crc = Crc(crc, bytes);
    }
    if (!ReadExactly(journal, body, kTrailerSize, bytes)) {
        return false;
    }
    return GetNumber(bytes, 0) == nonce && GetNumber(bytes, 8, 4) == crc;
}

// Writes the old bytes of a complete journal back into file where the file
// now differs from them, and makes them durable. Bytes that are old already
// are not written: a run that stopped part way wrote some ranges or none,
// and writing an unwritten one again could fail the same way. Returns false
// when the ranges do not fit the journal or the file.
bool ApplyJournal(File& journal, const JournalHeader& header, File& file) {
    std::uint64_t journalSize = 0;
    Check(journal.Size(&journalSize));
    const std::uint64_t body = journalSize - kTrailerSize;
    std::uint64_t at = kHeaderSize;
    Bytes bytes;
    Bytes now;
    for (std::uint64_t i = 0; i < header.ranges; ++i) {
        if (body - at < kRangeHeaderSize || !ReadExactly(journal, at, kRangeHeaderSize, bytes)) {
            return false;
        }
        const std::uint64_t offset = GetNumber(bytes, 0);
        const std::uint64_t length = GetNumber(bytes, 8);
        at += kRangeHeaderSize;
        if (length > body - at || offset > header.size || length > header.size - offset) {
            return false;
        }
        for (std::uint64_t done = 0; done < length; done += kChunk) {
            const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(kChunk, length - done));
            if (!ReadExactly(journal, at + done, n, bytes) ||
                !ReadExactly(file, offset + done, n, now)) {
                return false;
            }
            const auto differs = std::mismatch(bytes.begin(), bytes.end(), now.begin());
            if (differs.first == bytes.end()) {
                continue;
            }
            const auto from = static_cast<std::size_t>(differs.first - bytes.begin());
            std::size_t to = n;
            while (bytes[to - 1] == now[to - 1]) {
                --to;
            }
            Check(file.WriteAt(offset + done + from,
                               std::string_view(bytes).substr(from, to - from)));
        }
        at += length;
    }
    Check(file.Sync());
    return true;
}

// Makes the journal at journalPath durably incomplete: its magic is
// overwritten and synced. Where removing a file cannot be made durable
// (Windows), a removed journal could come back after a power cut and undo a
// run that succeeded; an invalid one is only deleted.
void InvalidateJournal(FileSystem& host, const std::string& journalPath) {
    std::unique_ptr<File> journal;
    Check(host.OpenForUpdate(journalPath, &journal));
    Check(journal->WriteAt(0, Bytes(kMagic.size(), '\0')));
    Check(journal->Sync());
    Check(journal->Close());
}

void RemoveJournal(FileSystem& host, const std::string& journalPath) {
    Check(host.RemoveFile(journalPath));
    Check(host.SyncFolderOf(journalPath));
}

// Rolls file (at path, locked) back from the journal at journalPath, if it
// is complete, and removes the journal. Returns true when bytes were put
// back.
bool RollBack(FileSystem& host, File& file, const std::string& path,
              const std::string& journalPath) {
    bool rolledBack = false;
    {
        std::unique_ptr<File> journal;
        Check(host.OpenForReading(journalPath, &journal));
        JournalHeader header;
        if (ReadCompleteJournal(*journal, &header)) {
            FileState state;
            Check(file.State(&state));
            if (header.identity != state.identity || header.size != state.size ||
                !ApplyJournal(*journal, header, file)) {
                throw RunTimeFailure("the journal " + journalPath + " was not made for " + path +
                                     ": left as it is");
            }
            rolledBack = true;
        }
    }
    RemoveJournal(host, journalPath);
    return rolledBack;
}

// Undoes a run that stopped after its journal was durable: puts the
// journal's old bytes back (ApplyJournal, which writes only what the run
// changed), syncs the file and removes the journal. When the journal's
// invalidation had begun, its mark is restored first, so that a journal left
// behind by a failure here still rolls the file back.
void PutBack(FileSystem& host, File& file, const std::string& journalPath, bool invalidating) {
    std::unique_ptr<File> journal;
    Check(host.OpenForUpdate(journalPath, &journal));
    if (invalidating) {
        Check(journal->WriteAt(0, kMagic));
        Check(journal->Sync());
    }
    JournalHeader header;
    if (!ReadCompleteJournal(*journal, &header) || !ApplyJournal(*journal, header, file)) {
        throw RunTimeFailure("cannot read " + journalPath);
    }
    Check(journal->Close());
    journal.reset();
    RemoveJournal(host, journalPath);
}

}  // namespace

std::string JournalPath(const std::string& path) {
    return path + ".hexmend-journal";
}

void RecoverInterruptedRun(const RunState& run, const std::string& path) {
    Host& host = run.host;
    const std::string journalPath = JournalPath(path);
    if (!host.FileExists(journalPath)) {
        return;
    }
    std::unique_ptr<File> file;
    Check(host.OpenForUpdate(path, &file));
    Check(file->Lock());
    // Another run may have rolled it back while this one waited.
    if (!host.FileExists(journalPath)) {
        return;
    }
    if (RollBack(host, *file, path, journalPath)) {
        ReportMessage(run, "rolled back an interrupted run: " + path, false);
    }
}

void CommitInPlace(RunState& run, const std::string& targetPath) {
    Host& host = run.host;
    const PatchedView& view = run.FileBuffer;
    if (view.Overlay().empty()) {
        return;
    }
    File& file = *view.source();
    const std::string journalPath = JournalPath(targetPath);
    {
        std::unique_ptr<File> journal;
        // Not a safe point: once the journal exists, a request to end must
        // find the owner below that removes it.
        ThrowIfFailed(host.CreateNewFile(journalPath, &journal));
        try {
            WriteJournal(view, *journal);
            Check(host.SyncFolderOf(journalPath));
        } catch (...) {
            // The file is untouched: the journal only has to go.
            journal.reset();
            (void)host.RemoveFile(journalPath);
            throw;
        }
    }
    bool invalidating = false;
    try {
        for (const auto& [offset, bytes] : view.Overlay()) {
            Check(file.WriteAt(offset, bytes));
        }
        Check(file.Sync());
        invalidating = true;
        InvalidateJournal(host, journalPath);
    } catch (const RunTimeFailure& failure) {
        // Put the old bytes back at once, even when a request to end the
        // program is what stopped the writes; when even that fails, the
        // journal stays for the next run, and the message says so.
        const InterruptionHold hold;
        try {
            PutBack(host, file, journalPath, invalidating);
        } catch (const RunTimeFailure&) {
            throw RunTimeFailure(std::string(failure.what()) + "; the old bytes stay in " +
                                 journalPath + " for the next run to put back");
        }
        throw;
    }
    // The run has committed: the file holds the new bytes for good.
    RemoveJournal(host, journalPath);
}

}  // namespace hexmend
