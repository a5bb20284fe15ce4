// The built native program, run for real: its arguments, and presses of "Go!" through standard
// input on real directories with links, owners, hard links and leftovers of earlier runs.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <string>

#include "tests/test_files.h"

namespace quelvane::testing {
namespace {

namespace fs = std::filesystem;

struct Result {
    int ExitCode = -1;
    std::string Out, Err;
};

std::string Text(const std::string& path) {
    const Bytes bytes = ReadFileBytes(path);
    return std::string(bytes.begin(), bytes.end());
}

// Runs the program in `directory` with `input` on standard input (not a terminal).
Result RunQuelvane(const std::string& directory, const std::string& input,
                   const char* argument = nullptr) {
    const std::string io =
        fs::temp_directory_path() / ("quelvane-io-" + std::to_string(::getpid()));
    WriteFileBytes(io + ".in", Bytes(input.begin(), input.end()));
    const pid_t child = ::fork();
    if (child == 0) {
        ::dup2(::open((io + ".in").c_str(), O_RDONLY), 0);
        ::dup2(::open((io + ".out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 1);
        ::dup2(::open((io + ".err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 2);
        if (::chdir(directory.c_str()) == 0)
            ::execl(QUELVANE_BINARY, QUELVANE_BINARY, argument, static_cast<char*>(nullptr));
        ::_exit(127);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    Result result{WIFEXITED(status) ? WEXITSTATUS(status) : -1, Text(io + ".out"),
                  Text(io + ".err")};
    for (const char* end : {".in", ".out", ".err"})
        fs::remove(io + end);
    return result;
}

// Every name below the current directory with its content, or its link's destination.
std::map<std::string, std::string> Listing() {
    std::map<std::string, std::string> listing;
    for (const auto& entry : fs::recursive_directory_iterator(".")) {
        const std::string path = entry.path().lexically_normal().string();
        listing[path] = entry.is_symlink()        ? "-> " + fs::read_symlink(path).string()
                        : entry.is_regular_file() ? Text(path)
                                                  : "";
    }
    return listing;
}

const Bytes kTarget = FileBuilder().WithData(1, 1, 3, 'v').WithData(1, 4, 2000, 'w').Build();
const Bytes kPatch = FileBuilder().WithData(1, 4, 5, 'P').WithData(1, 2, 1, 'N').Build();

TEST(Cli, ArgumentsAreAnsweredAsALinuxProgramDoesAndTouchNoFile) {
    struct Case {
        const char* Argument;
        int ExitCode;
        std::string Out, Err;
    };
    const Case cases[] = {
        {"--help", 0, "Usage: quelvane [--help | --version]\n", ""},
        {"-h", 0, "Usage: quelvane [--help | --version]\n", ""},
        {"--version", 0, "quelvane " QUELVANE_VERSION "\n", ""},
        {"foo", 2, "", "quelvane: unexpected argument 'foo'\nTry 'quelvane --help'.\n"},
    };
    TempDirectory directory;
    WriteFileBytes("verdata.mul", kTarget);
    WriteFileBytes("patchdata.mul", kPatch);
    for (const Case& c : cases) {
        const Result r = RunQuelvane(directory.Path(), "\n", c.Argument);
        EXPECT_EQ(r.ExitCode, c.ExitCode) << c.Argument;
        EXPECT_EQ(r.Out.substr(0, c.Out.size()), c.Out) << c.Argument;
        EXPECT_EQ(r.Err, c.Err) << c.Argument;
        EXPECT_TRUE(ReadFileBytes("verdata.mul") == kTarget) << c.Argument;
    }
    EXPECT_NE(RunQuelvane(directory.Path(), "", "--help").Out.find("Exit status"),
              std::string::npos);
}

// Each case lays out `work/` (where the program runs) and whatever else it needs under a fresh
// directory, then presses "Go!". Afterwards the file the user meant (`Real`) holds the patched
// result with its owner, group and bits as before (or is unchanged, when the run fails), every
// link and every other file is as it was, and no temporary file is left anywhere.
TEST(Cli, APressPatchesTheFileTheUserMeantAndNothingElse) {
    Bytes patched;  // the result, from a plain run
    {
        TempDirectory plain;
        WriteFileBytes("verdata.mul", kTarget);
        WriteFileBytes("patchdata.mul", kPatch);
        const Result r = RunQuelvane(plain.Path(), "\n\n\n");
        ASSERT_EQ(r.ExitCode, 0);
        ASSERT_EQ(r.Out, "Quelvane: Done.\n") << "one press closes the window";
        patched = ReadFileBytes("verdata.mul");
        const WrittenFile written = ParseWrittenFile(patched);
        ASSERT_EQ(written.Blocks,
                  (std::vector<Bytes>{Bytes(3, 'v'), Bytes(1, 'N'), Bytes(5, 'P')}));
    }
    const bool root = ::geteuid() == 0;
    struct Case {
        const char* Name;
        std::function<void()> Lay;  // in the fresh directory, after work/patchdata.mul
        std::string Real;           // the file the run is to patch
        std::string Input, Err;     // standard input, and what the run says on standard error
        bool Patched;
    };
    const auto target = [](const std::string& path, mode_t mode) {
        fs::create_directories(fs::path(path).parent_path());
        WriteFileBytes(path, kTarget);
        ::chmod(path.c_str(), mode);
    };
    const Case cases[] = {
        {"a plain target, its bits kept, a stale temporary file",
         [&] {
             target("work/verdata.mul", 0640);
             WriteFileBytes("work/verdata.mul.new", Bytes(5000, 's'));
         },
         "work/verdata.mul", "\n", "", true},
        {"a link planted under the temporary file's name",
         [&] {
             target("work/verdata.mul", 0600);
             WriteFileBytes("precious", Bytes(100, 'p'));
             fs::create_symlink("../precious", "work/verdata.mul.new");
         },
         "work/verdata.mul", "\n", "", true},
        {"a relative link",
         [&] {
             target("work/real/verdata.mul", 0644);
             fs::create_symlink("real/verdata.mul", "work/verdata.mul");
         },
         "work/real/verdata.mul", "\n", "", true},
        {"an absolute link into another directory",
         [&] {
             target("other/data.bin", 0604);
             fs::create_symlink(fs::absolute("other/data.bin"), "work/verdata.mul");
         },
         "other/data.bin", "\n", "", true},
        {"a chain of two links",
         [&] {
             target("other/verdata.mul", 0644);
             fs::create_symlink("../other/verdata.mul", "work/hop");
             fs::create_symlink("hop", "work/verdata.mul");
         },
         "other/verdata.mul", "\n", "", true},
        {"a dangling link", [&] { fs::create_symlink("gone.mul", "work/verdata.mul"); }, "", "\n",
         "Quelvane: Error opening Verdata.mul\n", false},
        {"another user's target (as root)",
         [&] {
             target("work/verdata.mul", 0664);
             if (root) {
                 EXPECT_EQ(::chown("work/verdata.mul", 1234, 5678), 0);
             }
         },
         "work/verdata.mul", "\n", "", true},
        {"a second hard link keeps the old content",
         [&] {
             target("work/verdata.mul", 0644);
             fs::create_hard_link("work/verdata.mul", "other.mul");
         },
         "work/verdata.mul", "\n", "", true},
        {"no patch: the window stays for another press",
         [&] {
             target("work/verdata.mul", 0644);
             fs::remove("work/patchdata.mul");
         },
         "work/verdata.mul", "\n\n",
         "Quelvane: Error opening Patchdata.mul\nQuelvane: Error opening Patchdata.mul\n", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        TempDirectory directory;
        fs::create_directories("work");
        WriteFileBytes("work/patchdata.mul", kPatch);
        c.Lay();
        // Everything there is, links as links, before the run but for the temporary file.
        std::map<std::string, std::string> before = Listing();
        before.erase("work/verdata.mul.new");
        struct stat was {};
        ::stat(c.Real.c_str(), &was);
        const Result r = RunQuelvane(directory.Path() + "/work", c.Input);
        EXPECT_EQ(r.ExitCode, 0);
        EXPECT_EQ(r.Err, c.Err);
        EXPECT_EQ(r.Out, c.Patched ? "Quelvane: Done.\n" : "");
        if (c.Patched) {
            EXPECT_TRUE(ReadFileBytes(c.Real) == patched);
            before[fs::path(c.Real).lexically_normal().string()] = Text(c.Real);
            struct stat is {};
            ::lstat(c.Real.c_str(), &is);
            EXPECT_TRUE(S_ISREG(is.st_mode));
            EXPECT_EQ(is.st_mode, was.st_mode);
            EXPECT_EQ(is.st_uid, was.st_uid);
            EXPECT_EQ(is.st_gid, was.st_gid);
        }
        EXPECT_EQ(Listing(), before);
    }
}

// A real full disk: a small tmpfs (mounting needs root; skipped where it is not allowed).
TEST(Cli, AFullDiskStopsWithTheSystemsNumberAndKeepsTheTarget) {
    TempDirectory directory;
    fs::create_directories("disk");
    if (std::system("mount -t tmpfs -o size=256k tmpfs disk 2>/dev/null") != 0)
        GTEST_SKIP() << "mounting a small tmpfs is not allowed here";
    const Bytes target = FileBuilder().WithData(1, 1, 100000, 't').Build();
    WriteFileBytes("disk/verdata.mul", target);
    WriteFileBytes("disk/patchdata.mul", FileBuilder().WithData(1, 2, 100000, 'p').Build());
    const Result r = RunQuelvane(directory.Path() + "/disk", "\n");
    const Bytes after = ReadFileBytes("disk/verdata.mul");
    const bool leftover = fs::exists("disk/verdata.mul.new");
    std::system("umount disk");
    EXPECT_EQ(r.ExitCode, 28) << "ENOSPC";
    EXPECT_EQ(r.Err.rfind("Error: Runtime error  28 at 004020", 0), 0u) << r.Err;
    EXPECT_TRUE(after == target);
    EXPECT_FALSE(leftover);
}

}  // namespace
}  // namespace quelvane::testing
