// Power losses at every step of the runs that write, and just after them:
// whole runs in memory on a host that loses power at a chosen step and keeps
// an arbitrary part of what was not yet durable. Whatever survives, the next
// run must find the file old or new (a journal rolled back), and a run after
// it must leave no journal and no temporary file behind; after a run that
// returned, what it did must have lasted, with nothing left beside it.

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <iostream>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "cli/entry.h"
#include "host/host.h"
#include "memory_host.h"

namespace hexmend {
namespace {

using testing::MemoryHost;
using testing::PowerLoss;

// Random subsets of the unsynced steps tried at each step; odd ones tear
// writes.
constexpr std::uint32_t kSubsets = 8;

std::string Hex(const std::string& bytes) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string text;
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        text += kDigits[b >> 4];
        text += kDigits[b & 15];
        text += ' ';
    }
    return text;
}

std::string Letters(std::mt19937& random, std::size_t n) {
    std::string text(n, 'a');
    for (char& c : text) {
        c = static_cast<char>('a' + random() % 26);
    }
    return text;
}

std::string Compress(const std::string& text) {
    uLongf size = compressBound(static_cast<uLong>(text.size()));
    std::string stream(size, '\0');
    EXPECT_EQ(compress2(reinterpret_cast<Bytef*>(&stream[0]), &size,
                        reinterpret_cast<const Bytef*>(text.data()),
                        static_cast<uLong>(text.size()), Z_DEFAULT_COMPRESSION),
              Z_OK);
    stream.resize(size);
    return stream;
}

std::string Block(const std::string& action, std::size_t position, const std::string& oldData,
                  const std::string& newData) {
    char at[32];
    std::snprintf(at, sizeof at, "%zX", position);
    return "<patch>\nname=p\nenabled=true\naction=" + action + "\nposition=" + at +
           "\nolddata=" + oldData + "\nnewdata=" + newData + "\n</patch>\n";
}

bool IsLeftover(const std::string& path) {
    const std::string name = path.substr(path.rfind('/') + 1);
    const std::string journal = ".hexmend-journal";
    return name.rfind(".hexmend-", 0) == 0 ||
           (name.size() >= journal.size() &&
            name.compare(name.size() - journal.size(), journal.size(), journal) == 0);
}

// What a run did: its exit code, or that the power went during it.
struct Outcome {
    int rc = -1;
    bool powerLost = false;
    std::string stdoutText;
    std::string stderrText;
};

// The files of one scenario: a 64 KiB source /d/src.bin with four ranges to
// change, one of them a zlib stream of some kilobytes that crosses sector
// boundaries; an old target /d/out.bin; the patch file /d/p.txt; and
// /d/z.txt, which writes one byte into the same target whatever it holds.
// A target in a folder of its own (new/out.bin) has no old file or folder.
class Scenario {
  public:
    Scenario(const std::string& target, std::vector<std::string> options)
        : target_("/d/" + target), options_(std::move(options)) {
        std::mt19937 random(7);
        source_.resize(64 * 1024);
        for (char& c : source_) {
            c = static_cast<char>(random());
        }
        const std::string oldText = Letters(random, 6000);
        const std::string newText = Letters(random, 4500);
        const std::string stream = Compress(oldText);
        source_.replace(0x1203, stream.size(), stream);
        source_.replace(0x10, 5, "Hello");
        const std::string header = "targetfile=" + target + "\nsourcefile=src.bin\n";
        patch_ = header + Block("replace_string", 0x10, "Hello", "Howdy") +
                 Block("replace_bytes", 0x5F0, Hex(source_.substr(0x5F0, 32)),
                       Hex(std::string(32, 'N'))) +
                 Block("replace_zlib", 0x1203, oldText, newText) +
                 Block("replace_bytes", source_.size() - 4, Hex(source_.substr(source_.size() - 4)),
                       "01 02 03 04");
        again_ = header + Block("replace_string", 0, "DONOTCHECK", "Z");
        if (target == "src.bin") {
            old_ = source_;
        } else if (target == "out.bin") {
            old_ = "the target as it was\n";
        }
    }

    // A host with the scenario's files, its crash model on.
    void SetUp(MemoryHost& host) const {
        host.PutFile("/d/src.bin", source_);
        host.PutFile("/d/out.bin", "the target as it was\n");
        host.PutFile("/d/p.txt", patch_);
        host.PutFile("/d/z.txt", again_);
        host.EnableCrashModel();
    }

    Outcome Run(MemoryHost& host, const std::string& patch,
                const std::vector<std::string>& options) const {
        host.stdoutText.clear();
        host.stderrText.clear();
        std::vector<std::string> arguments = {MemoryHost::kProgramPath, patch};
        arguments.insert(arguments.end(), options.begin(), options.end());
        Outcome outcome;
        try {
            outcome.rc = RunHexmend(host, arguments);
        } catch (const PowerLoss&) {
            outcome.powerLost = true;
        }
        outcome.stdoutText = host.stdoutText;
        outcome.stderrText = host.stderrText;
        if (outcome.powerLost) {
            host.RestorePower();
        }
        return outcome;
    }
    // The scenario's run.
    Outcome Patch(MemoryHost& host) const { return Run(host, "/d/p.txt", options_); }
    // The next run after a power loss: a check, which rolls back first.
    Outcome Check(MemoryHost& host) const { return Run(host, "/d/p.txt", {"check=true"}); }

    const std::string& target() const { return target_; }
    // The target before the run; none when it did not exist.
    const std::optional<std::string>& oldTarget() const { return old_; }
    const std::string& source() const { return source_; }

    // What the target holds after the scenario's run.
    std::string NewTarget() const {
        MemoryHost host;
        SetUp(host);
        const Outcome outcome = Patch(host);
        EXPECT_EQ(outcome.rc, 0) << outcome.stdoutText << outcome.stderrText;
        return *host.GetFile(target_);
    }

    // The number of steps of the scenario's run from a fresh set-up.
    std::uint64_t Steps() const {
        MemoryHost host;
        SetUp(host);
        (void)Patch(host);
        return host.Steps();
    }

  private:
    std::string target_;
    std::vector<std::string> options_;
    std::string source_;
    std::string patch_;
    std::string again_;
    std::optional<std::string> old_;
};

// Tallies of what the power losses left, for the figures printed at the end.
struct Tally {
    int old = 0;
    int fresh = 0;
    int rolledBack = 0;
};

// After a power loss: the next run (a check) finds the target old or new,
// the source untouched unless it is the target, and no journal; a normal
// run after it leaves no temporary file. Counts the outcome into tally.
void ExpectRecovered(const Scenario& scenario, MemoryHost& host, const std::string& fresh,
                     Tally& tally) {
    const Outcome check = scenario.Check(host);
    EXPECT_EQ(check.stderrText, "") << check.stdoutText;
    if (check.stdoutText.find("rolled back an interrupted run: " + scenario.target()) !=
        std::string::npos) {
        ++tally.rolledBack;
    }
    const std::string* target = host.GetFile(scenario.target());
    if (target == nullptr) {
        EXPECT_FALSE(scenario.oldTarget().has_value()) << "the target is gone";
        ++tally.old;
    } else if (*target == scenario.oldTarget()) {
        ++tally.old;
    } else {
        EXPECT_EQ(*target, fresh) << "the target is neither old nor new";
        ++tally.fresh;
    }
    if (scenario.target() != "/d/src.bin") {
        EXPECT_EQ(*host.GetFile("/d/src.bin"), scenario.source());
    }
    for (const auto& [path, bytes] : host.Files()) {
        EXPECT_FALSE(path.size() > 16 && path.substr(path.size() - 16) == ".hexmend-journal")
            << path;
    }
    const Outcome again = scenario.Run(host, "/d/z.txt", {});
    EXPECT_EQ(again.rc, 0) << again.stdoutText << again.stderrText;
    for (const auto& [path, bytes] : host.Files()) {
        EXPECT_FALSE(IsLeftover(path)) << path;
    }
    EXPECT_TRUE(host.TempFiles().empty());
    EXPECT_EQ(host.OpenWriters(), 0);
}

// A power cut just after a run that returned: what the run did has lasted.
// The target holds expected, and nothing of the run is left beside it.
void ExpectLasted(const Scenario& scenario, MemoryHost& host, const std::string& expected,
                  std::uint32_t seed) {
    host.CutPower(seed, seed % 2 == 1);
    const std::string* target = host.GetFile(scenario.target());
    ASSERT_NE(target, nullptr);
    EXPECT_EQ(*target, expected) << "what the run did was lost";
    for (const auto& [path, bytes] : host.Files()) {
        EXPECT_FALSE(IsLeftover(path)) << path;
    }
}

// Cuts the power at every step of the scenario's run and just after it, with
// several random subsets of the unsynced steps each.
void PowerLossAtEveryStep(const Scenario& scenario, const char* what, Tally& tally) {
    const std::string fresh = scenario.NewTarget();
    EXPECT_NE(fresh, scenario.oldTarget());
    const std::uint64_t steps = scenario.Steps();
    for (std::uint64_t step = 0; step < steps; ++step) {
        for (std::uint32_t seed = 0; seed < kSubsets; ++seed) {
            SCOPED_TRACE("step " + std::to_string(step) + ", seed " + std::to_string(seed));
            MemoryHost host;
            scenario.SetUp(host);
            host.PlanPowerLoss(step, seed, seed % 2 == 1);
            const Outcome crashed = scenario.Patch(host);
            ASSERT_TRUE(crashed.powerLost);
            ExpectRecovered(scenario, host, fresh, tally);
        }
    }
    for (std::uint32_t seed = 0; seed < kSubsets; ++seed) {
        SCOPED_TRACE("after the run, seed " + std::to_string(seed));
        MemoryHost host;
        scenario.SetUp(host);
        const Outcome done = scenario.Patch(host);
        ASSERT_EQ(done.rc, 0) << done.stdoutText << done.stderrText;
        ExpectLasted(scenario, host, fresh, seed);
        ExpectRecovered(scenario, host, fresh, tally);
    }
    std::cout << what << ": " << steps << " steps x " << kSubsets << " subsets: " << tally.old
              << " old, " << tally.fresh << " new, " << tally.rolledBack << " rolled back\n";
    // Both ends must have been reached, or the steps were not all walked.
    EXPECT_GT(tally.old, 0);
    EXPECT_GT(tally.fresh, 0);
}

TEST(PowerLoss, NewTargetBesideTheSource) {
    Tally tally;
    PowerLossAtEveryStep(Scenario("out.bin", {}), "new target beside the source", tally);
}

TEST(PowerLoss, NewTargetOverTheSource) {
    Tally tally;
    PowerLossAtEveryStep(Scenario("src.bin", {}), "new target over the source", tally);
}

TEST(PowerLoss, NewTargetInANewFolder) {
    Tally tally;
    PowerLossAtEveryStep(Scenario("new/out.bin", {}), "new target in a new folder", tally);
}

TEST(PowerLoss, InPlace) {
    Tally tally;
    PowerLossAtEveryStep(Scenario("src.bin", {"inplace=true"}), "in place", tally);
    EXPECT_GT(tally.rolledBack, 0);
}

// A power loss while a run rolls back: the in-place run loses power as it
// syncs its writes (the journal durable, the writes kept in part and torn),
// the next run loses power at each step of its roll back, and the run after
// that must still find the old file.
TEST(PowerLoss, DuringRollBack) {
    const Scenario scenario("src.bin", {"inplace=true"});
    const std::uint64_t inPlaceSteps = scenario.Steps();
    // The last five steps: the file's sync, the journal's invalidation and its
    // sync, the journal's removal and the folder's sync.
    const std::uint64_t writesSynced = inPlaceSteps - 5;
    Tally tally;
    std::uint64_t recoverySteps = 0;
    for (std::uint32_t firstSeed = 1; firstSeed < kSubsets; firstSeed += 2) {
        MemoryHost probe;
        scenario.SetUp(probe);
        probe.PlanPowerLoss(writesSynced, firstSeed, true);
        ASSERT_TRUE(scenario.Patch(probe).powerLost);
        const Outcome recovery = scenario.Check(probe);
        ASSERT_NE(recovery.stdoutText.find("rolled back an interrupted run"), std::string::npos);
        recoverySteps = probe.Steps();
        for (std::uint64_t step = 0; step < recoverySteps; ++step) {
            for (std::uint32_t seed = 0; seed < kSubsets; ++seed) {
                SCOPED_TRACE("first seed " + std::to_string(firstSeed) + ", step " +
                             std::to_string(step) + ", seed " + std::to_string(seed));
                MemoryHost host;
                scenario.SetUp(host);
                host.PlanPowerLoss(writesSynced, firstSeed, true);
                ASSERT_TRUE(scenario.Patch(host).powerLost);
                host.PlanPowerLoss(step, seed, seed % 2 == 1);
                ASSERT_TRUE(scenario.Check(host).powerLost);
                ExpectRecovered(scenario, host, "", tally);
            }
        }
        for (std::uint32_t seed = 0; seed < kSubsets; ++seed) {
            SCOPED_TRACE("first seed " + std::to_string(firstSeed) +
                         ", after the roll back, seed " + std::to_string(seed));
            MemoryHost host;
            scenario.SetUp(host);
            host.PlanPowerLoss(writesSynced, firstSeed, true);
            ASSERT_TRUE(scenario.Patch(host).powerLost);
            ASSERT_EQ(scenario.Check(host).rc, 0);
            ExpectLasted(scenario, host, *scenario.oldTarget(), seed);
            ExpectRecovered(scenario, host, "", tally);
        }
    }
    std::cout << "roll back: " << recoverySteps << " steps x " << kSubsets << " subsets x "
              << kSubsets / 2 << " torn files: " << tally.old << " old, " << tally.fresh
              << " new\n";
    EXPECT_EQ(tally.fresh, 0);
}

// A journal is applied only to the file it was made for: under the same
// name, another file with the same bytes is left alone, the run fails
// naming both, and the journal stays for the file it belongs to.
TEST(PowerLoss, JournalOfAnotherFileIsNotApplied) {
    const Scenario scenario("src.bin", {"inplace=true"});
    MemoryHost host;
    scenario.SetUp(host);
    // While the file's writes are synced: the journal is complete by then.
    host.PlanPowerLoss(scenario.Steps() - 5, 0, false);
    ASSERT_TRUE(scenario.Patch(host).powerLost);
    host.RestorePower();
    const std::string journal = "/d/src.bin.hexmend-journal";
    ASSERT_NE(host.GetFile(journal), nullptr);
    const std::string bytes = *host.GetFile("/d/src.bin");
    host.PutFile("/d/src.bin", bytes);
    const Outcome check = scenario.Check(host);
    EXPECT_EQ(check.rc, 1);
    EXPECT_NE(check.stderrText.find(journal + " was not made for /d/src.bin"), std::string::npos)
        << check.stderrText;
    EXPECT_EQ(*host.GetFile("/d/src.bin"), bytes);
    EXPECT_NE(host.GetFile(journal), nullptr);
}

}  // namespace
}  // namespace hexmend
