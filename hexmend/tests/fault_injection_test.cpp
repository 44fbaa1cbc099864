// Faults of the system under a real run on real files: each must end as a
// run-time failure (exit code 1, one "hexmend: ..." line on standard error),
// leave an existing target byte for byte as it was and leave no temporary
// file behind. The same holds for hexmend-diff and its patch file.

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "cli/entry.h"
#include "diff/diff_entry.h"
#include "fault_host.h"
#include "host/host.h"
#include "host/interruptions.h"

namespace hexmend {
namespace {

namespace fs = std::filesystem;
using testing::FaultHost;
using testing::Faults;

constexpr std::size_t kSourceSize = 300 * 1024;
constexpr const char* kFolderVariable = "HEXMEND_TEST_FAULTS_FOLDER";
const std::string kOldTarget = "the target as it was before the run\n";

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::string bytes(static_cast<std::size_t>(fs::file_size(path)), '\0');
    in.read(&bytes[0], static_cast<std::streamsize>(bytes.size()));
    return bytes;
}

void WriteFile(const fs::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

class FaultInjection : public ::testing::Test {
  protected:
    void SetUp() override {
        // A death test on Windows runs the test again in a process of its
        // own, which is handed the folder to work on (see ForDeathTest).
        const char* handed = std::getenv(kFolderVariable);
        if (handed != nullptr && *handed != '\0') {
            dir_ = handed;
        } else {
            std::random_device random;
            dir_ = fs::temp_directory_path() / ("hexmend-faults-" + std::to_string(random()));
        }
        fs::create_directories(dir_);
        source_.resize(kSourceSize);
        for (std::size_t i = 0; i < source_.size(); ++i) {
            source_[i] = static_cast<char>(i * 7 + i / 251);
        }
        // One patch, so that a target that got written differs from the source.
        source_.replace(0x100, 5, "Hello");
        WriteFile(dir_ / "src.bin", source_);
        WriteFile(dir_ / "data.bin", "Howdy");
        WritePatch("action=replace_string\nposition=100\nolddata=Hello\nnewdata=Howdy\n");
    }

    // Hands the test's folder to the process in which a death test runs on
    // Windows; on POSIX that process is a fork, which has it already.
    void ForDeathTest(bool on) const {
#ifdef _WIN32
        (void)_putenv_s(kFolderVariable, on ? dir_.string().c_str() : "");
#else
        (void)on;
#endif
    }

    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }

    void WritePatch(const std::string& patchLines) {
        WriteFile(dir_ / "p.txt",
                  "targetfile=out.bin\nsourcefile=src.bin\n<patch>\nname=greeting\n"
                  "enabled=true\n" +
                      patchLines + "</patch>\n");
    }

    int Run() {
        return RunHexmend(host_, {host_.ExecutablePath(), (dir_ / "p.txt").string()});
    }

    std::string Patched() const {
        std::string patched = source_;
        patched.replace(0x100, 5, "Howdy");
        return patched;
    }

    std::vector<std::string> FolderListing() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir_)) {
            names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    // A run-time failure whose one line on standard error names file and
    // gives reason; no target written over, no temporary file left.
    void ExpectRunTimeFailure(int rc, const std::string& file, const std::string& reason,
                              bool targetExisted) {
        EXPECT_EQ(rc, 1);
        const std::string& err = host_.stderrText;
        EXPECT_EQ(err.rfind("hexmend: ", 0), 0u) << err;
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
        EXPECT_EQ(err.back(), '\n');
        EXPECT_NE(err.find(file), std::string::npos) << err;
        EXPECT_NE(err.find(reason), std::string::npos) << err;
        EXPECT_EQ(host_.stdoutText.find("Everything is ok!"), std::string::npos);
        std::vector<std::string> expected = {"data.bin", "p.txt", "src.bin"};
        if (targetExisted) {
            expected.push_back("out.bin");
            EXPECT_EQ(ReadFile(dir_ / "out.bin"), kOldTarget);
        }
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(FolderListing(), expected);
        EXPECT_EQ(ReadFile(dir_ / "src.bin"), source_);
    }

    fs::path dir_;
    std::string source_;
    FaultHost host_;
};

// ---- Faults while the target is written ----

struct WriteFault {
    const char* name;
    void (*arm)(Faults&);
    // What the message says could not be done, and why.
    const char* what;
    const char* reason;
};

const WriteFault kWriteFaults[] = {
    {"DiskFullHalfWay", [](Faults& f) { f.diskRoom = kSourceSize / 2; }, "cannot write",
     "No space left on device"},
    {"DiskFullAtOnce", [](Faults& f) { f.diskRoom = 0; }, "cannot write",
     "No space left on device"},
    {"TempFileCannotBeCreated", [](Faults& f) { f.createTempFails = true; }, "cannot create",
     "Read-only file system"},
    {"SyncFails", [](Faults& f) { f.syncFails = true; }, "cannot sync", "Input/output error"},
    {"CloseFails", [](Faults& f) { f.closeFails = true; }, "cannot write", "Disk quota exceeded"},
    {"RenameFails", [](Faults& f) { f.renameFails = true; }, "cannot replace",
     "Device or resource busy"},
};

class WriteFaults : public FaultInjection,
                    public ::testing::WithParamInterface<std::tuple<WriteFault, bool>> {};

TEST_P(WriteFaults, FailTheRunAndKeepTheTarget) {
    const auto& [fault, targetExists] = GetParam();
    if (targetExists) {
        WriteFile(dir_ / "out.bin", kOldTarget);
    }
    fault.arm(host_.faults);
    const int rc = Run();
    EXPECT_NE(host_.stdoutText.find("saving "), std::string::npos) << host_.stdoutText;
    ExpectRunTimeFailure(rc, "out.bin", fault.reason, targetExists);
    EXPECT_EQ(host_.stderrText.rfind("hexmend: " + std::string(fault.what) + " ", 0), 0u)
        << host_.stderrText;
}

INSTANTIATE_TEST_SUITE_P(Faults, WriteFaults,
                         ::testing::Combine(::testing::ValuesIn(kWriteFaults), ::testing::Bool()),
                         [](const ::testing::TestParamInfo<std::tuple<WriteFault, bool>>& param) {
                             return std::string(std::get<0>(param.param).name) +
                                    (std::get<1>(param.param) ? "_OverExistingTarget"
                                                              : "_NoTargetBefore");
                         });

TEST_F(FaultInjection, DiskWithExactlyEnoughRoomSucceeds) {
    host_.faults.diskRoom = kSourceSize;
    EXPECT_EQ(Run(), 0) << host_.stderrText;
    EXPECT_EQ(ReadFile(dir_ / "out.bin"), Patched());
}

// Every folder made for the target is synced in the folder that holds it,
// outermost first, and then the target's move; a sync that fails ends the run
// and names that folder.
TEST_F(FaultInjection, NewTargetFoldersAreMadeDurable) {
    WriteFile(dir_ / "p.txt", "targetfile=a/b/out.bin\nsourcefile=src.bin\n");
    EXPECT_EQ(Run(), 0) << host_.stderrText;
    EXPECT_EQ(host_.folderSyncs,
              (std::vector<std::string>{(dir_ / "a").string(), (dir_ / "a" / "b").string(),
                                        (dir_ / "a" / "b" / "out.bin").string()}));
    EXPECT_EQ(ReadFile(dir_ / "a" / "b" / "out.bin"), source_);
}

TEST_F(FaultInjection, AFolderThatCannotBeSyncedFailsTheRun) {
    WriteFile(dir_ / "p.txt", "targetfile=a/b/out.bin\nsourcefile=src.bin\n");
    host_.faults.folderSyncFails = (fs::path("a") / "b").string();
    EXPECT_EQ(Run(), 1);
    EXPECT_EQ(host_.stderrText,
              "hexmend: cannot sync " + (dir_ / "a").string() + ": Input/output error\n");
    EXPECT_TRUE(fs::is_directory(dir_ / "a" / "b"));
    EXPECT_FALSE(fs::exists(dir_ / "a" / "b" / "out.bin"));
    EXPECT_EQ(host_.stdoutText.find("saving "), std::string::npos);
}

// ---- Faults while files are read ----

TEST_F(FaultInjection, SourceThatCannotBeOpened) {
    WriteFile(dir_ / "out.bin", kOldTarget);
    host_.faults.openFails = "src.bin";
    const int rc = Run();
    EXPECT_EQ(host_.stdoutText.find("saving "), std::string::npos);
    ExpectRunTimeFailure(rc, "src.bin", "Permission denied", true);
}

TEST_F(FaultInjection, PatchFileThatCannotBeOpened) {
    host_.faults.openFails = "p.txt";
    ExpectRunTimeFailure(Run(), "p.txt", "Permission denied", false);
}

TEST_F(FaultInjection, ReplacementFileThatCannotBeOpened) {
    WriteFile(dir_ / "out.bin", kOldTarget);
    WritePatch("action=replace_file\nposition=100\nolddata=Hello\nnewdata=data.bin\n");
    host_.faults.openFails = "data.bin";
    const int rc = Run();
    EXPECT_EQ(host_.stdoutText.find("saving "), std::string::npos);
    ExpectRunTimeFailure(rc, "data.bin", "Permission denied", true);
}

TEST_F(FaultInjection, SourceThatYieldsFewerBytesThanItsSize) {
    WriteFile(dir_ / "out.bin", kOldTarget);
    host_.faults.readStops = "src.bin";
    host_.faults.readStopsAfter = kSourceSize - 1;
    ExpectRunTimeFailure(Run(), "src.bin", std::to_string(kSourceSize - 1), true);
}

TEST_F(FaultInjection, SourceThatChangesWhileTheRunHoldsIt) {
#ifdef _WIN32
    GTEST_SKIP() << "on Windows no other program can write the source while hexmend holds it";
#endif
    WriteFile(dir_ / "out.bin", kOldTarget);
    host_.faults.beforeCopy = [this] {
        source_ += "appended by another program";
        WriteFile(dir_ / "src.bin", source_);
    };
    ExpectRunTimeFailure(Run(), "src.bin", "source changed while patching", true);
}

TEST_F(FaultInjection, SourceReadError) {
    WriteFile(dir_ / "out.bin", kOldTarget);
    host_.faults.readFails = "src.bin";
    ExpectRunTimeFailure(Run(), "src.bin", "Input/output error", true);
}

TEST_F(FaultInjection, ReadsThatReturnFewerBytesEachStillLoadTheWholeFile) {
    host_.faults.readChunk = 4093;
    EXPECT_EQ(Run(), 0) << host_.stderrText;
    EXPECT_EQ(ReadFile(dir_ / "out.bin"), Patched());
    EXPECT_EQ(host_.stderrText, "");
}

// ---- Console ----

TEST_F(FaultInjection, StandardOutputThatCannotBeWritten) {
    WriteFile(dir_ / "out.bin", kOldTarget);
    host_.faults.stdoutFails = true;
    ExpectRunTimeFailure(Run(), "standard output", "Broken pipe", true);
}

// ---- In place: runs that stop once the journal is durable ----

// The offsets patched in place, one range each, written in this order.
constexpr std::uint64_t kInPlaceRanges[] = {0x100, 0x9000, 0x21000, 0x40000};
const std::string kInPlaceBytes = "patched!";

class InPlace : public FaultInjection {
  protected:
    void SetUp() override {
        FaultInjection::SetUp();
        std::string patch = "targetfile=src.bin\nsourcefile=src.bin\n";
        for (const std::uint64_t at : kInPlaceRanges) {
            char position[32];
            std::snprintf(position, sizeof position, "%llX", static_cast<unsigned long long>(at));
            patch += "<patch>\nname=p\nenabled=true\naction=replace_string\nposition=" +
                     std::string(position) + "\nolddata=DONOTCHECK\nnewdata=" + kInPlaceBytes +
                     "\n</patch>\n";
        }
        WriteFile(dir_ / "p.txt", patch);
        host_.faults.writeFile = "src.bin";
    }

    int RunInPlace(const std::string& option = "inplace=true") { return RunOn(host_, option); }

    // As RunInPlace, with standard error written for real, where a death
    // test sees it.
    int RunInPlaceAloud() {
        struct Aloud final : testing::ForwardingHost {
            using ForwardingHost::ForwardingHost;
            void WriteStderr(std::string_view text) override { Host::WriteStderr(text); }
        } aloud(host_);
        return RunOn(aloud, "inplace=true");
    }

    // Records a request to end the program, and notes it in the folder too:
    // the proof that the process that ended got that far.
    void AskToEnd() {
        WriteFile(dir_ / "asked", "");
        RecordInterruption(SIGTERM);
    }

    // The run, with a request to end coming in: the process ends by it,
    // with the file as it was and nothing left beside it.
    void ExpectEndedByRequestWithTheFileOld() {
        ForDeathTest(true);
#ifdef _WIN32
        // As Windows ends a console program on Ctrl+C.
        const auto ended = ::testing::ExitedWithCode(static_cast<int>(0xC000013AU));
#else
        const auto ended = ::testing::KilledBySignal(SIGTERM);
#endif
        EXPECT_EXIT(RunInPlaceAloud(), ended, "^$");
        ForDeathTest(false);
        EXPECT_EQ(ReadFile(dir_ / "src.bin"), source_);
        EXPECT_EQ(FolderListing(),
                  (std::vector<std::string>{"asked", "data.bin", "p.txt", "src.bin"}));
    }

  private:
    int RunOn(Host& host, const std::string& option) {
        return RunHexmend(host, {host_.ExecutablePath(), (dir_ / "p.txt").string(), option});
    }
};

class InPlaceStops : public InPlace, public ::testing::WithParamInterface<std::size_t> {};

// The k-th write fails part way, as under a limit on the size of files,
// which every later write beyond it would meet again.
TEST_P(InPlaceStops, AtAFailedWriteThoseWrittenArePutBack) {
    host_.faults.writeLimit = kInPlaceRanges[GetParam()] + kInPlaceBytes.size() / 2;
    const int rc = RunInPlace();
    EXPECT_EQ(host_.stderrText,
              "hexmend: cannot write " + (dir_ / "src.bin").string() + ": File too large\n");
    ExpectRunTimeFailure(rc, "src.bin", "File too large", false);
}

TEST_P(InPlaceStops, AtARequestToEndThoseWrittenArePutBack) {
    std::size_t writes = 0;
    host_.faults.beforeWrite = [this, &writes] {
        if (writes++ == GetParam()) {
            AskToEnd();
        }
    };
    ExpectEndedByRequestWithTheFileOld();
}

INSTANTIATE_TEST_SUITE_P(EveryWrite, InPlaceStops,
                         ::testing::Range<std::size_t>(0, std::size(kInPlaceRanges)));

// Between the journal's creation and its first write: the journal goes too.
TEST_F(InPlace, ARequestToEndAsTheJournalIsMadeLeavesNoJournal) {
    host_.faults.afterCreate = [this] { AskToEnd(); };
    ExpectEndedByRequestWithTheFileOld();
}

// When the old bytes cannot be put back either, the journal stays, the
// message says so, and the next run rolls the file back.
TEST_F(InPlace, AJournalThatCannotBeUndoneStaysForTheNextRun) {
    host_.faults.syncFails = true;
    EXPECT_EQ(RunInPlace(), 1);
    const std::string file = (dir_ / "src.bin").string();
    EXPECT_EQ(host_.stderrText, "hexmend: cannot sync " + file +
                                    ": Input/output error; the old bytes stay in " + file +
                                    ".hexmend-journal for the next run to put back\n");
    host_.faults = Faults();
    host_.stdoutText.clear();
    host_.stderrText.clear();
    EXPECT_EQ(RunInPlace("check=true"), 0) << host_.stderrText;
    EXPECT_NE(host_.stdoutText.find("rolled back an interrupted run: " + file), std::string::npos)
        << host_.stdoutText;
    EXPECT_EQ(ReadFile(dir_ / "src.bin"), source_);
    EXPECT_EQ(FolderListing(), (std::vector<std::string>{"data.bin", "p.txt", "src.bin"}));
}

// ---- hexmend-diff: the patch file it streams out ----

class DiffFaults : public FaultInjection {
  protected:
    void SetUp() override {
        FaultInjection::SetUp();
        // A change every 64 bytes: a patch file larger than the source.
        changed_ = source_;
        for (std::size_t i = 0; i < changed_.size(); i += 64) {
            changed_[i] = static_cast<char>(~changed_[i]);
        }
        WriteFile(dir_ / "new.bin", changed_);
    }

    int RunDiff() {
        return RunHexmendDiff(host_, {"hexmend-diff", (dir_ / "src.bin").string(),
                                      (dir_ / "new.bin").string(), (dir_ / "p.patch").string()});
    }

    // One "hexmend-diff: " line naming reason; the folder as it was.
    void ExpectFailure(int rc, const std::string& reason, const std::string& patchBefore) {
        EXPECT_EQ(rc, 1);
        const std::string& err = host_.stderrText;
        EXPECT_EQ(err.rfind("hexmend-diff: ", 0), 0u) << err;
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
        EXPECT_NE(err.find(reason), std::string::npos) << err;
        std::vector<std::string> expected = {"data.bin", "new.bin", "p.txt", "src.bin"};
        if (!patchBefore.empty()) {
            expected.push_back("p.patch");
            EXPECT_EQ(ReadFile(dir_ / "p.patch"), patchBefore);
        }
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(FolderListing(), expected);
    }

    std::string changed_;
};

class DiffWriteFaults : public DiffFaults,
                        public ::testing::WithParamInterface<std::tuple<WriteFault, bool>> {};

TEST_P(DiffWriteFaults, LeaveNoPatchFile) {
    const auto& [fault, patchExists] = GetParam();
    const std::string before = patchExists ? kOldTarget : "";
    if (patchExists) {
        WriteFile(dir_ / "p.patch", before);
    }
    fault.arm(host_.faults);
    ExpectFailure(RunDiff(), fault.reason, before);
}

INSTANTIATE_TEST_SUITE_P(Faults, DiffWriteFaults,
                         ::testing::Combine(::testing::ValuesIn(kWriteFaults), ::testing::Bool()),
                         [](const ::testing::TestParamInfo<std::tuple<WriteFault, bool>>& param) {
                             return std::string(std::get<0>(param.param).name) +
                                    (std::get<1>(param.param) ? "_OverExistingPatchFile"
                                                              : "_NoPatchFileBefore");
                         });

TEST_F(DiffFaults, FileThatShrinksWhileItIsRead) {
    host_.faults.readStops = "new.bin";
    host_.faults.readStopsAfter = kSourceSize - 1;
    ExpectFailure(RunDiff(), "new.bin: the file shrank", "");
}

TEST_F(DiffFaults, ReadError) {
    host_.faults.readFails = "src.bin";
    ExpectFailure(RunDiff(), "Input/output error", "");
}

TEST_F(DiffFaults, ShortReadsGiveTheSamePatchFile) {
    ASSERT_EQ(RunDiff(), 0) << host_.stderrText;
    const std::string whole = ReadFile(dir_ / "p.patch");
    host_.faults.readChunk = 4093;
    ASSERT_EQ(RunDiff(), 0) << host_.stderrText;
    EXPECT_EQ(ReadFile(dir_ / "p.patch"), whole);
}

}  // namespace
}  // namespace hexmend
