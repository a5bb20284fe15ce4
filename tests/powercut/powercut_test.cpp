// Power cuts, replayed: the real write runs on ext4 and XFS over a loop device whose every block
// write and flush is recorded (quelvane-block-recorder); then every prefix of that record is
// mounted as the disk would hold it after a cut there (the kernel's journal recovery runs), and
// verdata.mul must be exactly the old file or exactly the new one, and the new one once the run
// has returned. Seeded faults in the write's order must each be caught.
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "tests/test_files.h"
#include "tests/test_platform.h"

namespace quelvane::testing {
namespace {

namespace fs = std::filesystem;
constexpr std::size_t kDiskMiB = 32;

std::string Output(const std::string& command) {
    std::string text;
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
        char buffer[256];
        while (std::fgets(buffer, sizeof buffer, pipe) != nullptr)
            text += buffer;
        ::pclose(pipe);
    }
    while (!text.empty() && text.back() == '\n')
        text.pop_back();
    return text;
}

struct FileSystem {
    const char* Name;
    const char* Make;     // the command that makes it on the device named last
    const char* Options;  // its mount options
};
const FileSystem kExt4{"ext4", "mkfs.ext4 -q -F", "data=ordered,noauto_da_alloc"};
const FileSystem kXfs{"xfs", "TEST_DIR=1 TEST_DEV=1 QA_CHECK_FS=1 mkfs.xfs -q -f", "nouuid"};

// What keeps the test from running here, or empty.
std::string Missing() {
    if (::access(QUELVANE_RECORDER, X_OK) != 0)
        return "the block recorder was not built (no libfuse3-dev)";
    if (::geteuid() != 0)
        return "it needs root";
    if (::access("/dev/fuse", R_OK | W_OK) != 0)
        return "there is no /dev/fuse";
    if (Output("losetup -f 2>/dev/null").empty())
        return "there is no free loop device";
    for (const char* tool : {"mkfs.ext4", "mkfs.xfs", "fusermount3"}) {
        if (Output(std::string("command -v ") + tool).empty())
            return std::string("there is no ") + tool;
    }
    return {};
}

// The recorder's disk, with a loop device and a file system on it, mounted at `Mount`.
class RecordedDisk {
  public:
    RecordedDisk(const std::string& work, const FileSystem& system)
        : fuse_(work + "/fuse"), log_(work + "/log"), Mount(work + "/fs") {
        fs::create_directories(fuse_);
        fs::create_directories(Mount);
        recorder_ = ::fork();
        if (recorder_ == 0) {
            ::execl(QUELVANE_RECORDER, "quelvane-block-recorder", fuse_.c_str(), log_.c_str(),
                    std::to_string(kDiskMiB).c_str(), nullptr);
            ::_exit(127);
        }
        for (int tries = 0; tries < 500 && !fs::exists(fuse_ + "/disk"); ++tries)
            ::usleep(10000);
        loop_ = Output("losetup -f --show " + fuse_ + "/disk");
        if (loop_.empty() || std::system((std::string(system.Make) + " " + loop_).c_str()) != 0 ||
            ::mount(loop_.c_str(), Mount.c_str(), system.Name, 0, system.Options) != 0) {
            return;
        }
        control_ = ::open((fuse_ + "/control").c_str(), O_WRONLY | O_CLOEXEC);
    }
    ~RecordedDisk() { Close(); }
    RecordedDisk(const RecordedDisk&) = delete;
    RecordedDisk& operator=(const RecordedDisk&) = delete;

    bool Ready() const { return control_ >= 0; }
    void Mark(const std::string& text) const { (void)!::write(control_, text.data(), text.size()); }
    // Unmounts all; the log is complete once this returns.
    const std::string& Close() {
        if (recorder_ > 0) {
            ::umount2(Mount.c_str(), 0);
            if (control_ >= 0)
                ::close(control_);
            if (!loop_.empty())
                std::system(("losetup -d " + loop_).c_str());
            std::system(("fusermount3 -u " + fuse_).c_str());
            ::waitpid(recorder_, nullptr, 0);
            recorder_ = -1;
        }
        return log_;
    }

  private:
    std::string fuse_, log_;

  public:
    const std::string Mount;

  private:
    pid_t recorder_ = -1;
    std::string loop_;
    int control_ = -1;
};

struct Record {
    char Type;  // 'W' a write, 'F' a flush, 'M' a mark
    std::uint64_t Offset;
    std::string Bytes;
};

std::vector<Record> ReadLog(const std::string& path) {
    const Bytes log = ReadFileBytes(path);
    std::vector<Record> records;
    for (std::size_t at = 0; at + 13 <= log.size();) {
        Record record{static_cast<char>(log[at]), 0, {}};
        std::uint32_t length = 0;
        std::memcpy(&record.Offset, &log[at + 1], 8);
        std::memcpy(&length, &log[at + 9], 4);
        record.Bytes.assign(reinterpret_cast<const char*>(&log[at + 13]), length);
        records.push_back(std::move(record));
        at += 13 + length;
    }
    return records;
}

// Mounts images of the disk, one after another, on a loop device of their own.
class Replayer {
  public:
    Replayer(const std::string& work, const FileSystem& system)
        : image_("/dev/shm/quelvane-replay-" + std::to_string(::getpid())),
          mount_(work + "/replay"),
          system_(system) {
        fs::create_directories(mount_);
        loop_ = Output("truncate -s " + std::to_string(kDiskMiB) + "M " + image_ +
                       " && losetup -f --show " + image_);
        device_ = ::open(loop_.c_str(), O_RDONLY | O_CLOEXEC);
        file_ = ::open(image_.c_str(), O_WRONLY | O_CLOEXEC);
    }
    ~Replayer() {
        ::close(device_);
        ::close(file_);
        std::system(("losetup -d " + loop_).c_str());
        ::unlink(image_.c_str());
    }
    Replayer(const Replayer&) = delete;
    Replayer& operator=(const Replayer&) = delete;

    // What the disk `image` holds as verdata.mul, mounted as after a power cut.
    std::string Found(const std::string& image, const Bytes& before, const Bytes& after) {
        (void)!::pwrite(file_, image.data(), image.size(), 0);
        ::ioctl(device_, BLKFLSBUF, 0);  // nothing of the last image stays in the device's cache
        if (::mount(loop_.c_str(), mount_.c_str(), system_.Name, 0, system_.Options) != 0)
            return std::string("no file system: ") + std::strerror(errno);
        const std::string path = mount_ + "/verdata.mul";
        struct stat status {};
        std::string found = "nothing";
        if (::lstat(path.c_str(), &status) == 0) {
            const Bytes content = ReadFileBytes(path);
            found = content == before ? "old"
                    : content == after
                        ? "new"
                        : "other content (" + std::to_string(content.size()) + " bytes)";
            char attributes[64];
            std::snprintf(attributes, sizeof attributes, ", mode %o, owner %u:%u",
                          status.st_mode & 07777, status.st_uid, status.st_gid);
            found += attributes;
        }
        ::umount2(mount_.c_str(), 0);
        return found;
    }

  private:
    std::string image_, mount_, loop_;
    const FileSystem& system_;
    int device_ = -1, file_ = -1;
};

enum class Schedule { Lazy, Eager };
enum class Seeded { None, NoFileFlush, NoDirectoryFlush, ModeAfterRename, InPlace };

int Fd(std::uintptr_t handle) {
    return static_cast<int>(handle) - 1;  // as the POSIX platform makes its handles
}

// The real platform, with one of the write's steps done out of order when asked.
class SeededPlatform final : public TestPlatform {
  public:
    explicit SeededPlatform(Seeded seeded) : seeded_(seeded) {}

    FileHandle CreateNew(DirectoryHandle directory, std::string_view name, FileHandle model,
                         SystemError* error) override {
        if (seeded_ != Seeded::InPlace)
            return TestPlatform::CreateNew(directory, name, model, error);
        return static_cast<FileHandle>(::open("/dev/shm", O_TMPFILE | O_RDWR, 0600)) + 1;
    }
    SystemError Flush(FileHandle file) override {
        return seeded_ == Seeded::NoFileFlush ? 0 : TestPlatform::Flush(file);
    }
    SystemError KeepAttributes(FileHandle model, FileHandle file) override {
        ::fstat(Fd(model), &kept_);
        return seeded_ == Seeded::ModeAfterRename ? 0 : TestPlatform::KeepAttributes(model, file);
    }
    SystemError Replace(DirectoryHandle directory, FileHandle file, std::string_view replacement,
                        std::string_view target) override {
        const std::string name(target);
        const int at = Fd(directory);
        switch (seeded_) {
            case Seeded::NoDirectoryFlush:
                ::close(Fd(file));
                return ::renameat(at, std::string(replacement).c_str(), at, name.c_str()) != 0
                           ? static_cast<SystemError>(errno)
                           : 0;
            case Seeded::ModeAfterRename: {
                const SystemError error =
                    TestPlatform::Replace(directory, file, replacement, target);
                ::fchownat(at, name.c_str(), kept_.st_uid, kept_.st_gid, 0);
                ::fchmodat(at, name.c_str(), kept_.st_mode & 07777, 0);
                return error;
            }
            case Seeded::InPlace: {  // the new content written over the target's own bytes
                const int in = Fd(file);
                const int out = ::openat(at, name.c_str(), O_WRONLY | O_TRUNC);
                Meanwhile("write");  // its own steps, each marked as the run's are
                std::vector<char> buffer(1 << 20);
                for (off_t done = 0;;) {
                    const ssize_t got = ::pread(in, buffer.data(), buffer.size(), done);
                    if (got <= 0)
                        break;
                    (void)!::write(out, buffer.data(), static_cast<std::size_t>(got));
                    done += got;
                    Meanwhile("write");
                }
                Meanwhile("flush");
                ::fsync(out);
                ::close(out);
                ::close(in);
                return 0;
            }
            default:
                return TestPlatform::Replace(directory, file, replacement, target);
        }
    }

  private:
    Seeded seeded_;
    struct stat kept_ {};
};

struct Workload {
    const char* Name;
    Bytes Target, Patch;
    bool KernelCopy = false, Stale = false;
};

std::vector<Workload> Workloads() {
    std::mt19937 random(23);
    const auto noise = [&](std::size_t size) {
        Bytes bytes(size);
        for (auto& byte : bytes)
            byte = static_cast<unsigned char>(random());
        return bytes;
    };
    // A file of these blocks, back to back behind the index, with even BlockIds.
    const auto placed = [&](const std::vector<Bytes>& blocks) {
        FileBuilder builder;
        const auto start = static_cast<std::int32_t>(4 + 20 * blocks.size());
        std::int32_t at = start;
        for (std::size_t k = 0; k < blocks.size(); ++k) {
            const auto length = static_cast<std::int32_t>(blocks[k].size());
            builder.Entry({1, static_cast<std::int32_t>(2 * k), at, length, 0});
            at += length;
        }
        for (const Bytes& block : blocks)
            builder.Data(block);
        return builder.Build();
    };
    const Bytes smallPatch = placed({noise(3000)});
    return {
        {"several 1 MiB chunks, buffered", placed({noise(1300000), noise(1200000), noise(900000)}),
         smallPatch},
        {"smaller than a chunk, buffered", placed({noise(5000), noise(7000)}), smallPatch},
        {"in-kernel copy", placed({noise(1500000), noise(1500000)}), smallPatch, true},
        {"a stale verdata.mul.new", placed({noise(5000), noise(7000)}), smallPatch, false, true},
    };
}

struct Outcome {
    std::size_t Prefixes = 0;
    std::string Failure;  // the first prefix that was neither old nor new, or empty
};

// Lays the pair on a fresh recorded disk, runs the write there, then replays every prefix of the
// record from the run's start.
Outcome Replay(const FileSystem& system, Schedule schedule, const Workload& workload, Seeded seeded,
               bool stopAtFirst) {
    TempDirectory scratch;
    WriteFileBytes("verdata.mul", workload.Target);
    WriteFileBytes("patchdata.mul", workload.Patch);
    Bytes after;
    {
        TestPlatform plain;
        bool completed = false;
        plain.Press(completed);
        after = ReadFileBytes("verdata.mul");
    }
    const std::string kept = ", mode 640, owner 1234:5678";
    Outcome outcome;
    {
        RecordedDisk disk(scratch.Path(), system);
        if (!disk.Ready())
            return {0, "the recorded disk could not be made"};
        const std::string at = disk.Mount + "/";
        WriteFileBytes(at + "verdata.mul", workload.Target);
        WriteFileBytes(at + "patchdata.mul", workload.Patch);
        ::chmod((at + "verdata.mul").c_str(), 0640);
        ::chown((at + "verdata.mul").c_str(), 1234, 5678);
        if (workload.Stale)
            WriteFileBytes(at + "verdata.mul.new", Bytes(4000, 's'));
        const int sentinel = ::open((at + "sentinel").c_str(), O_RDWR | O_CREAT, 0600);
        ::syncfs(sentinel);
        disk.Mark("start");
        SeededPlatform os(seeded);
        os.KernelCopy = workload.KernelCopy;
        off_t size = 0;
        os.Meanwhile = [&](Operation operation) {
            if (schedule == Schedule::Eager) {  // a journal commit of all that is pending
                (void)!::ftruncate(sentinel, ++size);
                ::fsync(sentinel);
            }
            disk.Mark("before " + std::string(operation));
        };
        fs::current_path(disk.Mount);
        bool completed = false;
        os.Press(completed);
        os.Meanwhile = [](Operation) {};
        disk.Mark("returned");
        fs::current_path(scratch.Path());
        ::close(sentinel);
        if (!completed)
            return {0, "the run did not complete"};
        disk.Close();
    }
    const std::vector<Record> log = ReadLog(scratch.Path() + "/log");
    Replayer replayer(scratch.Path(), system);
    std::string image(kDiskMiB << 20, '\0');
    bool started = false, returned = false;
    std::string lastMark = "start";  // the last mark before the prefix's end
    for (std::size_t k = 0; k < log.size(); ++k) {
        const Record& record = log[k];
        if (record.Type == 'M') {
            started = started || record.Bytes == "start";
            returned = returned || record.Bytes == "returned";
            lastMark = record.Bytes;
            continue;
        }
        if (record.Type != 'W')
            continue;
        image.replace(record.Offset, record.Bytes.size(), record.Bytes);
        if (!started)
            continue;
        ++outcome.Prefixes;
        const std::string found = replayer.Found(image, workload.Target, after);
        const bool fine = found == "new" + kept || (!returned && found == "old" + kept);
        if (!fine && outcome.Failure.empty()) {
            outcome.Failure = "prefix " + std::to_string(outcome.Prefixes) + " (record " +
                              std::to_string(k) + "), last mark '" + lastMark + "': " + found;
            if (stopAtFirst)
                break;
        }
    }
    return outcome;
}

TEST(PowerCut, EveryPrefixOfTheWriteLeavesTheOldFileOrTheNew) {
    if (const std::string missing = Missing(); !missing.empty())
        GTEST_SKIP() << "the power-cut test cannot run here: " << missing;
    for (const FileSystem* system : {&kExt4, &kXfs}) {
        for (const Schedule schedule : {Schedule::Lazy, Schedule::Eager}) {
            for (const Workload& workload : Workloads()) {
                const std::string name = std::string(system->Name) +
                                         (schedule == Schedule::Lazy ? ", lazy, " : ", eager, ") +
                                         workload.Name;
                const Outcome outcome = Replay(*system, schedule, workload, Seeded::None, false);
                std::printf("[ power cut ] %s: %zu prefixes\n", name.c_str(), outcome.Prefixes);
                EXPECT_EQ(outcome.Failure, "") << name;
                EXPECT_GT(outcome.Prefixes, 0u) << name;
            }
        }
    }
}

// Each fault in the write's order is caught on at least one file system and schedule.
TEST(PowerCut, EachFaultInTheWritesOrderIsCaught) {
    if (const std::string missing = Missing(); !missing.empty())
        GTEST_SKIP() << "the power-cut test cannot run here: " << missing;
    const std::pair<Seeded, const char*> faults[] = {
        {Seeded::NoFileFlush, "no flush of the new file"},
        {Seeded::NoDirectoryFlush, "no flush of the directory after the rename"},
        {Seeded::ModeAfterRename, "mode and owner set after the rename"},
        {Seeded::InPlace, "the target rewritten in place"},
    };
    const Workload workload = Workloads().front();
    for (const auto& [seeded, name] : faults) {
        std::string caughtBy;
        for (const FileSystem* system : {&kExt4, &kXfs}) {
            for (const Schedule schedule : {Schedule::Lazy, Schedule::Eager}) {
                if (!caughtBy.empty())
                    continue;
                const Outcome outcome = Replay(*system, schedule, workload, seeded, true);
                if (!outcome.Failure.empty()) {
                    caughtBy = std::string(system->Name) +
                               (schedule == Schedule::Lazy ? ", lazy: " : ", eager: ") +
                               outcome.Failure;
                }
            }
        }
        std::printf("[ seeded fault ] %s: caught by %s\n", name,
                    caughtBy.empty() ? "nothing" : caughtBy.c_str());
        EXPECT_FALSE(caughtBy.empty()) << name << " went unnoticed";
    }
}

}  // namespace
}  // namespace quelvane::testing
