// The built native program, run for real in temporary directories through standard input.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <string>

#include "tests/file_builder.h"
#include "tests/temp_directory.h"

namespace quelvane::testing {
namespace {

struct Result {
    int ExitCode = -1;
    std::string Out, Err;
};

std::string Slurp(const std::string& path) {
    const Bytes bytes = ReadFileBytes(path);
    return std::string(bytes.begin(), bytes.end());
}

// Runs the program in the current directory with `input` on standard input (not a terminal).
Result RunQuelvane(const std::string& input) {
    WriteFileBytes(".stdin", Bytes(input.begin(), input.end()));
    const pid_t child = ::fork();
    if (child == 0) {
        const int in = ::open(".stdin", O_RDONLY);
        const int out = ::open(".stdout", O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int err = ::open(".stderr", O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ::dup2(in, 0);
        ::dup2(out, 1);
        ::dup2(err, 2);
        ::execl(QUELVANE_BINARY, QUELVANE_BINARY, static_cast<char*>(nullptr));
        ::_exit(127);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    Result result{WIFEXITED(status) ? WEXITSTATUS(status) : -1, Slurp(".stdout"), Slurp(".stderr")};
    for (const char* name : {".stdin", ".stdout", ".stderr"})
        ::unlink(name);
    return result;
}

bool OnlyTheTwoFiles(const TempDirectory& directory) {
    int count = 0;
    for (const auto& entry : std::filesystem::directory_iterator(directory.Path())) {
        const auto name = entry.path().filename().string();
        if (name != "verdata.mul" && name != "patchdata.mul")
            return false;
        ++count;
    }
    return count <= 2;
}

TEST(Cli, OpenFailuresKeepTheWindowForAnotherPress) {
    TempDirectory directory;
    Result r = RunQuelvane("\n");
    EXPECT_EQ(r.ExitCode, 0) << "end of input closes the window";
    EXPECT_EQ(r.Err, "Quelvane: Error opening Verdata.mul\n");
    EXPECT_EQ(r.Out, "");

    const Bytes target = FileBuilder().WithData(1, 1, 3, 'v').Build();
    WriteFileBytes("verdata.mul", target);
    r = RunQuelvane("\n\n");
    EXPECT_EQ(r.Err,
              "Quelvane: Error opening Patchdata.mul\nQuelvane: Error opening Patchdata.mul\n");
    EXPECT_EQ(ReadFileBytes("verdata.mul"), target);
    EXPECT_TRUE(OnlyTheTwoFiles(directory));
}

TEST(Cli, APressPatchesThenTheWindowCloses) {
    TempDirectory directory;
    WriteFileBytes("verdata.mul",
                   FileBuilder().WithData(1, 1, 3, 'v').WithData(1, 4, 2, 'w').Build());
    const Bytes patch = FileBuilder().WithData(1, 4, 5, 'P').WithData(1, 2, 1, 'N').Build();
    WriteFileBytes("patchdata.mul", patch);
    ::chmod("verdata.mul", 0640);
    ::chmod("patchdata.mul", 0444);  // a read-only patch is applied
    // A stale temporary file from an earlier crash does not get in the way.
    WriteFileBytes("verdata.mul.new", Bytes(1000, 's'));
    const Result r = RunQuelvane("\n\n\n");
    EXPECT_EQ(r.ExitCode, 0);
    EXPECT_EQ(r.Out, "Quelvane: Done.\n");
    EXPECT_EQ(r.Err, "");
    const auto written = ParseWrittenFile(ReadFileBytes("verdata.mul"));
    ASSERT_EQ(written.size(), 3u);
    EXPECT_EQ(written[0].Block, Bytes(3, 'v'));
    EXPECT_EQ(written[1].Block, Bytes(1, 'N'));
    EXPECT_EQ(written[2].Block, Bytes(5, 'P'));
    EXPECT_EQ(ReadFileBytes("verdata.mul").size(), 4u + 60 + 9) << "the file shrinks";
    struct stat status {};
    ::stat("verdata.mul", &status);
    EXPECT_EQ(status.st_mode & 07777, 0640u) << "permissions survive";
    EXPECT_EQ(ReadFileBytes("patchdata.mul"), patch);
    EXPECT_TRUE(OnlyTheTwoFiles(directory));
}

TEST(Cli, FailuresShowTheirLineAndLeaveTheTargetAlone) {
    const Bytes good = FileBuilder().WithData(1, 1, 10, 'a').Build();
    struct Case {
        const char* Name;
        Bytes Target;
        int ExitCode;
        const char* Err;
    };
    const Case cases[] = {
        {"cut inside the block", Bytes(good.begin(), good.end() - 1), 100,
         "Error: Runtime error 100 at 00401050\n"},
        {"cut inside the head", Bytes(good.begin(), good.begin() + 2), 100,
         "Error: Runtime error 100 at 00401010\n"},
        {"count too large", FileBuilder().Count(65536).Build(), 0,
         "Quelvane: Error reading Verdata.mul: entry count 65536 is above 65535\n"},
        {"negative count", FileBuilder().Count(-2).Build(), 0,
         "Quelvane: Error reading Verdata.mul: entry count -2 is below 0\n"},
    };
    for (const Case& c : cases) {
        TempDirectory directory;
        WriteFileBytes("verdata.mul", c.Target);
        WriteFileBytes("patchdata.mul", FileBuilder().Build());
        const Result r = RunQuelvane("\n");
        EXPECT_EQ(r.ExitCode, c.ExitCode) << c.Name;
        EXPECT_EQ(r.Err, c.Err) << c.Name;
        EXPECT_EQ(r.Out, "") << c.Name;
        EXPECT_EQ(ReadFileBytes("verdata.mul"), c.Target) << c.Name;
    }
}

TEST(Cli, ARefusedReplaceSaysSoAndKeepsTheTarget) {
    // An immutable target cannot be replaced, even by root.
    TempDirectory directory;
    const Bytes target = FileBuilder().WithData(1, 1, 3, 'v').Build();
    WriteFileBytes("verdata.mul", target);
    WriteFileBytes("patchdata.mul", FileBuilder().WithData(1, 2, 1, 'p').Build());
    if (std::system("chattr +i verdata.mul 2>/dev/null") != 0) {
        GTEST_SKIP() << "chattr +i is not allowed here";
    }
    const Result r = RunQuelvane("\n");
    std::system("chattr -i verdata.mul");
    // The open for writing is already refused for an immutable file.
    EXPECT_EQ(r.Err, "Quelvane: Error opening Verdata.mul\n");
    EXPECT_EQ(ReadFileBytes("verdata.mul"), target);
    EXPECT_TRUE(OnlyTheTwoFiles(directory));
}

}  // namespace
}  // namespace quelvane::testing

namespace quelvane::testing {
namespace {

// A real full disk: a small tmpfs (mounting needs root; skipped where it is not allowed).
TEST(Cli, AFullDiskStopsWithTheSystemsNumberAndKeepsTheTarget) {
    TempDirectory directory;
    ::mkdir("disk", 0700);
    if (std::system("mount -t tmpfs -o size=256k tmpfs disk 2>/dev/null") != 0) {
        GTEST_SKIP() << "mounting a small tmpfs is not allowed here";
    }
    ASSERT_EQ(::chdir("disk"), 0);
    const Bytes target = FileBuilder().WithData(1, 1, 100000, 't').Build();
    WriteFileBytes("verdata.mul", target);
    WriteFileBytes("patchdata.mul", FileBuilder().WithData(1, 2, 100000, 'p').Build());
    const Result r = RunQuelvane("\n");
    const Bytes after = ReadFileBytes("verdata.mul");
    const bool leftover = std::filesystem::exists("verdata.mul.new");
    ASSERT_EQ(::chdir(".."), 0);
    std::system("umount disk");
    EXPECT_EQ(r.ExitCode, 28) << "ENOSPC";
    EXPECT_EQ(r.Err.rfind("Error: Runtime error  28 at 004020", 0), 0u) << r.Err;
    EXPECT_EQ(after, target);
    EXPECT_FALSE(leftover);
}

}  // namespace
}  // namespace quelvane::testing
