// Whole runs, as a press of "Go!" makes them, on real files: boxes, pause, stop, files after.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <random>

#include "shell/run_patch.h"
#include "support/boxes.h"
#include "support/error_stop.h"
#include "tests/test_files.h"
#include "tests/test_platform.h"

#ifdef _WIN32
#include <windows.h>

#include "support/file_identity.h"
#include "support/rename_ways_win32.h"
#else
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/stat.h>
#include <unistd.h>

#include <thread>

#include "shell/progress_line.h"
#include "support/progress.h"
#endif

namespace quelvane::testing {
namespace {

#ifdef _WIN32
const char* const kNegativeSeekBox = "Runtime error 131 at 00401040";  // ERROR_NEGATIVE_SEEK
constexpr std::uint32_t kNegativeSeek = 131;
constexpr bool kSystemCopies = false;  // Windows has no in-kernel copy between two files
#else
const char* const kNegativeSeekBox = "Runtime error  22 at 00401040";  // EINVAL
constexpr std::uint32_t kNegativeSeek = 22;
constexpr bool kSystemCopies = true;
#endif
const std::vector<std::string> kTwoFiles = {"patchdata.mul", "verdata.mul"};

class Run : public ::testing::Test {
  protected:
    void SetUp() override {
        SetBoxOwner(reinterpret_cast<WindowHandle>(0x42));
        os.WriteProtected = {"patchdata.mul"};  // read access is all the patch needs
    }
    void TearDown() override { SetBoxOwner(kNoWindow); }

    std::uint32_t Press(const Bytes& target, const Bytes& patch) {
        WriteFileBytes("verdata.mul", target);
        WriteFileBytes("patchdata.mul", patch);
        return os.Press(completed);
    }

    // After a run that did not complete: the pair as it was, nothing else, nothing open.
    void ExpectUntouched(const Bytes& target, const Bytes& patch) {
        EXPECT_FALSE(completed);
        EXPECT_TRUE(ReadFileBytes("verdata.mul") == target);
        EXPECT_TRUE(ReadFileBytes("patchdata.mul") == patch);
        EXPECT_EQ(directory.Names(), kTwoFiles);
        EXPECT_TRUE(os.Live.empty());
    }

    TempDirectory directory;
    TestPlatform os;
    bool completed = false;
};

struct Case {
    const char* Name;
    Bytes Target, Patch;
    std::string Box;        // the one box the run shows
    std::uint32_t Stop;     // the error stop's number, or 0
    std::string Written{};  // the written file, rendered, when the run completes
};

std::vector<Case> Cases() {
    const Bytes good = File({{1, 1, 10, 'a'}, {1, 2, 10, 'b'}});
    const Bytes empty = FileBuilder().Build();
    // Each rule of pruning, replacing and placing new entries, and equal new keys reversed.
    const Bytes rulesTarget =
        FileBuilder()
            .With({{1, 1, 1, 'a', 1}, {1, 1, 2, 'b', 2}, {1, 4, 1, 'c', 3}, {2, 3, 2, 'd', 4}})
            .Entry({5, 0, -1, 0, 5})
            .Build();
    const Bytes rulesPatch = File({{1, 4, 3, 'P', 10},
                                   {2, 1, 1, 'Q', 11},
                                   {1, 2, 1, 'R', 12},
                                   {7, 1, 2, 'S', 13},
                                   {7, 1, 1, 'T', 14},
                                   {3, 7, 1, 'U', 15},
                                   {1, 4, 1, 'V', 16}});
    const Bytes noData = FileBuilder()
                             .Entry({1, 1, 0, 100, 11})
                             .Entry({1, 2, 500, -1, 12})
                             .Entry({1, 3, 30, 0, 13})
                             .Entry({1, 4, -1, 77, 14})
                             .With({{1, 5, 3, 'x', 15}})
                             .Build();
    const Bytes at1000 =
        FileBuilder().Entry({7, 7, 1000, 10, 0}).Data(Bytes(976, '.')).Data(Bytes(10, 'z')).Build();
    // Blocks long enough to be copied on their own, one longer than the copy buffer.
    const Bytes longTarget = File({{6, 1, 70000, 'l'}, {6, 2, 5, 's'}, {6, 3, 1052576, 'L'}});
    const Bytes badLength = FileBuilder().With({{1, 1, 4, 'a'}}).Entry({2, 9, 8, -2, 0}).Build();
    const Bytes negative = FileBuilder().Entry({1, 1, -20, 4, 0}).Data(Bytes(8, 0)).Build();
    return {
        {"FileIds up to 33 kept, compared signed; records read in turn",
         File({{5, 1, 4, 'a', 1}, {34, 2, 4, 'b', 2}, {33, 3, 2, 'c', 3}, {-1, 4, 1, 'd', 4}}),
         empty, "Done.", 0, "(5,1,64,4,1)4*a (33,3,68,2,3)2*c (-1,4,70,1,4)1*d"},
        {"the four no-data markers; Extra carried", noData, empty, "Done.", 0,
         "(1,1,-1,0,11) (1,2,-1,0,12) (1,3,-1,0,13) (1,4,-1,0,14) (1,5,104,3,15)3*x"},
        {"a block read at 1000 is written at 24; the file shrinks", at1000, empty, "Done.", 0,
         "(7,7,24,10,0)10*z"},
        {"pruned, replaced and inserted by the rules", rulesTarget, rulesPatch, "Done.", 0,
         "(1,1,184,2,2)2*b (1,2,186,1,12)1*R (1,4,187,3,10)3*P (2,1,190,1,11)1*Q "
         "(2,3,191,2,4)2*d (3,7,193,1,15)1*U (5,0,-1,0,5) (7,1,194,1,14)1*T (7,1,195,2,13)2*S"},
        {"long blocks between short ones", longTarget, File({{6, 2, 100000, 'p'}, {6, 4, 9, 'q'}}),
         "Done.", 0,
         "(6,1,84,70000,0)70000*l (6,2,70084,100000,0)100000*p (6,3,170084,1052576,0)1052576*L "
         "(6,4,1222660,9,0)9*q"},
        {"both empty give a four-byte file", empty, empty, "Done.", 0, ""},
        {"a patch already in the target", good, File({{1, 2, 10, 'b'}}), "Done.", 0,
         "(1,1,44,10,0)10*a (1,2,54,10,0)10*b"},
        {"an empty target takes the patch", empty, File({{2, 2, 3, 'p'}}), "Done.", 0,
         "(2,2,24,3,0)3*p"},
        {"count above 65535", FileBuilder().Count(65536).Build(), empty,
         "Error reading Verdata.mul: entry count 65536 is above 65535", 0},
        {"count below 0", FileBuilder().Count(-1).Build(), empty,
         "Error reading Verdata.mul: entry count -1 is below 0", 0},
        {"Length below -1", badLength, empty,
         "Error reading Verdata.mul: entry 1 (FileId 2, BlockId 9) has length -2, below -1", 0},
        {"a damaged patch", good, FileBuilder().Count(-4).Build(),
         "Error reading Patchdata.mul: entry count -4 is below 0", 0},
        {"an empty file", {}, empty, "Runtime error 100 at 00401010", 100},
        {"cut inside the head", Bytes(good.begin(), good.begin() + 3), empty,
         "Runtime error 100 at 00401010", 100},
        {"cut inside the index", Bytes(good.begin(), good.begin() + 30), empty,
         "Runtime error 100 at 00401020", 100},
        {"a count of 65535 far beyond the file", FileBuilder().Count(65535).Build(), empty,
         "Runtime error 100 at 00401020", 100},
        {"cut inside a block", Bytes(good.begin(), good.end() - 1), empty,
         "Runtime error 100 at 00401050", 100},
        {"a patch cut inside a block", good, Bytes(good.begin(), good.end() - 1),
         "Runtime error 100 at 00401050", 100},
        {"a negative Offset", negative, empty, kNegativeSeekBox, kNegativeSeek},
    };
}

TEST_F(Run, ReadsLaysOutAndWritesByTheFormatsRules) {
    for (const Case& c : Cases()) {
        SCOPED_TRACE(c.Name);
        os.Boxes.clear();
        os.Pauses.clear();
        EXPECT_EQ(Press(c.Target, c.Patch), c.Stop);
        ASSERT_EQ(os.BoxTexts(), std::vector<std::string>{c.Box});
        EXPECT_EQ(os.Boxes[0].Caption, c.Stop != 0 ? "Error" : "Quelvane");
        EXPECT_EQ(os.Boxes[0].Style, c.Stop != 0 ? 0u : completed ? 0x40u : 0x10u);
        EXPECT_EQ(os.Boxes[0].Owned, c.Stop == 0);
        EXPECT_FALSE(os.Boxes[0].Locked) << "another run would be refused while the box waits";
        if (!completed) {
            ExpectUntouched(c.Target, c.Patch);
            continue;
        }
        // "Done." after the pause; before it one flush of the new file, then the replace; nothing
        // made at all when the file holds the result already.
        EXPECT_EQ(os.Pauses, std::vector<std::uint32_t>{2500});
        EXPECT_EQ(os.Boxes[0].PausesBefore, 1u);
        const auto& ops = os.Operations;
        const bool unchanged = Render(c.Target) == c.Written;
        EXPECT_EQ(std::count(ops.begin(), ops.end(), Operation("flush")), unchanged ? 0 : 1);
        EXPECT_EQ(std::count(ops.begin(), ops.end(), Operation("create")), unchanged ? 0 : 1);
        if (!unchanged) {
            EXPECT_LT(std::find(ops.begin(), ops.end(), Operation("flush")),
                      std::find(ops.begin(), ops.end(), Operation("replace")));
        }
        EXPECT_EQ(Render(ReadFileBytes("verdata.mul")), c.Written);
        EXPECT_EQ(directory.Names(), kTwoFiles);
        EXPECT_TRUE(os.Live.empty());
    }
}

// Blocks anywhere, in any order, short, long, longer than the buffer, 5000 tiny and close (long
// scattered reads; an index of two slices), 350 tiny and far apart (relayed through more pages
// than a pipe holds): every byte lands, with the kernel's copy and without.
TEST_F(Run, EveryBlockIsCopiedByteForByteOnEveryPath) {
    std::mt19937 random(7);
    const auto pick = [&](std::int32_t low, std::int32_t high) {
        return std::uniform_int_distribution<std::int32_t>(low, high)(random);
    };
    Bytes area(3u << 20);
    for (auto& byte : area)
        byte = static_cast<unsigned char>(random());
    for (int round = 0; round < 12; ++round) {
        os.KernelCopy = round % 2 == 0;
        const int count = round % 4 == 1 ? 5000 : round % 4 == 2 ? 350 : pick(1, 200);
        const std::int32_t start = 4 + 20 * count;
        const std::int32_t size = start + static_cast<std::int32_t>(area.size());
        FileBuilder target;
        std::vector<std::pair<std::int32_t, std::int32_t>> blocks;  // offset, length
        for (int k = 0; k < count; ++k) {
            const int kind = pick(0, 19);
            std::int32_t length = kind < 15   ? pick(1, 5000)
                                  : kind < 19 ? pick(60000, 300000)
                                              : pick(1 << 20, 3 << 19);
            std::int32_t offset = pick(1, size - length);
            if (round % 4 == 1 || round % 4 == 2) {
                length = pick(1, 16);
                offset = start + k * (round % 4 == 1 ? 600 : 8900);
            }
            target.Entry({1, k, offset, length, 0});
            blocks.emplace_back(offset, length);
        }
        const Bytes file = target.Data(area).Build();
        Bytes expected;
        for (const auto& [offset, length] : blocks)
            expected.insert(expected.end(), file.begin() + offset, file.begin() + offset + length);
        ASSERT_EQ(Press(file, FileBuilder().Build()), 0u) << "round " << round;
        const Bytes written = ReadFileBytes("verdata.mul");
        EXPECT_NE(Render(written).rfind("broken", 0), 0u) << "round " << round;
        ASSERT_TRUE(Bytes(written.begin() + start, written.end()) == expected) << "round " << round;
    }
}

#ifndef _WIN32
// The patch cut short by another program once the run has loaded it: the copy of its long block,
// the relay of short ones and (without the kernel's copy) their reads come up short for real.
// (Windows lets no other program write a file the run holds.)
TEST_F(Run, ASourceCutShortDuringTheCopyStopsTheRun) {
    const Bytes target = File({{6, 1, 5, 's'}, {6, 3, 7, 't'}});
    const std::tuple<Operation, bool, Bytes> cases[] = {
        {"copy", true, File({{6, 2, 100000, 'p'}})},
        {"relay", true, File({{6, 2, 9, 'q'}})},
        {"read", false, File({{6, 2, 9, 'q'}})},
    };
    for (const auto& [path, kernelCopy, patch] : cases) {
        SCOPED_TRACE(std::string(path));
        os.KernelCopy = kernelCopy;
        os.Meanwhile = [&, patch = patch](Operation operation) {
            if (operation == "create")
                std::filesystem::resize_file("patchdata.mul", patch.size() - 1);
        };
        EXPECT_EQ(Press(target, patch), 100u);
        os.Meanwhile = [](Operation) {};
        EXPECT_NE(std::find(os.Operations.begin(), os.Operations.end(), path), os.Operations.end());
        EXPECT_FALSE(completed);
        EXPECT_TRUE(ReadFileBytes("verdata.mul") == target);
        EXPECT_EQ(directory.Names(), kTwoFiles);
        EXPECT_TRUE(os.Live.empty());
    }
}
#endif

// 65535 entries pass, 65536 do not; a result ending at byte 2^31 - 1 passes, one byte more does
// not. What passes is stopped at its create, so that nothing that large is written.
TEST_F(Run, TheLimitsHoldAtTheirExactEdges) {
    const auto table = [](std::int32_t count, std::int32_t last) {
        FileBuilder file;
        for (std::int32_t k = 0; k < count; ++k)
            file.Entry({1, k, last != 0 ? 42964 : -1, k < 2147 ? 1000000 : last, 0});
        return file.Data(Bytes(last != 0 ? 1000000 : 0, 'd')).Build();
    };
    const std::pair<Bytes, std::string> cases[] = {
        {table(65534, 0), ""},
        {table(65535, 0), ": the result has 65536 entries, 1 more than the limit of 65535"},
        {table(2148, 440663), ""},
        {table(2148, 440664),
         ": the result would be 2147483648 bytes long, 1 more than the limit "
         "of 2147483647"}};
    const Bytes patch = FileBuilder().Entry({2, 0, -1, 0, 0}).Build();
    for (const auto& [target, limit] : cases) {
        os.Boxes.clear();
        os.InjectedFault = Fault{1, 5, "create"};
        EXPECT_EQ(Press(target, patch), 0u);
        EXPECT_EQ(os.BoxTexts(), std::vector<std::string>{"Error writing Verdata.mul" + limit});
        ExpectUntouched(target, patch);
    }
}

TEST_F(Run, AMissingOrWriteProtectedTargetCannotBeOpened) {
    EXPECT_FALSE(RunPatch());
    os.WriteProtected = {"verdata.mul"};
    const Bytes target = File({{1, 1, 5, 'v'}}), patch = FileBuilder().Build();
    EXPECT_EQ(Press(target, patch), 0u);
    EXPECT_EQ(os.BoxTexts(), (std::vector<std::string>(2, "Error opening Verdata.mul")));
    ExpectUntouched(target, patch);
}

// Every I/O operation of each completed run above fails in turn, with a system error and, where
// it moves bytes, short: a box or the right error stop, and the pair exactly as it was.
TEST_F(Run, EveryFailingOperationLeavesThePairAsItWas) {
    const std::string boxed = " resolve lock open create stale attributes verify replace ";
    std::size_t injected = 0;
    for (const Case& pair : Cases()) {
        for (const bool kernelCopy : {true, false}) {
            os.KernelCopy = kernelCopy;
            os.InjectedFault.reset();
            if (Press(pair.Target, pair.Patch) != 0 || !completed)
                continue;
            const std::vector<Operation> clean = os.Operations;
            for (std::size_t k = 1; k <= clean.size(); ++k) {
                const Operation operation = clean[k - 1];
                const bool moves =
                    operation == "read" || operation == "write" ||
                    ((operation == "copy" || operation == "relay") && kernelCopy && kSystemCopies);
                for (const SystemError error : {28u, 0u}) {
                    if (error == 0 && !moves)
                        continue;
                    SCOPED_TRACE(std::string(pair.Name) + ": " + std::string(operation) + " " +
                                 std::to_string(k) + (error != 0 ? " fails" : " comes up short") +
                                 (kernelCopy ? "" : ", buffered copy"));
                    os.Boxes.clear();
                    os.Pauses.clear();
                    os.InjectedFault = Fault{k, error};
                    const std::uint32_t stop = Press(pair.Target, pair.Patch);
                    ++injected;
                    ASSERT_GE(os.Operations.size(), k) << "the fault was not reached";
                    ASSERT_EQ(os.Boxes.size(), 1u);
                    if (operation == "confirm") {  // after the rename: replaced, and said so
                        EXPECT_TRUE(completed);
                        EXPECT_EQ(os.Boxes[0].Text,
                                  "verdata.mul was replaced, but flushing the directory failed");
                        EXPECT_EQ(os.Boxes[0].Style, kBoxWarning);
                        EXPECT_EQ(os.Boxes[0].PausesBefore, 1u);
                        EXPECT_EQ(Render(ReadFileBytes("verdata.mul")), pair.Written);
                        continue;
                    }
                    EXPECT_EQ(os.Boxes[0].Caption, stop != 0 ? "Error" : "Quelvane");
                    if (stop != 0)
                        EXPECT_EQ(stop, error != 0 ? error : (operation == "write" ? 101u : 100u));
                    else
                        EXPECT_NE(boxed.find(" " + std::string(operation) + " "),
                                  std::string::npos);
                    ExpectUntouched(pair.Target, pair.Patch);
                    EXPECT_TRUE(os.Pauses.empty()) << "no pause, so no \"Done.\"";
                }
            }
        }
    }
    std::printf("[ fault injection ] %zu faults injected\n", injected);
    EXPECT_GT(injected, 300u);
}

// With a backup asked for, the old file is kept beside the new one: a second name of it where
// the file system gives one, else a copy with its times; an earlier backup is replaced. Every
// operation of such a run then fails in turn: the pair, and the earlier backup or its absence,
// as they were, nothing else left; a failure once the backup is in place leaves it there (the
// old file, which is the target still).
TEST_F(Run, ABackupIsTheOldFileAndEveryFailureLeavesTheEarlierOne) {
    namespace fs = std::filesystem;
    const Bytes target = File({{1, 1, 3, 'a'}}), patch = File({{1, 2, 3, 'b'}});
    const Bytes earlier(5, 'e');
    const auto old = fs::file_time_type::clock::now() - std::chrono::hours(24 * 400);
    RunOptions options;
    options.Backup.Control = BackupControl::Simple;
    std::size_t injected = 0;
    for (const bool links : {true, false}) {
        for (const bool hadBackup : {false, true}) {
            SCOPED_TRACE(std::string(links ? "links" : "no links") +
                         (hadBackup ? ", an earlier backup" : ""));
            os.HardLinks = links;
            const auto lay = [&] {
                WriteFileBytes("verdata.mul", target);
                WriteFileBytes("patchdata.mul", patch);
                fs::last_write_time("verdata.mul", old);
                fs::remove("verdata.mul.orig");
                if (hadBackup)
                    WriteFileBytes("verdata.mul.orig", earlier);
            };
            lay();
            const auto loadedTime = fs::last_write_time("verdata.mul");  // as the system keeps it
#ifndef _WIN32
            struct stat loaded {};
            ::stat("verdata.mul", &loaded);
#endif
            os.InjectedFault.reset();
            ASSERT_EQ(os.Press(completed, options), 0u);
            ASSERT_TRUE(completed) << os.BoxTexts()[0];
            EXPECT_EQ(Render(ReadFileBytes("verdata.mul")), "(1,1,44,3,0)3*a (1,2,47,3,0)3*b");
            EXPECT_TRUE(ReadFileBytes("verdata.mul.orig") == target);
            EXPECT_EQ(fs::last_write_time("verdata.mul.orig"), loadedTime);
#ifndef _WIN32
            struct stat kept {};
            ::stat("verdata.mul.orig", &kept);
            EXPECT_EQ(kept.st_ino == loaded.st_ino, links);
#endif
            const std::vector<Operation> clean = os.Operations;
            bool backupRenamed = false;  // the first "confirm" is the backup's
            // The second "verify" (the first is the target's) asks whether the backup's name is
            // the old file's already; a failed look only means that the backup is made as usual.
            const auto verify = std::find(clean.begin(), clean.end(), Operation("verify"));
            const std::size_t backupsVerify = static_cast<std::size_t>(
                std::find(verify + 1, clean.end(), Operation("verify")) - clean.begin() + 1);
            for (std::size_t k = 1; k <= clean.size(); ++k) {
                SCOPED_TRACE(std::string(clean[k - 1]) + " " + std::to_string(k) + " fails");
                lay();
                os.Boxes.clear();
                os.InjectedFault = Fault{k, 28};
                os.Press(completed, options);
                ++injected;
                backupRenamed = backupRenamed || clean[k - 1] == "confirm";
                if (completed) {
                    EXPECT_TRUE(k == clean.size() || k == backupsVerify)
                        << "only the last confirm comes after the rename";
                    continue;
                }
                if (backupRenamed || hadBackup) {
                    EXPECT_TRUE(ReadFileBytes("verdata.mul.orig") ==
                                (backupRenamed ? target : earlier));
                }
                EXPECT_TRUE(ReadFileBytes("verdata.mul") == target);
                const bool backup = hadBackup || backupRenamed;
                EXPECT_EQ(directory.Names().size(), 2u + (backup ? 1 : 0));
                EXPECT_TRUE(os.Live.empty());
            }
        }
    }
    std::printf("[ fault injection ] %zu faults injected into runs with a backup\n", injected);
    EXPECT_GT(injected, 60u);
}

// Where the file system keeps no second names and the old file's copy would not fit beside the
// new one: a dry run counts the copy and says so; the real run is refused before the copy begins,
// in words that name the backup, with nothing changed and nothing left.
TEST_F(Run, ABackupCopyThatDoesNotFitIsRefusedByNameAndCountedByADryRun) {
    const Bytes target = File({{1, 1, 3000, 'a'}}), patch = File({{1, 2, 3000, 'b'}});
    os.HardLinks = false;
    os.Room = 7000;  // the result (6044 bytes) fits, the result and the copy do not
    RunOptions options;
    options.Backup.Control = BackupControl::Simple;
    RunSummary summary;
    options.Summary = &summary;
    options.DryRun = true;
    WriteFileBytes("verdata.mul", target);
    WriteFileBytes("patchdata.mul", patch);
    ASSERT_EQ(os.Press(completed, options), 0u);
    EXPECT_EQ(summary.NotWritable, kDiskFull);
    EXPECT_EQ(summary.BackupNotKept, "verdata.mul.orig");
    options.DryRun = false;
    options.PauseAndSayDone = false;
    os.Boxes.clear();
    os.Room = 2000;  // what the new file leaves of the 7000
    EXPECT_EQ(os.Press(completed, options), 0u);
    EXPECT_EQ(os.BoxTexts(),
              std::vector<std::string>{"cannot keep the old verdata.mul as 'verdata.mul.orig'"});
    ExpectUntouched(target, patch);
    os.Room = 20000;
    EXPECT_EQ(os.Press(completed, options), 0u);
    EXPECT_TRUE(completed);
    EXPECT_TRUE(ReadFileBytes("verdata.mul.orig") == target);
}

#ifndef _WIN32
// What another process does to the links during a run through one (verdata.mul -> real/): a
// link put under the temporary file's name just before the create is a stale name, removed as a
// name; put back after that removal, just before the second create, it refuses the run; the link
// swapped to another file after the load redirects nothing, the loaded file is patched; the
// loaded file's own name swapped for a link just before the replace refuses the run. Nothing
// outside changes, nothing is left behind.
TEST_F(Run, LinksPlantedOrSwappedDuringARunRedirectNothing) {
    // Before the `nth` operation `when`, the command `plant`; whether a stale temporary file is
    // there from the start; what the file the link leads to is afterwards.
    const std::tuple<Operation, int, const char*, bool, const char*> cases[] = {
        {"open", 1, "ln -sfn ../outside real/verdata.mul", false, "a link"},
        {"create", 1, "ln -s ../outside real/verdata.mul.new", false, "patched"},
        {"create", 2, "ln -s ../outside real/verdata.mul.new", true, "unchanged"},
        {"write", 1, "ln -sfn outside verdata.mul", false, "patched"},
        {"verify", 1, "ln -sfn ../outside real/verdata.mul", false, "a link"},
    };
    const Bytes target = File({{1, 1, 3, 'a'}});
    for (const auto& [when, nth, plant, stale, real] : cases) {
        SCOPED_TRACE(std::string(plant) + " before " + std::string(when) + " " +
                     std::to_string(nth));
        TempDirectory place;
        std::filesystem::create_directories("real");
        if (stale)
            WriteFileBytes("real/verdata.mul.new", Bytes(7, 's'));
        WriteFileBytes("outside", Bytes(10, 'o'));
        WriteFileBytes("real/verdata.mul", target);
        WriteFileBytes("patchdata.mul", File({{1, 2, 3, 'b'}}));
        ASSERT_EQ(::symlink("real/verdata.mul", "verdata.mul"), 0);
        os.Boxes.clear();
        os.Meanwhile = [&, when = when, plant = plant, left = nth](Operation operation) mutable {
            if (operation == when && --left == 0 && std::system(plant) != 0)
                ADD_FAILURE() << "could not plant";
        };
        EXPECT_EQ(os.Press(completed), 0u);
        os.Meanwhile = [](Operation) {};
        const std::string outcome = std::filesystem::is_symlink("real/verdata.mul") ? "a link"
                                    : ReadFileBytes("real/verdata.mul") == target   ? "unchanged"
                                                                                    : "patched";
        EXPECT_EQ(outcome, real);
        EXPECT_EQ(os.BoxTexts(),
                  std::vector<std::string>{outcome == "patched" ? "Done."
                                           : when == "open"     ? "Error opening Verdata.mul"
                                                                : "Error writing Verdata.mul"});
        EXPECT_TRUE(ReadFileBytes("outside") == Bytes(10, 'o'));
        EXPECT_EQ(place.Names(),
                  (std::vector<std::string>{"outside", "patchdata.mul", "real", "verdata.mul"}));
        // No file of the run's own is left: only a link that was put back stays, untouched.
        EXPECT_FALSE(std::filesystem::is_regular_file(
            std::filesystem::symlink_status("real/verdata.mul.new")));
        EXPECT_TRUE(os.Live.empty());
    }
}
#endif

TEST(ErrorStop, TextFollowsThePatternForNumbersOfOneToFiveDigits) {
    const std::pair<std::uint32_t, const char*> cases[] = {
        {5, "Runtime error   5 at 0000001F"},       {28, "Runtime error  28 at 0000001F"},
        {100, "Runtime error 100 at 0000001F"},     {1224, "Runtime error1224 at 0000001F"},
        {12345, "Runtime error 12345 at 0000001F"},
    };
    for (const auto& [number, text] : cases)
        EXPECT_EQ(FormatRuntimeError(number, 0x1F), text);
    EXPECT_EQ(FormatRuntimeError(101, 0x0040A1B2), "Runtime error 101 at 0040A1B2");
}

#ifdef _WIN32
// (Holders of the target are the end-to-end tests' part: they run through the real window.)
TEST_F(Run, WindowsReadOnlyPatchIsApplied) {
    os.WriteProtected.clear();
    WriteFileBytes("verdata.mul", File({{1, 1, 4, 'a'}}));
    WriteFileBytes("patchdata.mul", File({{1, 2, 3, 'b'}}));
    ASSERT_NE(::SetFileAttributesA("patchdata.mul", FILE_ATTRIBUTE_READONLY), 0);
    completed = RunPatch();
    ::SetFileAttributesA("patchdata.mul", FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(os.BoxTexts(), std::vector<std::string>{"Done."}) << "a read-only patch is applied";
    EXPECT_EQ(Render(ReadFileBytes("verdata.mul")), "(1,1,44,4,0)4*a (1,2,48,3,0)3*b");
}

// The replace renames the run's own file through its handle, the best way the system has: the
// POSIX-semantics rename on Windows 10 and Wine 10, the classic one by handle under Wine 8, which
// lacks the other; with the better ways left out (as an older system refuses them), the next.
// Refused, the new file goes through its handle, even while another holds it sharing delete.
TEST_F(Run, WindowsRenamesThroughTheHandleTheBestWayItHas) {
    const auto wine = reinterpret_cast<const char* (*)()>(reinterpret_cast<void (*)()>(
        ::GetProcAddress(::GetModuleHandleA("ntdll.dll"), "wine_get_version")));
    const bool exOnly = wine == nullptr || std::atoi(wine()) >= 10;
    std::printf("[ this system ] %s: the rename by handle starts at the %s one\n",
                wine != nullptr ? wine() : "Windows", exOnly ? "POSIX-semantics" : "classic");
    const Bytes target = File({{1, 1, 4, 'a'}}), patch = File({{1, 2, 3, 'b'}});
    const std::string patched = "(1,1,44,4,0)4*a (1,2,48,3,0)3*b";
    for (const RenameWay first :
         {RenameWay::PosixIgnoringReadOnly, RenameWay::Posix, RenameWay::Classic}) {
        StartRenamesAt(first);
        EXPECT_EQ(Press(target, patch), 0u);
        EXPECT_EQ(static_cast<int>(LastRenameWay()),
                  std::max(static_cast<int>(first), exOnly ? 0 : 2));
        EXPECT_EQ(Render(ReadFileBytes("verdata.mul")), patched);
        EXPECT_EQ(directory.Names(), kTwoFiles);
    }
    StartRenamesAt(RenameWay::PosixIgnoringReadOnly);
    // Whatever code refuses the better ways (file systems, filters and older systems each have
    // their own), the classic one is tried; a rename whose answer is lost but which took place
    // is the run done, never its new file deleted; a folder that gives no handle still renames.
    for (const std::uint32_t code : {87u, 50u, 1u, 120u, 5u, 17u, 6u}) {
        SCOPED_TRACE("the better ways refused with " + std::to_string(code));
        RefuseRenameWaysWith(code);
        EXPECT_EQ(Press(target, patch), 0u);
        EXPECT_TRUE(completed);
        EXPECT_EQ(LastRenameWay(), RenameWay::Classic);
        EXPECT_EQ(Render(ReadFileBytes("verdata.mul")), patched);
        EXPECT_EQ(directory.Names(), kTwoFiles);
    }
    RefuseRenameWaysWith(0);
    for (const bool lostReply : {true, false}) {
        SCOPED_TRACE(lostReply ? "the rename's answer lost" : "no handle on the folder");
        ReportDoneRenamesAs(lostReply ? 59u : 0u);  // ERROR_UNEXP_NET_ERR
        RefuseFolderHandles(!lostReply);
        EXPECT_EQ(Press(target, patch), 0u);
        EXPECT_TRUE(completed) << (os.Boxes.empty() ? "" : os.BoxTexts().back());
        EXPECT_EQ(Render(ReadFileBytes("verdata.mul")), patched);
        EXPECT_EQ(directory.Names(), kTwoFiles);
    }
    ReportDoneRenamesAs(0);
    RefuseFolderHandles(false);
    // A refused step gives its new file up through the handle: where the POSIX-semantics
    // disposition is refused, whatever the code, the classic one removes it.
    for (const std::uint32_t code : {87u, 5u, 50u}) {
        SCOPED_TRACE("the POSIX-semantics disposition refused with " + std::to_string(code));
        RefuseExDispositionWith(code);
        os.InjectedFault = Fault{1, 5, "verify"};
        EXPECT_EQ(Press(target, patch), 0u);
        ExpectUntouched(target, patch);
    }
    RefuseExDispositionWith(0);
    os.InjectedFault.reset();
    HANDLE holder = INVALID_HANDLE_VALUE;
    os.Meanwhile = [&](Operation operation) {
        if (operation == "replace")
            holder = ::CreateFileA("verdata.mul.new", GENERIC_READ,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                   OPEN_EXISTING, 0, nullptr);
    };
    os.InjectedFault = Fault{1, 5, "replace"};
    EXPECT_EQ(Press(target, patch), 0u);
    os.Meanwhile = [](Operation) {};
    EXPECT_NE(holder, INVALID_HANDLE_VALUE);
    std::printf("[ this system ] a refused file held by another: %s while held\n",
                directory.Names() == kTwoFiles ? "gone" : "still named");
    ::CloseHandle(holder);
    ExpectUntouched(target, patch);
}
#endif

#ifndef _WIN32
// A write that is over at once and a flush that lasts: the line shows once the run has lasted a
// second, in the flush, with no report to draw it, and is erased when the flush returns.
TEST_F(Run, AtATerminalALongFlushShowsItsLine) {
    int terminal = -1, side = -1;
    ASSERT_EQ(::openpty(&terminal, &side, nullptr, nullptr, nullptr), 0);
    const int savedError = ::dup(STDERR_FILENO);
    ::dup2(side, STDERR_FILENO);
    ShowProgressAtTerminal();
    os.Meanwhile = [](Operation operation) {
        if (operation == "flush")
            std::this_thread::sleep_for(std::chrono::milliseconds(1300));
    };
    EXPECT_EQ(Press(File({{1, 1, 10, 'a'}}), File({{1, 2, 10, 'b'}})), 0u);
    os.Meanwhile = [](Operation) {};
    SetProgressReporter(nullptr);
    ::dup2(savedError, STDERR_FILENO);
    ::close(savedError);
    ::close(side);
    std::string shown;
    char buffer[512];
    for (pollfd ready{terminal, POLLIN, 0}; ::poll(&ready, 1, 100) > 0;) {
        const ssize_t got = ::read(terminal, buffer, sizeof buffer);
        if (got <= 0)
            break;
        shown.append(buffer, static_cast<std::size_t>(got));
    }
    ::close(terminal);
    const auto line = shown.find("verdata.mul: 64 bytes of 64 bytes written, flushing to disk");
    EXPECT_NE(line, std::string::npos) << shown;
    EXPECT_NE(shown.find("\033[K", line), std::string::npos) << "not erased: " << shown;
    EXPECT_TRUE(completed);
}
#endif

#ifdef _WIN32
// The lock's name tells apart what the old key (volume serial and 64-bit index) mixed up: two
// folders of a ReFS volume, or of a cloned one; where a NAS answers 0 for both, the path does.
TEST(LockName, IsUniqueWhereTheFileIndexIsNot) {
    FileIdentity one, other;
    one.OldVolume = other.OldVolume = 0x1234;
    one.Index = other.Index = 42;
    one.Volume = other.Volume = 0x1234;
    one.Id[15] = 1;
    other.Id[15] = 2;
    EXPECT_NE(LockName(one), LockName(other));
    EXPECT_FALSE(SameFile(one, other));
    FileIdentity indexOnly = one, nas = one;
    std::fill(std::begin(indexOnly.Id), std::end(indexOnly.Id), 0);
    EXPECT_EQ(LockName(indexOnly), "Local\\Quelvane-index-00001234-000000000000002A");
    nas = FileIdentity{};
    nas.Path = "\\\\?\\UNC\\nas\\share\\Data";
    FileIdentity sameOtherCase = nas, elsewhere = nas;
    sameOtherCase.Path = "\\\\?\\UNC\\NAS\\share\\data";
    elsewhere.Path += "2";
    EXPECT_EQ(LockName(nas), LockName(sameOtherCase));
    EXPECT_NE(LockName(nas), LockName(elsewhere));
    EXPECT_TRUE(SameFile(nas, sameOtherCase));
    EXPECT_EQ(LockName(FileIdentity{}), "");
    EXPECT_EQ(LockName(one).rfind("Local\\", 0), 0u) << "another session's user could hold it";
}

// A link named verdata.mul swapped for one to another file during the run: that file is left
// alone and the run refused, the loaded file as it was.
TEST_F(Run, WindowsALinkSwappedDuringTheRunIsRefused) {
    const Bytes target = File({{1, 1, 4, 'a'}}), patch = File({{1, 2, 3, 'b'}});
    WriteFileBytes("real", target);
    WriteFileBytes("other", Bytes(7, 'o'));
    WriteFileBytes("patchdata.mul", patch);
    if (::CreateSymbolicLinkA("verdata.mul", "real", 0) == 0 ||
        ReadFileBytes("verdata.mul") != target)
        GTEST_SKIP() << "no symbolic links here (" << ::GetLastError() << ")";
    os.Meanwhile = [](Operation operation) {
        if (operation == "verify") {
            ::DeleteFileA("verdata.mul");
            ::CreateSymbolicLinkA("verdata.mul", "other", 0);
        }
    };
    os.Press(completed);
    os.Meanwhile = [](Operation) {};
    EXPECT_FALSE(completed);
    EXPECT_EQ(os.BoxTexts(), std::vector<std::string>{"Error writing Verdata.mul"});
    EXPECT_TRUE(ReadFileBytes("other") == Bytes(7, 'o'));
    EXPECT_TRUE(ReadFileBytes("real") == target);
    ::DeleteFileA("verdata.mul");
}
#endif

}  // namespace
}  // namespace quelvane::testing
