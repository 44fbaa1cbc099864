// The making of a patch file from two files of one length: finds the regions
// where they differ, streaming, and writes one regular-style block per
// region. Memory stays bounded whatever the files' size: a region is written
// in sets of at most kMaxSetBytes bytes as it is found. Given a StreamFinder,
// a change inside a zlib stream that replace_zlib can rewrite becomes one
// replace_zlib block of the stream's two texts instead.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace hexmend {

class StreamFinder;
struct StreamChange;

// The most lines of line diff that the comments before a replace_zlib block
// show.
inline constexpr std::size_t kMaxDiffLines = 40;
// Changes fewer than this many equal bytes apart belong to one region; the
// equal bytes between them are written as part of it.
inline constexpr std::size_t kRegionGap = 8;
// The most bytes one position/olddata/newdata set of a block holds; a longer
// region is written as several sets in its one block.
inline constexpr std::size_t kMaxSetBytes = 4096;

// Where the patch file's text goes, piece by piece. Write throws
// RunTimeFailure when the text cannot be written.
class PatchSink {
  public:
    virtual ~PatchSink() = default;
    virtual void Write(std::string_view text) = 0;
};

// What the comment lines at the start of a patch file say, and the file the
// patch changes.
struct PatchFileFacts {
    // The two files as the user named them, and their (common) size.
    std::string oldName;
    std::string newName;
    std::uint64_t size = 0;
    // OLD as the patch file names it: relative to the patch file's folder.
    std::string sourceValue;
    // The patch file as hexmend is to be given it.
    std::string patchPath;
    // Non-empty when the text goes to standard output: the folder it must be
    // saved in for sourceValue to name OLD.
    std::string saveFolder;
};

// The patch file's first lines: comments saying what it was made from and
// how to apply it, then the sourcefile and targetfile lines (both OLD, which
// the patch changes in place), each line ending in lineEnd.
std::string PatchFileHeader(const PatchFileFacts& facts, std::string_view lineEnd);

class PatchMaker {
  public:
    // header goes out before the first block only: files without a
    // difference give no text at all. streams, when given, is told of every
    // zlib header the two files share and asked at every change.
    PatchMaker(PatchSink& sink, std::string header, std::string_view lineEnd,
               StreamFinder* streams = nullptr);

    // The next bytes of the two files, of equal length, following those of
    // the previous call; any split of the files gives the same text.
    void Feed(std::string_view oldBytes, std::string_view newBytes);
    // Ends the input: writes the open region and all text still held.
    void Finish();

    std::uint64_t Regions() const { return regions_; }
    // The regions written as replace_zlib.
    std::uint64_t Streams() const { return streams_; }
    // The bytes that differ (the equal bytes inside regions not counted).
    std::uint64_t ChangedBytes() const { return changed_; }

  private:
    enum class Action { kNone, kString, kBytes };

    // True when the change at offset lies in a stream that streams_ finds;
    // the open region then ends before the stream, which is written.
    bool InStream(std::uint64_t offset);
    void WriteStream(const StreamChange& change);
    void WriteParts(std::string_view key, std::string_view text);
    void OpenBlock(std::uint64_t offset);
    void OpenRegion(std::uint64_t offset);
    void CloseRegion();
    // Adds one byte pair to the region's current set.
    void Take(char oldByte, char newByte);
    void WriteSet();
    void WriteOneSet(std::uint64_t position, std::string_view oldBytes, std::string_view newBytes);
    void Line(std::string_view key, std::string_view value);
    void FlushIfFull();

    PatchSink& sink_;
    StreamFinder* finder_;
    std::string header_;
    std::string lineEnd_;
    // Text not yet handed to the sink.
    std::string out_;

    // Offset of the first byte of the next Feed.
    std::uint64_t offset_ = 0;
    // Bytes before this offset belong to a stream already written.
    std::uint64_t skipUntil_ = 0;
    bool inRegion_ = false;
    // Offset just past the region's last byte taken into a set.
    std::uint64_t regionEnd_ = 0;
    // The current set's bytes; they end with a change.
    std::string oldSet_;
    std::string newSet_;
    // Equal bytes after the region's last change (fewer than kRegionGap).
    std::string gap_;
    // The action line in force in the open block.
    Action action_ = Action::kNone;

    std::uint64_t regions_ = 0;
    std::uint64_t streams_ = 0;
    std::uint64_t changed_ = 0;
};

}  // namespace hexmend
