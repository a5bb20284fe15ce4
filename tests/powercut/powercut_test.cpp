// Power cuts, replayed: the real write runs on ext4 and XFS on a recording disk that logs every
// block write and flush; every prefix of the log is mounted as the disk would hold it after a cut
// there, and verdata.mul must be exactly the old file or the new one, with its mode and owner (the
// new one once the run has returned). Seeded faults in the write's order must each be caught.
#define FUSE_USE_VERSION 35
#include <fcntl.h>
#include <fuse3/fuse.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <csignal>
#include <cstring>

#include "tests/test_files.h"
#include "tests/test_platform.h"

namespace quelvane::testing {
namespace {

namespace fs = std::filesystem;
constexpr std::size_t kDiskBytes = 32 << 20;

// The recording disk: a FUSE file system, served by a child process, with one in-memory image,
// "disk". Every write to it (offset and bytes) and every flush of it (a loop device passes its
// flushes down as fsync) is appended to the log as it arrives, as are the test's marks: 'W', 'F'
// or 'M', a 64-bit offset, a 32-bit length, then that many bytes.
namespace recorder {
std::string disk;
int log = -1;

void Append(char type, std::uint64_t offset, const char* bytes, std::uint32_t length) {
    std::string record(1, type);
    record.append(reinterpret_cast<const char*>(&offset), 8);
    record.append(reinterpret_cast<const char*>(&length), 4);
    record.append(bytes, length);
    if (::write(log, record.data(), record.size()) != static_cast<ssize_t>(record.size()))
        std::abort();  // a log with a gap would prove nothing
}
bool IsDisk(const char* path) {
    return std::strcmp(path, "/disk") == 0;
}

[[noreturn]] void Serve(const std::string& mountPoint, const std::string& logPath) {
    disk.assign(kDiskBytes, '\0');
    log = ::open(logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0600);
    fuse_operations operations{};
    operations.getattr = [](const char* path, struct stat* status, fuse_file_info*) {
        *status = {};
        status->st_mode = std::strcmp(path, "/") == 0 ? S_IFDIR | 0755 : S_IFREG | 0600;
        status->st_size = static_cast<off_t>(disk.size());
        return IsDisk(path) || S_ISDIR(status->st_mode) ? 0 : -ENOENT;
    };
    operations.open = [](const char*, fuse_file_info* info) {
        info->direct_io = 1;  // no page cache between the loop device and the log
        return 0;
    };
    operations.read = [](const char*, char* buffer, size_t size, off_t at, fuse_file_info*) {
        const std::size_t from = std::min(static_cast<std::size_t>(at), disk.size());
        const std::size_t count = std::min(size, disk.size() - from);
        std::memcpy(buffer, disk.data() + from, count);
        return static_cast<int>(count);
    };
    operations.write = [](const char*, const char* bytes, size_t size, off_t at, fuse_file_info*) {
        disk.replace(static_cast<std::size_t>(at), size, bytes, size);
        Append('W', static_cast<std::uint64_t>(at), bytes, static_cast<std::uint32_t>(size));
        return static_cast<int>(size);
    };
    operations.fsync = [](const char*, int, fuse_file_info*) {
        Append('F', 0, nullptr, 0);
        return 0;
    };
    operations.truncate = [](const char*, off_t, fuse_file_info*) { return 0; };
    // One thread, in the foreground: requests are served, and logged, in the order they came.
    std::string arguments[] = {"recorder", "-f", "-s", mountPoint};
    char* argv[] = {arguments[0].data(), arguments[1].data(), arguments[2].data(),
                    arguments[3].data(), nullptr};
    ::_exit(log < 0 ? 1 : fuse_main(4, argv, &operations, nullptr));
}
}  // namespace recorder

// The first line a shell command prints.
std::string Output(const std::string& command) {
    std::string text(256, '\0');
    FILE* pipe = ::popen(command.c_str(), "r");
    text.resize(std::fread(text.data(), 1, text.size(), pipe));
    ::pclose(pipe);
    return text.substr(0, text.find('\n'));
}

struct FileSystem {
    const char *Name, *Make, *Options;  // the command that makes it on a device; how it is mounted
};
const FileSystem kExt4{"ext4", "mkfs.ext4 -q -F", "data=ordered,noauto_da_alloc"};
const FileSystem kXfs{"xfs", "TEST_DIR=1 TEST_DEV=1 QA_CHECK_FS=1 mkfs.xfs -q -f", "nouuid"};

// Makes `system` on a loop device over a fresh recording disk, and calls `work` in its root. The
// log is then complete in `scratch`/log. False when the disk could not be made.
bool Record(const std::string& scratch, const FileSystem& system,
            const std::function<void()>& work) {
    const std::string fuse = scratch + "/fuse", root = scratch + "/fs";
    fs::create_directories(fuse);
    fs::create_directories(root);
    const pid_t recorder = ::fork();
    if (recorder == 0)
        recorder::Serve(fuse, scratch + "/log");
    for (int tries = 0; tries < 500 && !fs::exists(fuse + "/disk"); ++tries)
        ::usleep(10000);
    const std::string loop = Output("losetup -f --show " + fuse + "/disk");
    recorder::log = ::open((scratch + "/log").c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    const bool ready = !loop.empty() &&
                       std::system((std::string(system.Make) + " " + loop).c_str()) == 0 &&
                       ::mount(loop.c_str(), root.c_str(), system.Name, 0, system.Options) == 0;
    if (ready) {
        fs::current_path(root);
        work();
        fs::current_path(scratch);
        ::umount2(root.c_str(), 0);
    }
    ::close(recorder::log);
    std::system(("losetup -d '" + loop + "' 2>/dev/null; fusermount3 -u " + fuse).c_str());
    ::kill(recorder, SIGTERM);  // gone already once unmounted; never waited for forever
    ::waitpid(recorder, nullptr, 0);
    return ready;
}

enum class Seeded { None, NoFileFlush, NoDirectoryFlush, ModeAfterRename, InPlace };

// The real platform, with one of the write's steps done out of order when asked.
class SeededPlatform final : public TestPlatform {
  public:
    explicit SeededPlatform(Seeded seeded) : seeded_(seeded) {}

    SystemError Flush(FileHandle file) override {
        return seeded_ == Seeded::NoFileFlush ? 0 : TestPlatform::Flush(file);
    }
    SystemError KeepAttributes(FileHandle model, FileHandle file) override {
        ::fstat(Fd(model), &kept_);
        return seeded_ == Seeded::ModeAfterRename ? 0 : TestPlatform::KeepAttributes(model, file);
    }
    SystemError Replace(DirectoryHandle directory, FileHandle file, std::string_view replacement,
                        std::string_view target, ReplaceStage* stage) override {
        const std::string name(target);
        *stage = ReplaceStage::Done;
        const int at = Fd(directory), in = Fd(file);
        if (seeded_ == Seeded::NoDirectoryFlush) {
            ::close(in);
            return ::renameat(at, std::string(replacement).c_str(), at, name.c_str()) != 0 ? 5 : 0;
        }
        if (seeded_ != Seeded::InPlace) {
            const SystemError error =
                TestPlatform::Replace(directory, file, replacement, target, stage);
            if (seeded_ == Seeded::ModeAfterRename) {
                ::fchownat(at, name.c_str(), kept_.st_uid, kept_.st_gid, 0);
                ::fchmodat(at, name.c_str(), kept_.st_mode & 07777, 0);
            }
            return error;
        }
        // The new content copied over the target, in steps marked and committed as the run's are.
        ::unlinkat(at, std::string(replacement).c_str(), 0);
        const int out = ::openat(at, name.c_str(), O_WRONLY | O_TRUNC);
        off_t from = 0;
        do
            Meanwhile("write");
        while (::sendfile(out, in, &from, 1 << 20) > 0);
        Meanwhile("flush");
        ::fsync(out);
        ::close(out);
        return ::close(in) != 0 ? 5 : 0;
    }

  private:
    static int Fd(std::uintptr_t handle) { return static_cast<int>(handle) - 1; }  // as POSIX's
    Seeded seeded_;
    struct stat kept_ {};
};

struct Workload {
    const char* Name;
    Bytes Target;  // the patch replaces its first block
    bool KernelCopy = false, Stale = false;
    // A backup asked for, over an earlier one: as a second name, or (no links) a copy.
    bool Backup = false, Links = true;
    // Numbered: the earlier backup is verdata.mul.~1~, never touched; this one is ~2~.
    bool Numbered = false;
};
const Workload kWorkloads[] = {
    {"several 1 MiB chunks, buffered",
     File({{1, 0, 1300000, 'a'}, {1, 2, 1200000, 'b'}, {1, 4, 900000, 'c'}})},
    {"smaller than a chunk, buffered", File({{1, 0, 5000, 'a'}, {1, 2, 7000, 'b'}})},
    {"in-kernel copy", File({{1, 0, 1500000, 'a'}, {1, 2, 1500000, 'b'}}), true},
    {"a stale verdata.mul.new", File({{1, 0, 5000, 'a'}, {1, 2, 7000, 'b'}}), false, true},
    {"a backup as a second name", File({{1, 0, 5000, 'a'}, {1, 2, 7000, 'b'}}), false, false, true},
    {"a backup as a copy", File({{1, 0, 1300000, 'a'}, {1, 2, 7000, 'b'}}), true, false, true,
     false},
    {"a numbered backup beside an earlier one", File({{1, 0, 5000, 'a'}, {1, 2, 7000, 'b'}}), false,
     false, true, true, true},
};

// What the backup's name holds before a run that keeps one.
const Bytes kEarlierBackup(2000, 'e');

struct Outcome {
    std::size_t Prefixes = 0;
    std::string Failure;  // the first prefix that was neither old nor new, or empty
};

// What `name` is in `root`: old, new (or earlier) content, or other, its size, mode and owner;
// or nothing.
std::string Found(const std::string& root, const Bytes& old, const Bytes& patched,
                  const char* name = "verdata.mul") {
    struct stat status {};
    if (::lstat((root + "/" + name).c_str(), &status) != 0)
        return "nothing";
    const Bytes content = ReadFileBytes(root + "/" + name);
    const char* what = content == old ? "old" : content == patched ? "new" : "other";
    char text[96];
    std::snprintf(text, sizeof text, "%s (%zu bytes), mode %o, owner %u:%u", what, content.size(),
                  status.st_mode & 07777, status.st_uid, status.st_gid);
    return text;
}

// Lays the pair on a fresh recorded disk, runs the write there (`eager`: a journal commit of all
// pending metadata before every operation, by a sentinel file that changes size and is flushed),
// then mounts every prefix of the record from the run's start, as the disk would hold it after a
// cut there, on a loop device of its own.
Outcome Replay(const FileSystem& system, bool eager, const Workload& workload, Seeded seeded) {
    const Bytes& target = workload.Target;
    const Bytes patch = File({{1, 0, 3000, 'p'}});
    TempDirectory scratch;
    WriteFileBytes("verdata.mul", target);
    WriteFileBytes("patchdata.mul", patch);
    bool completed = false;
    TestPlatform().Press(completed);
    const Bytes patched = ReadFileBytes("verdata.mul");
    const bool recorded = Record(scratch.Path(), system, [&] {
        // Marks go into the log beside what has reached the disk by then.
        const auto mark = [](const std::string& text) {
            recorder::Append('M', 0, text.data(), static_cast<std::uint32_t>(text.size()));
        };
        WriteFileBytes("verdata.mul", target);
        WriteFileBytes("patchdata.mul", patch);
        ::chmod("verdata.mul", 0640);
        ::chown("verdata.mul", 1234, 5678);
        if (workload.Stale)
            WriteFileBytes("verdata.mul.new", Bytes(4000, 's'));
        if (workload.Backup)
            WriteFileBytes(workload.Numbered ? "verdata.mul.~1~" : "verdata.mul.orig",
                           kEarlierBackup);
        const int sentinel = ::open("sentinel", O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        ::syncfs(sentinel);
        mark("start");
        SeededPlatform os(seeded);
        os.KernelCopy = workload.KernelCopy;
        os.HardLinks = workload.Links;
        RunOptions options;
        options.Backup.Control = !workload.Backup    ? BackupControl::None
                                 : workload.Numbered ? BackupControl::Numbered
                                                     : BackupControl::Simple;
        os.Meanwhile = [&, size = off_t{0}](Operation operation) mutable {
            if (eager && ::ftruncate(sentinel, ++size) == 0)
                ::fsync(sentinel);
            mark("before " + std::string(operation));
        };
        os.Press(completed, options);
        mark("returned");
        ::close(sentinel);
    });
    if (!recorded || !completed)
        return {0, recorded ? "the run did not complete" : "the recorded disk could not be made"};
    const std::string image = "/dev/shm/quelvane-replay-" + std::to_string(::getpid());
    const std::string root = scratch.Path() + "/replay";
    fs::create_directories(root);
    const std::string loop = Output("truncate -s 32M " + image + " && losetup -f --show " + image);
    const int device = ::open(loop.c_str(), O_RDONLY | O_CLOEXEC);
    const int file = ::open(image.c_str(), O_WRONLY | O_CLOEXEC);
    const std::string kept = " bytes), mode 640, owner 1234:5678";
    const std::string old = "old (" + std::to_string(target.size()) + kept;
    const std::string fresh = "new (" + std::to_string(patched.size()) + kept;
    const Bytes log = ReadFileBytes(scratch.Path() + "/log");
    std::string disk(kDiskBytes, '\0'), mark;
    Outcome outcome;
    for (std::size_t at = 0; at + 13 <= log.size() && outcome.Failure.empty();) {
        std::uint64_t offset = 0;
        std::uint32_t length = 0;
        std::memcpy(&offset, &log[at + 1], 8);
        std::memcpy(&length, &log[at + 9], 4);
        const char type = static_cast<char>(log[at]);
        const unsigned char* bytes = log.data() + at + 13;
        at += 13 + length;
        if (type == 'M')
            mark.assign(bytes, bytes + length);  // "start", "before <operation>", "returned"
        if (type == 'W')
            disk.replace(offset, length, reinterpret_cast<const char*>(bytes), length);
        if (type != 'W' || mark.empty())
            continue;  // a flush, a mark, or a write before the run
        // The whole image each time: the last mount's journal recovery wrote to it.
        (void)!::pwrite(file, disk.data(), disk.size(), 0);
        ::ioctl(device, BLKFLSBUF, 0);  // nothing of the last image stays in the device's cache
        std::string found = "no file system", backup = "no backup";
        if (::mount(loop.c_str(), root.c_str(), system.Name, 0, system.Options) == 0) {
            found = Found(root, target, patched);
            // The old file is never without a name: the backup is it once the target is new.
            if (workload.Backup && !workload.Numbered)
                backup = "backup " + Found(root, target, kEarlierBackup, "verdata.mul.orig");
            // Numbered: the earlier one as it was, and the new one the old file once it counts.
            if (workload.Numbered &&
                Found(root, target, kEarlierBackup, "verdata.mul.~1~").rfind("new (", 0) == 0)
                backup = "backup " + Found(root, target, kEarlierBackup, "verdata.mul.~2~");
            ::umount2(root.c_str(), 0);
        }
        ++outcome.Prefixes;
        const bool backupHolds =
            !workload.Backup || backup == "backup " + old ||
            (found == old && (workload.Numbered ? backup == "backup nothing"
                                                : backup.rfind("backup new (", 0) == 0));
        if ((found != fresh && (mark == "returned" || found != old)) || !backupHolds)
            outcome.Failure = "prefix " + std::to_string(outcome.Prefixes) + " after '" + mark +
                              "': " + found + (workload.Backup ? "; " + backup : "");
    }
    ::close(device);
    ::close(file);
    std::system(("losetup -d " + loop + " && rm " + image).c_str());
    return outcome;
}

std::string CaseName(const FileSystem& system, bool eager, const char* workload) {
    return std::string(system.Name) + (eager ? ", eager, " : ", lazy, ") + workload;
}

// Every case leaves the old file or the new one at every prefix; each fault in the write's order
// is caught on at least one file system and schedule.
TEST(PowerCut, EveryPrefixLeavesTheOldFileOrTheNewAndEveryFaultInTheOrderIsCaught) {
    // The tools it needs are among the project's dependencies: where one is missing, it fails.
    if (::geteuid() != 0 || ::access("/dev/fuse", R_OK | W_OK) != 0 || Output("losetup -f").empty())
        GTEST_SKIP() << "the power-cut test needs root, /dev/fuse and a free loop device";
    for (const FileSystem* system : {&kExt4, &kXfs}) {
        for (const bool eager : {false, true}) {
            for (const Workload& workload : kWorkloads) {
                const std::string name = CaseName(*system, eager, workload.Name);
                const Outcome outcome = Replay(*system, eager, workload, Seeded::None);
                std::printf("[ power cut ] %s: %zu prefixes\n", name.c_str(), outcome.Prefixes);
                EXPECT_EQ(outcome.Failure, "") << name;
                EXPECT_GT(outcome.Prefixes, 0u) << name;
            }
        }
    }
    const std::pair<Seeded, const char*> faults[] = {
        {Seeded::NoFileFlush, "no flush of the new file"},
        {Seeded::NoDirectoryFlush, "no flush of the directory after the rename"},
        {Seeded::ModeAfterRename, "mode and owner set after the rename"},
        {Seeded::InPlace, "the target rewritten in place"},
    };
    for (const auto& [seeded, fault] : faults) {
        std::string caughtBy;
        for (const FileSystem* system : {&kExt4, &kXfs}) {
            for (const bool eager : {false, true}) {
                const Outcome outcome =
                    caughtBy.empty() ? Replay(*system, eager, kWorkloads[0], seeded) : Outcome{};
                if (!outcome.Failure.empty())
                    caughtBy =
                        CaseName(*system, eager, kWorkloads[0].Name) + ": " + outcome.Failure;
            }
        }
        std::printf("[ seeded fault ] %s: caught by %s\n", fault,
                    caughtBy.empty() ? "nothing" : caughtBy.c_str());
        EXPECT_FALSE(caughtBy.empty()) << fault << " went unnoticed";
    }
}

}  // namespace
}  // namespace quelvane::testing
