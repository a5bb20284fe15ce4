// A disk that remembers what reached it: a FUSE file system serving one in-memory image, "disk",
// and a file "control". Every write to the disk (offset and bytes), every flush of it (a loop
// device passes its flushes down as fsync) and every text written to the control file (a mark)
// is appended to a log in the order it arrived: one byte 'W', 'F' or 'M', a 64-bit offset, a
// 32-bit length, then that many bytes. Usage: quelvane-block-recorder MOUNTPOINT LOG SIZE_MIB
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

void Append(char type, std::uint64_t offset, const char* bytes, std::uint32_t length) {
    std::string record(1, type);
    record.append(reinterpret_cast<const char*>(&offset), 8);
    record.append(reinterpret_cast<const char*>(&length), 4);
    record.append(bytes, length);
    if (::write(logFile, record.data(), record.size()) != static_cast<ssize_t>(record.size()))
        std::abort();  // a log with a gap would prove nothing
}

bool IsDisk(const char* path) {
    return std::strcmp(path, "/disk") == 0;
}

int GetAttributes(const char* path, struct stat* status, fuse_file_info*) {
    *status = {};
    status->st_nlink = 1;
    status->st_mode = std::strcmp(path, "/") == 0 ? S_IFDIR | 0755 : S_IFREG | 0600;
    status->st_size = IsDisk(path) ? static_cast<off_t>(disk.size()) : 0;
    return IsDisk(path) || std::strcmp(path, "/control") == 0 || S_ISDIR(status->st_mode) ? 0
                                                                                          : -ENOENT;
}

// No page cache of the kernel's between the loop device and us: each write arrives as made.
int Open(const char*, fuse_file_info* info) {
    info->direct_io = 1;
    return 0;
}

int Read(const char* path, char* buffer, size_t size, off_t offset, fuse_file_info*) {
    const auto at = std::min(static_cast<std::size_t>(offset), disk.size());
    const std::size_t count = IsDisk(path) ? std::min(size, disk.size() - at) : 0;
    std::memcpy(buffer, disk.data() + at, count);
    return static_cast<int>(count);
}

int Write(const char* path, const char* bytes, size_t size, off_t offset, fuse_file_info*) {
    if (IsDisk(path) && static_cast<std::size_t>(offset) + size > disk.size())
        return -ENOSPC;
    if (IsDisk(path))
        std::memcpy(disk.data() + offset, bytes, size);
    Append(IsDisk(path) ? 'W' : 'M', IsDisk(path) ? static_cast<std::uint64_t>(offset) : 0, bytes,
           static_cast<std::uint32_t>(size));
    return static_cast<int>(size);
}

int Fsync(const char* path, int, fuse_file_info*) {
    if (IsDisk(path))
        Append('F', 0, nullptr, 0);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4)
        return std::fprintf(stderr, "usage: quelvane-block-recorder MOUNTPOINT LOG SIZE_MIB\n"), 2;
    disk.assign(static_cast<std::size_t>(std::atoi(argv[3])) << 20, '\0');
    logFile = ::open(argv[2], O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0600);
    fuse_operations operations{};
    operations.getattr = GetAttributes;
    operations.open = Open;
    operations.read = Read;
    operations.write = Write;
    operations.fsync = Fsync;
    operations.truncate = [](const char*, off_t, fuse_file_info*) { return 0; };
    // One thread, in the foreground: requests are served, and logged, in the order they came.
    char* arguments[] = {argv[0], const_cast<char*>("-f"), const_cast<char*>("-s"), argv[1],
                         nullptr};
    return logFile < 0 ? 1 : fuse_main(4, arguments, &operations, nullptr);
}
