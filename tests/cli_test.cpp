// The built native program, run for real: its arguments, and presses of "Go!" on standard input
// in directories with links, owners, hard links and leftovers of earlier runs.
#include <gtest/gtest.h>

#include <tuple>

#include "tests/cli_support.h"

namespace quelvane::testing {
namespace {

namespace fs = std::filesystem;

const Bytes kTarget = File({{1, 1, 3, 'v'}, {1, 4, 2000, 'w'}});
const Bytes kPatch = File({{1, 4, 5, 'P'}, {1, 2, 1, 'N'}});

TEST(Cli, ArgumentsAreAnsweredAsALinuxProgramDoesAndTouchNoFile) {
    const std::string hint = "\nTry 'quelvane --help' for more information.\n";
    const std::tuple<const char*, int, std::string, std::string> cases[] = {
        {"--help", 0,
         "Usage: quelvane [-C DIR]... [--batch | -n] [-b] [--backup[=CONTROL]] [-S SUFFIX]\n", ""},
        {"-h", 0, "Exit status:\n  0", ""},
        {"--version", 0, "quelvane " QUELVANE_VERSION "\n", ""},
        {"foo", 2, "", "quelvane: unexpected argument 'foo'" + hint},
        {"sub", 2, "",
         "quelvane: unexpected argument 'sub' (to work in that directory: -C 'sub')" + hint},
        {"--d", 2, "",
         "quelvane: option '--d' is ambiguous; possibilities: '--directory' '--dry-run'" + hint},
        {"-xn", 2, "", "quelvane: invalid option -- 'x'" + hint},
        {"--batch -n", 2, "", "quelvane: --batch and --dry-run cannot be used together" + hint},
        {"-b", 2, "", "quelvane: --backup needs --batch or --dry-run" + hint},
        {"-n --suffix=.orig.new", 2, "",
         "quelvane: the backup suffix '.orig.new' cannot end in '.new': such names are this "
         "program's temporary files (--suffix)" +
             hint},
        {"-n --backup=.bak", 2, "",
         "quelvane: invalid argument '.bak' for '--backup' (did you mean --suffix=.bak?)\n"
         "Valid arguments are: 'none', 'off'; 'simple', 'never'; 'existing', 'nil'; "
         "'numbered', 't'" +
             hint},
        {"-n -b .bak", 2, "",
         "quelvane: unexpected argument '.bak' (a backup suffix goes with -S: -S '.bak')" + hint},
        {"-n --wait=-1", 2, "",
         "quelvane: invalid time to wait '-1': a number of seconds is expected" + hint},
        {"-n --wait 5", 2, "",
         "quelvane: unexpected argument '5' (to wait that long: --wait=5)" + hint},
        {"-n --wait=0x10", 2, "",
         "quelvane: invalid time to wait '0x10': a number of seconds is expected" + hint},
        {"-n --wait=2000000000", 2, "",
         "quelvane: invalid time to wait '2000000000': at most 1000000000 seconds" + hint},
        {"-nqv", 2, "", "quelvane: --quiet and --verbose cannot be used together" + hint},
        {"-C \"$(printf 'a\\tb')\" -n", 1, "",
         "quelvane: cannot enter $'a\\x09b': No such file or directory\n"},
        {"-C sub -C ../sub/in -n", 1, "",
         "quelvane: cannot enter '../sub/in': No such file or directory\n"},
        {"--version >/dev/full", 1, "", "quelvane: write error: No space left on device\n"},
        {"--help >/dev/full", 1, "", "quelvane: write error: No space left on device\n"},
        {"--help >&-", 0, "", ""},  // a closed descriptor is /dev/null
        {"-n >/dev/full", 1, "", "quelvane: write error: No space left on device\n"},
    };
    TempDirectory directory;
    WriteFileBytes("verdata.mul", kTarget);
    WriteFileBytes("patchdata.mul", kPatch);
    fs::create_directories("sub/sub");  // "-C sub -C sub" would enter sub/sub
    for (const auto& [argument, exitCode, out, err] : cases) {
        const Result r = RunQuelvane(directory.Path(), "\n", argument);
        EXPECT_EQ(r.ExitCode, exitCode) << argument;
        EXPECT_NE(r.Out.find(out), std::string::npos) << argument << ": " << r.Out;
        EXPECT_EQ(r.Err, err) << argument;
        EXPECT_TRUE(ReadFileBytes("verdata.mul") == kTarget) << argument;
    }
}

// Each case lays out `work/`, where the program runs, and more; then presses "Go!". Afterwards
// the file the user meant holds the result (unless the run fails), all else is as it was, and
// no temporary file is left anywhere.
TEST(Cli, APressPatchesTheFileTheUserMeantAndNothingElse) {
    const Bytes patched = File({{1, 1, 3, 'v'}, {1, 2, 1, 'N'}, {1, 4, 5, 'P'}});  // the result
    struct Case {
        const char* Name;
        std::string Real;  // the file the run is to patch, made with these permission bits
        mode_t Bits;
        std::string Lay;                  // shell commands that lay out the rest
        std::string Input = "\n", Err{};  // what the run is given, and what it says on stderr
        const char* Removed = nullptr;    // a stale temporary file's name, which the run names
    };
    const Case cases[] = {
        {"a plain target, its bits kept, a stale temporary file; one press closes the window",
         "work/verdata.mul", 0640, "head -c 5000 /dev/zero > work/verdata.mul.new", "\n\n\n", "",
         "verdata.mul.new"},
        {"a link planted under the temporary file's name", "work/verdata.mul", 0600,
         "echo precious > precious && ln -s ../precious work/verdata.mul.new", "\n", "",
         "verdata.mul.new"},
        {"a relative link", "work/real/verdata.mul", 0644,
         "ln -s real/verdata.mul work/verdata.mul"},
        {"an absolute link into another directory, a stale temporary file there", "other/data.bin",
         0604, "ln -s \"$PWD/other/data.bin\" work/verdata.mul && echo stale > other/data.bin.new",
         "\n", "", "data.bin.new"},
        {"a link into another file system", "other/data.bin", 0644,
         "d=/dev/shm/quelvane-cli-$PPID && rm -rf $d && mv other $d && ln -s $d other && "
         "ln -s ../other/data.bin work/verdata.mul"},
        {"a chain of two links", "other/verdata.mul", 0644,
         "ln -s ../other/verdata.mul work/hop && ln -s hop work/verdata.mul"},
        {"a dangling link", "", 0, "ln -s gone.mul work/verdata.mul", "\n",
         "Quelvane: Error opening Verdata.mul\n"},
        {"a link to itself", "", 0, "ln -s verdata.mul work/verdata.mul", "\n",
         "Quelvane: Error opening Verdata.mul\n"},
        {"a chain of 40 links, as many as the system follows", "work/real", 0644,
         "cd work && ln -s real l40 && for i in $(seq 39 -1 2); do ln -s l$((i + 1)) l$i; done && "
         "ln -s l2 verdata.mul"},
        {"a chain of 41 links", "work/real", 0644,
         "cd work && ln -s real l40 && for i in $(seq 39 -1 1); do ln -s l$((i + 1)) l$i; done && "
         "ln -s l1 verdata.mul",
         "\n", "Quelvane: Error opening Verdata.mul\n"},
        {"extended attributes and an access-control list", "work/verdata.mul", 0640,
         "setfattr -n user.note -v kept work/verdata.mul && setfacl -m u:1234:r work/verdata.mul"},
        {"another user's target (when run as root)", "work/verdata.mul", 0664,
         "chown 1234:5678 work/verdata.mul 2>/dev/null || true"},
        {"a second hard link keeps the old content", "work/verdata.mul", 0644,
         "ln work/verdata.mul other.mul"},
        {"no patch: the window stays for another press", "work/verdata.mul", 0644,
         "rm work/patchdata.mul", "\n\n",
         "Quelvane: Error opening Patchdata.mul\nQuelvane: Error opening Patchdata.mul\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        TempDirectory directory;
        fs::create_directories("work");
        WriteFileBytes("work/patchdata.mul", kPatch);
        if (!c.Real.empty()) {
            fs::create_directories(fs::path(c.Real).parent_path());
            WriteFileBytes(c.Real, kTarget);
            ::chmod(c.Real.c_str(), c.Bits);
        }
        ASSERT_EQ(std::system(c.Lay.c_str()), 0);
        std::map<std::string, std::string> before = Listing();
        before.erase("work/verdata.mul.new");
        before.erase(c.Real + ".new");
        const std::string kept = Attributes(c.Real);
        const Result r = RunQuelvane(directory.Path() + "/work", c.Input);
        EXPECT_EQ(r.ExitCode, 0);
        EXPECT_EQ(r.Err, (c.Removed == nullptr ? ""
                                               : "quelvane: removed '" + std::string(c.Removed) +
                                                     "', left by an earlier run\n") +
                             c.Err);
        EXPECT_EQ(r.Out, c.Err.empty() ? "Quelvane: Done.\n" : "");
        // The file the user meant holds the result, as a regular file with the same attributes.
        if (c.Err.empty())
            before[fs::path(c.Real).lexically_normal()] =
                std::string(patched.begin(), patched.end()) + kept;
        EXPECT_EQ(Listing(), before);
        if (fs::is_symlink("other"))
            fs::remove_all(fs::read_symlink("other"));
    }
}

// A real full disk: a small tmpfs (mounting needs root; skipped where it is not allowed).
// A full disk, or the process's file size limit (whose signal is ignored, so that the write
// fails): the error stop with the system's number and its reason, the target kept, nothing left.
TEST(Cli, AFullDiskStopsWithTheSystemsNumberAndKeepsTheTarget) {
    struct Case {
        const char* Name;
        const char* Lay;
        const char* Wrapper;
        int ExitCode;
        std::string Reason;
    };
    for (const Case& c :
         {Case{"a full disk", "mount -t tmpfs -o size=256k tmpfs disk", "", 28,
               "No space left on device"},
          Case{"the file size limit", "true", "prlimit --fsize=150000 ", 27, "File too large"}}) {
        SCOPED_TRACE(c.Name);
        TempDirectory directory;
        fs::create_directories("disk");
        if (std::system((std::string(c.Lay) + " 2>/dev/null").c_str()) != 0) {
            std::printf("[ skipped ] %s: '%s' is not allowed here\n", c.Name, c.Lay);
            continue;
        }
        const Bytes target = File({{1, 1, 100000, 't'}});
        WriteFileBytes("disk/verdata.mul", target);
        WriteFileBytes("disk/patchdata.mul", File({{1, 2, 100000, 'p'}}));
        const Result r = RunQuelvane(directory.Path() + "/disk", "\n", "", c.Wrapper);
        const Bytes after = ReadFileBytes("disk/verdata.mul");
        const bool leftover = fs::exists("disk/verdata.mul.new");
        std::system("umount disk 2>/dev/null");
        EXPECT_EQ(r.ExitCode, c.ExitCode);
        EXPECT_EQ(
            r.Err.rfind("Error: Runtime error  " + std::to_string(c.ExitCode) + " at 004020", 0),
            0u)
            << r.Err;
        EXPECT_NE(r.Err.find("\n" + c.Reason + "\n"), std::string::npos) << "the stop's detail";
        EXPECT_TRUE(after == target);
        EXPECT_FALSE(leftover);
    }
}

// A file's and its directory's modification times: a file made and removed in the directory,
// however briefly, changes the directory's.
std::string Times(const std::string& path) {
    const auto time = [](const fs::path& at) {
        return std::to_string(fs::last_write_time(at).time_since_epoch().count());
    };
    return time(path) + " " + time(fs::path(path).parent_path());
}

// The command in scripts: the pair lies in work/, the program runs beside it with -C.
TEST(Cli, ScriptsGetASummaryAnHonestExitStatusAndTheReason) {
    const std::string done =
        "verdata.mul: 2 entries, 0 earlier duplicates dropped; patchdata.mul: 2 entries, "
        "1 replaced, 1 added; result 3 entries, 73 bytes\n";
    const std::string wouldBe =
        "verdata.mul: 2 entries, 0 earlier duplicates would be dropped; patchdata.mul: 2 "
        "entries, 1 would be replaced, 1 would be added; result would be 3 entries, 73 bytes";
    const std::string unwritable = "quelvane: verdata.mul could not be written: ";
    FileBuilder crowded, full;  // merged with the patch: over the limit of 65535 entries; at it
    for (std::int32_t k = 0; k < 65535; ++k) {
        crowded.Entry({2, k, -1, 0, 0});
        full.Entry({2, k, -1, 0, 0});
    }
    const Bytes crowdedFile = crowded.Count(65534).Build();
    const Bytes twoReplaced = File({{1, 2, 1, 'n'}, {1, 4, 1, 'p'}, {40, 1, 1, 'x'}});
    struct Case {
        const char* Name;
        std::string Arguments, Lay;
        int ExitCode;
        std::string Out, Err;
        Bytes Target = kTarget;
        const char* Wrapper = "";  // what the program runs under
        bool Patched = false;      // the run replaced the target, whatever it printed
        const char* Check = "";    // a shell command that holds afterwards
        const char* Input = "";    // standard input
        Bytes Patch = kPatch;
    };
    const Bytes listed =
        FileBuilder()
            .With({{1, 4, 7, 'd'}, {40, 1, 2, 'x'}, {1, 1, 3, 'v'}, {1, 4, 9, 'w'}})
            .Build();
    // The signal and the failure come at the system call itself: at the rename, after it. (The
    // leak checker cannot work under a tracer: it is left out there.)
    const char* const signalAtRename =
        "env ASAN_OPTIONS=detect_leaks=0 strace -o /dev/null -e inject=renameat:signal=SIGINT ";
    const char* const directoryFlushFails =
        "env ASAN_OPTIONS=detect_leaks=0 strace -o /dev/null "
        "-e trace=fsync -e inject=fsync:error=EIO:when=2 ";
    const Case cases[] = {
        {"a batch run", "-C work --batch", "", 0, done, ""},
        {"a dry run, -C absolute, two replaced", "-n --directory=\"$PWD/work\"", "", 0,
         "verdata.mul: 3 entries, 1 with FileId above 33 would be left out, 0 earlier duplicates "
         "would be dropped; patchdata.mul: 2 entries, 2 would be replaced, 0 would be added; "
         "result would be 2 entries, 50 bytes\n",
         "", twoReplaced},
        {"no target", "-C work --batch", "rm work/verdata.mul", 1, "",
         "quelvane: Error opening Verdata.mul: No such file or directory\n"},
        {"a damaged target", "--batch -C work", "", 1, "",
         "quelvane: Error reading Verdata.mul: entry count -4 is below 0\n",
         FileBuilder().Count(-4).Build()},
        {"a result over the limit", "--batch -C work", "", 1, "",
         "quelvane: Error writing Verdata.mul: the result has 65536 entries, 1 more than the "
         "limit of 65535\n",
         crowdedFile},
        {"a directory that refuses the write", "--batch -C work", "chattr +i work", 1, "",
         "quelvane: Error writing Verdata.mul: Operation not permitted\n"},
        {"a dry run finds it too, and names the directory", "-C work -n", "chattr +i work", 1,
         wouldBe + "\n",
         unwritable + "cannot create files in 'DIR/work': Operation not permitted\n"},
        {"a dry run finds the disk too full", "-C full -n",
         "mkdir full && mount -t tmpfs -o size=64k tmpfs full && cp work/* full && "
         "(cat /dev/zero >full/filler || true)",
         1, wouldBe + "\n", unwritable + "No space left on device\n"},
        {"a dry run names a stale temporary file", "-C work -n", "echo mine >work/verdata.mul.new",
         0, wouldBe + "\n", "quelvane: would remove 'verdata.mul.new', left by an earlier run\n"},
        {"a batch run names the stale temporary file it removes", "-C work --batch",
         "echo mine >work/verdata.mul.new", 0, done,
         "quelvane: removed 'verdata.mul.new', left by an earlier run\n"},
        {"a directory named verdata.mul.new", "-C work --batch", "mkdir -p work/verdata.mul.new/in",
         1, "",
         "quelvane: Error writing Verdata.mul: a directory has the name of its temporary file\n"},
        {"a dry run finds it in the way", "-C work -n", "mkdir -p work/verdata.mul.new/in", 1,
         wouldBe + "\n", unwritable + "a directory has the name of its temporary file\n"},
        {"a dry run only reads an immutable target", "-C work -n", "chattr +i work/verdata.mul", 1,
         wouldBe + "\n", unwritable + "Operation not permitted\n"},
        {"a dry run over the limit still counts", "-C work -n", "", 1,
         "verdata.mul: 65534 entries, 0 earlier duplicates would be dropped; patchdata.mul: 2 "
         "entries, 0 would be replaced, 2 would be added; result would be 65536 entries, 1310730 "
         "bytes\n",
         "quelvane: Error writing Verdata.mul: the result has 65536 entries, 1 more than the "
         "limit of 65535\n",
         crowdedFile},
        {"a signal at the rename: done", "-C work --batch", "", 0, done, "", kTarget,
         signalAtRename},
        {"the directory's flush fails after the rename", "-C work --batch", "", 3, done,
         "quelvane: verdata.mul was replaced, but flushing the directory failed: Input/output "
         "error\n",
         kTarget, directoryFlushFails},
        {"standard output fails after the run", "-C work --batch >/dev/full", "", 3, "",
         "quelvane: write error: No space left on device (verdata.mul holds the result all the "
         "same)\n",
         kTarget, "", true},
        {"the list cannot be written: refused before the write", "-C work --batch -v >/dev/full",
         "", 1, "", "quelvane: write error: No space left on device\n"},
        {"the window as text: a last line without its newline, its output failing",
         "-C work "
         ">/dev/full",
         "", 3, "",
         "quelvane: write error: No space left on device (verdata.mul holds the result all the "
         "same)\n",
         kTarget, "", true, "", "x"},
        {"standard descriptors closed, a stale temporary file", "-C work --batch <&- >&- 2>&-",
         "echo mine >work/verdata.mul.new && ln work/verdata.mul second && cp work/verdata.mul old",
         0, "", "", kTarget, "", true, "cmp second old && [ ! -e work/verdata.mul.new ]"},
        {"a file system that keeps no owner and no mode", "-C work --batch", "", 0, done, "",
         kTarget,
         "env ASAN_OPTIONS=detect_leaks=0 strace -o /dev/null -e trace=fchown,fchmod "
         "-e inject=fchown,fchmod:error=ENOSYS "},
        {"a wrapper's lock on the directory: refused at once, though it may wait",
         "-C work --batch --wait", "", 1, "",
         "quelvane: Error opening Verdata.mul: the lock on 'DIR/work' is held by what started "
         "this run (a run locks the directory of verdata.mul: lock another file)\n",
         kTarget, "flock -n work "},
        {"a backup, a second name of the old file", "-C work --batch -b",
         "cp -p work/verdata.mul old && stat -c %i work/verdata.mul >inode", 0, done, "", kTarget,
         "", false,
         "cmp old work/verdata.mul.orig && [ $(stat -c %i work/verdata.mul.orig) = $(cat inode) ]"},
        {"an earlier backup replaced, a stale one of its own removed", "-C work --batch --backup",
         "cp work/verdata.mul old && echo 1 >work/verdata.mul.orig && echo 2 "
         ">work/verdata.mul.orig.new",
         0, done, "quelvane: removed 'verdata.mul.orig.new', left by an earlier run\n", kTarget, "",
         false, "cmp old work/verdata.mul.orig && [ ! -e work/verdata.mul.orig.new ]"},
        {"a backup's name that already is a second name of the old file: the backup made",
         "-C work --batch --backup=simple",
         "ln work/verdata.mul work/verdata.mul.orig && cp work/verdata.mul old", 0, done, "",
         kTarget, "", false, "cmp old work/verdata.mul.orig && [ ! -e work/verdata.mul.orig.new ]"},
        {"a backup's name that is a directory", "-C work --batch -b", "mkdir work/verdata.mul.orig",
         1, "",
         "quelvane: Error writing Verdata.mul: the backup's name 'verdata.mul.orig' is a "
         "directory\n"},
        {"a dry run says what the backup would be", "-C work -n --suffix=.bak",
         "echo 1 >work/verdata.mul.bak", 0, wouldBe + "\n",
         "quelvane: would keep the old verdata.mul as 'verdata.mul.bak', in place of the earlier "
         "one\n"},
        {"a dry run finds a link in the backup's way", "-C work -n -b",
         "ln -s verdata.mul work/verdata.mul.orig", 1, wouldBe + "\n",
         "quelvane: Error writing Verdata.mul: the backup's name 'verdata.mul.orig' is a symbolic "
         "link\n"},
        {"a quiet run", "-C work --batch -q", "", 0, "", "", kTarget, "", true},
        {"a list of every change", "-C work -n --list", "", 0,
         "left-out\tverdata.mul\t40\t1\t2\t-\ndropped-duplicate\tverdata.mul\t1\t4\t7\t-\n"
         "replaced\tpatchdata.mul\t1\t4\t9\t5\nadded\tpatchdata.mul\t1\t2\t-\t1\n"
         "verdata.mul: 4 entries, 1 with FileId above 33 would be left out, 1 earlier duplicate "
         "would be dropped; patchdata.mul: 2 entries, 1 would be replaced, 1 would be added; "
         "result would be 3 entries, 73 bytes\n",
         "", listed},
        {"a patch holding a target's key twice: the later entry superseded", "-C work -n -v", "", 0,
         "replaced\tpatchdata.mul\t1\t4\t2000\t5\nsuperseded\tpatchdata.mul\t1\t4\t2\t-\n"
         "verdata.mul: 2 entries, 0 earlier duplicates would be dropped; patchdata.mul: 2 "
         "entries, 1 would be replaced, 0 would be added, 1 superseded by an earlier entry; "
         "result would be 2 entries, 52 bytes\n",
         "", kTarget, "", false, "", "", File({{1, 4, 5, 'P'}, {1, 4, 2, 'Q'}})},
        {"the window as text, closed before a press", "-C work", "", 0, "",
         "quelvane: closed without a run; use --batch to patch once\n"},
        {"a target cut short", "-C work -n", "truncate -s -1 work/verdata.mul", 100, "",
         "quelvane: verdata.mul: entry 1 (FileId 1, BlockId 4): its block ends past the end of "
         "the file (offset 47, length 2000, file 2046 bytes)\n"},
        {"a patch cut short", "-C work --batch", "truncate -s -1 work/patchdata.mul", 100, "",
         "quelvane: patchdata.mul: entry 1 (FileId 1, BlockId 2): its block ends past the end of "
         "the file (offset 49, length 1, file 49 bytes)\n"},
        {"no such directory", "-C nowhere --batch", "", 1, "",
         "quelvane: cannot enter 'nowhere': No such file or directory\n"},
        {"wrong usage", "--batch --now", "", 2, "",
         "quelvane: unrecognized option '--now'\nTry 'quelvane --help' for more information.\n"},
#ifndef QUELVANE_SANITIZED  // the sanitizers need more address space than this
        {"out of memory", "-C work -n", "", 203, "",
         "quelvane: Runtime error 203 at 00403010: out of memory\n", full.Build(),
         "prlimit --as=8388608 "},
#endif
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        TempDirectory directory;
        fs::create_directories("work");
        WriteFileBytes("work/verdata.mul", c.Target);
        WriteFileBytes("work/patchdata.mul", c.Patch);
        std::system("touch -d 2001-01-01 work work/*");  // a change shows in any clock's tick
        if (std::system((c.Lay + " 2>/dev/null").c_str()) != 0) {
            std::printf("[ skipped ] %s: '%s' is not possible here\n", c.Name, c.Lay.c_str());
            continue;
        }
        const std::map<std::string, std::string> before = Listing();
        const std::string times = Times("work/patchdata.mul");
        const Result r = RunQuelvane(directory.Path(), c.Input, c.Arguments, c.Wrapper);
        const std::map<std::string, std::string> after = Listing();
        std::system("chattr -i work work/verdata.mul 2>/dev/null; umount full 2>/dev/null");
        std::string err = c.Err;
        if (const auto at = err.find("DIR"); at != std::string::npos)
            err.replace(at, 3, directory.Path());
        EXPECT_EQ(r.ExitCode, c.ExitCode);
        EXPECT_EQ(r.Out, c.Out);
        EXPECT_EQ(r.Err, err);
        EXPECT_EQ(std::system(c.Check), 0) << c.Check;
        if (c.Out == done || c.Patched) {
            EXPECT_EQ(Render(ReadFileBytes("work/verdata.mul")),
                      "(1,1,64,3,0)3*v (1,2,67,1,0)1*N (1,4,68,5,0)5*P");
            continue;
        }
        // Nothing written, and nothing ever made beside the pair.
        EXPECT_EQ(after, before);
        EXPECT_EQ(Times("work/patchdata.mul"), times);
    }
}

// The same patch again: the file holds the result already, so nothing is written, backed up or
// listed (the same inode, bytes and times, the directory's too: no file made there even for a
// moment), and a dry run says that the patch is in. One byte of a patched block changed, and
// the run writes again.
TEST(Cli, ASecondRunOfTheSamePatchWritesNothing) {
    TempDirectory directory;
    WriteFileBytes("verdata.mul", kTarget);
    WriteFileBytes("patchdata.mul", kPatch);
    ASSERT_EQ(RunQuelvane(directory.Path(), "", "--batch").ExitCode, 0);
    const std::string patched = Render(ReadFileBytes("verdata.mul"));
    std::system("touch -d 2001-01-01 . verdata.mul");
    const auto inode = [] {
        struct stat status {};
        ::stat("verdata.mul", &status);
        return status.st_ino;
    };
    const ino_t before = inode();
    const std::map<std::string, std::string> listing = Listing();
    const std::string times = Times("./verdata.mul");
    for (const auto& [arguments, out] :
         {std::pair{"--batch -v", "verdata.mul already holds this result: nothing written\n"},
          {"--batch --backup=numbered", "verdata.mul already holds this result: nothing written\n"},
          {"-n -v", "patchdata.mul is already in verdata.mul\n"}}) {
        SCOPED_TRACE(arguments);
        const Result r = RunQuelvane(directory.Path(), "", arguments);
        EXPECT_EQ(r.ExitCode, 0);
        EXPECT_EQ(r.Out, out);
        EXPECT_EQ(r.Err, "");
        EXPECT_EQ(Listing(), listing);
        EXPECT_EQ(Times("./verdata.mul"), times);
        EXPECT_EQ(inode(), before);
    }
    Bytes changed = ReadFileBytes("verdata.mul");
    changed[70] = 'x';  // inside the block the patch gives (1,4)
    WriteFileBytes("verdata.mul", changed);
    const Result r = RunQuelvane(directory.Path(), "", "--batch");
    EXPECT_EQ(r.ExitCode, 0);
    EXPECT_NE(r.Out.find("2 replaced, 0 added"), std::string::npos) << r.Out;
    EXPECT_EQ(Render(ReadFileBytes("verdata.mul")), patched);
}

// The backup's name against GNU cp's with the same words, environment and earlier backups: the
// names in the directory afterwards are the same (the default suffix is ".orig" here, "~" for
// cp: cp is given SIMPLE_BACKUP_SUFFIX=.orig where neither names one); a word that cp refuses
// is refused here too, with nothing changed.
TEST(Cli, BackupsAreNamedAsGnuCpNamesThem) {
    const std::pair<const char*, const char*> cases[] = {
        {"-b", ""},
        {"--backup", ""},
        {"--backup=", ""},
        {"--backup=none", ""},
        {"--backup=off", ""},
        {"--backup=simple", ""},
        {"--backup=never", ""},
        {"--backup=existing", ""},
        {"--backup=nil", ""},
        {"--backup=numbered", ""},
        {"--backup=t", ""},
        {"--backup=num", ""},
        {"--backup=ex", ""},
        {"-b", "VERSION_CONTROL=numbered"},
        {"--backup", "VERSION_CONTROL=simple"},
        {"--backup=simple", "VERSION_CONTROL=t"},
        {"-b", "VERSION_CONTROL=none"},
        {"-b", "SIMPLE_BACKUP_SUFFIX=.bak"},
        {"-S .x", ""},
        {"--suffix=.y", "VERSION_CONTROL=never"},
        {"-b -S .z", "SIMPLE_BACKUP_SUFFIX=.bak VERSION_CONTROL=simple"},
        {"--backup=bogus", ""},
        {"--backup=n", ""},
        {"-b", "VERSION_CONTROL=bogus"},
    };
    for (const bool earlier : {false, true}) {
        for (const auto& [arguments, environment] : cases) {
            SCOPED_TRACE(std::string(arguments) + " " + environment + (earlier ? ", earlier" : ""));
            TempDirectory directory;
            for (const char* side : {"ours", "cp"}) {
                fs::create_directories(side);
                WriteFileBytes(std::string(side) + "/verdata.mul", kTarget);
                if (earlier) {
                    for (const char* name :
                         {"verdata.mul.~1~", "verdata.mul.~9~", "verdata.mul.~10~",
                          "verdata.mul.~09~", "verdata.mul.orig"})
                        WriteFileBytes(std::string(side) + "/" + name, Bytes(1, 'e'));
                }
            }
            WriteFileBytes("ours/patchdata.mul", kPatch);
            WriteFileBytes("new", kPatch);
            const std::string names = std::string(arguments) + " " + environment;
            const bool suffixGiven = names.find("-S") != std::string::npos ||
                                     names.find("suffix") != std::string::npos ||
                                     names.find("SIMPLE") != std::string::npos;
            const int cp = std::system(("cd cp && env " + std::string(environment) +
                                        (suffixGiven ? "" : " SIMPLE_BACKUP_SUFFIX=.orig") +
                                        " cp " + arguments + " ../new verdata.mul 2>/dev/null")
                                           .c_str());
            const Result r =
                RunQuelvane(directory.Path() + "/ours", "", "--batch " + std::string(arguments),
                            "env " + std::string(environment) + " ");
            EXPECT_EQ(r.ExitCode == 0, cp == 0) << r.Err;
            fs::remove("ours/patchdata.mul");
            // Each backup's name and content (the old file's, or an earlier backup's).
            const auto backups = [](const char* side) {
                std::map<std::string, std::string> found;
                for (const auto& entry : fs::directory_iterator(side)) {
                    const std::string name = entry.path().filename().string();
                    if (name != "verdata.mul")
                        found[name] = Text(entry.path().string());
                }
                return found;
            };
            EXPECT_EQ(backups("ours"), backups("cp"));
            EXPECT_TRUE(r.ExitCode == 0 || ReadFileBytes("ours/verdata.mul") == kTarget);
        }
    }
}

// Standard output a pipe whose reader is gone before the program starts, SIGPIPE at its default:
// the list is written before the write, so it ends the run by the signal with the file as it
// was; the summary after the rename cannot be written, so the run ends patched with status 3.
TEST(Cli, AReaderThatIsGoneEndsTheRunByWhatItHasDone) {
    for (const auto& [list, signaled, status] :
         {std::tuple{true, true, SIGPIPE}, std::tuple{false, false, 3}}) {
        SCOPED_TRACE(list ? "with the list" : "the summary only");
        TempDirectory directory;
        WriteFileBytes("verdata.mul", kTarget);
        WriteFileBytes("patchdata.mul", kPatch);
        int ends[2];
        ASSERT_EQ(::pipe(ends), 0);
        ::close(ends[0]);
        const pid_t child = ::fork();
        if (child == 0) {
            ::signal(SIGPIPE, SIG_DFL);
            ::dup2(ends[1], STDOUT_FILENO);
            ::dup2(::open("/dev/null", O_WRONLY), STDERR_FILENO);
            ::execl(QUELVANE_BINARY, "quelvane", "--batch", list ? "-v" : nullptr, nullptr);
            ::_exit(127);
        }
        ::close(ends[1]);
        int wait = 0;
        ::waitpid(child, &wait, 0);
        EXPECT_EQ(WIFSIGNALED(wait), signaled) << wait;
        EXPECT_EQ(signaled ? WTERMSIG(wait) : WEXITSTATUS(wait), status) << wait;
        EXPECT_EQ(Render(ReadFileBytes("verdata.mul")),
                  list ? Render(kTarget) : "(1,1,64,3,0)3*v (1,2,67,1,0)1*N (1,4,68,5,0)5*P");
        EXPECT_EQ(directory.Names(), (std::vector<std::string>{"patchdata.mul", "verdata.mul"}));
    }
}

}  // namespace
}  // namespace quelvane::testing
