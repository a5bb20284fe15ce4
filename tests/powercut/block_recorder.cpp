// A disk that remembers what reached it: a FUSE file system serving one in-memory image, "disk",
// and a file "control". Every write to the disk (its offset and bytes), every flush of it, and
// every line written to the control file (a mark) is appended, in the order it arrived, to a log.
// A loop device on "disk" carries a real file system; its flushes reach us as fsync.
//
// Usage: quelvane-block-recorder MOUNTPOINT LOG SIZE_MIB
// Log records: one byte 'W', 'F' or 'M', then a 64-bit offset and a 32-bit length (little-endian,
// as this machine writes them), then the length's bytes (a write's data, a mark's text).
#define FUSE_USE_VERSION 35
#include <fuse3/fuse.h>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::vector<char> disk;
int logFile = -1;
constexpr char kDisk[] = "/disk", kControl[] = "/control";

void Append(char type, std::uint64_t offset, const char* bytes, std::uint32_t length) {
    std::vector<char> record(13 + length);
    record[0] = type;
    std::memcpy(&record[1], &offset, 8);
    std::memcpy(&record[9], &length, 4);
    if (length != 0)
        std::memcpy(&record[13], bytes, length);
    if (::write(logFile, record.data(), record.size()) != static_cast<ssize_t>(record.size()))
        std::abort();  // a log with a gap would prove nothing
}

int GetAttributes(const char* path, struct stat* status, fuse_file_info*) {
    std::memset(status, 0, sizeof *status);
    if (std::strcmp(path, "/") == 0) {
        status->st_mode = S_IFDIR | 0755;
        status->st_nlink = 2;
        return 0;
    }
    const bool isDisk = std::strcmp(path, kDisk) == 0;
    if (!isDisk && std::strcmp(path, kControl) != 0)
        return -ENOENT;
    status->st_mode = S_IFREG | 0600;
    status->st_nlink = 1;
    status->st_size = isDisk ? static_cast<off_t>(disk.size()) : 0;
    return 0;
}

int ReadDirectory(const char*, void* buffer, fuse_fill_dir_t fill, off_t, fuse_file_info*,
                  fuse_readdir_flags) {
    for (const char* name : {".", "..", kDisk + 1, kControl + 1})
        fill(buffer, name, nullptr, 0, static_cast<fuse_fill_dir_flags>(0));
    return 0;
}

// No page cache of the kernel's between the loop device and us: each write arrives as made.
int Open(const char* path, fuse_file_info* info) {
    if (std::strcmp(path, kDisk) != 0 && std::strcmp(path, kControl) != 0)
        return -ENOENT;
    info->direct_io = 1;
    return 0;
}

int Read(const char* path, char* buffer, size_t size, off_t offset, fuse_file_info*) {
    if (std::strcmp(path, kDisk) != 0)
        return 0;
    const auto at = static_cast<std::size_t>(offset);
    if (at >= disk.size())
        return 0;
    const std::size_t count = std::min(size, disk.size() - at);
    std::memcpy(buffer, disk.data() + at, count);
    return static_cast<int>(count);
}

int Write(const char* path, const char* bytes, size_t size, off_t offset, fuse_file_info*) {
    const auto length = static_cast<std::uint32_t>(size);
    if (std::strcmp(path, kControl) == 0) {
        Append('M', 0, bytes, length);
        return static_cast<int>(size);
    }
    const auto at = static_cast<std::size_t>(offset);
    if (at + size > disk.size())
        return -ENOSPC;
    std::memcpy(disk.data() + at, bytes, size);
    Append('W', static_cast<std::uint64_t>(offset), bytes, length);
    return static_cast<int>(size);
}

int Fsync(const char* path, int, fuse_file_info*) {
    if (std::strcmp(path, kDisk) == 0)
        Append('F', 0, nullptr, 0);
    return 0;
}

int Truncate(const char*, off_t, fuse_file_info*) {
    return 0;  // the disk keeps its size
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: quelvane-block-recorder MOUNTPOINT LOG SIZE_MIB\n");
        return 2;
    }
    disk.assign(static_cast<std::size_t>(std::atoi(argv[3])) << 20, '\0');
    logFile = ::open(argv[2], O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0600);
    if (logFile < 0)
        return std::perror(argv[2]), 1;
    fuse_operations operations{};
    operations.getattr = GetAttributes;
    operations.readdir = ReadDirectory;
    operations.open = Open;
    operations.read = Read;
    operations.write = Write;
    operations.fsync = Fsync;
    operations.truncate = Truncate;
    // One thread, in the foreground: requests are served, and logged, in the order they came.
    char* arguments[] = {argv[0], const_cast<char*>("-f"), const_cast<char*>("-s"), argv[1],
                         nullptr};
    return fuse_main(4, arguments, &operations, nullptr);
}
