// The floor of a run: a durable replace of the same bytes, as one process. Both inputs are copied
// inside the kernel (copy_file_range) into a new file beside the target, which is flushed and
// renamed over the target, and the directory is flushed. A patch moves at least these bytes and
// makes at least these steps durable; what it costs above this is its own.
// Usage: quelvane-floor DIR   (DIR/verdata.mul is replaced by DIR/verdata.mul + DIR/patchdata.mul)
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

int Fail(const char* what) {
    std::fprintf(stderr, "quelvane-floor: %s: %s\n", what, std::strerror(errno));
    return 1;
}

// Appends all of `in` to `out`: in the kernel, else (a file system that cannot) through a buffer.
bool Append(int in, int out) {
    struct stat status {};
    if (::fstat(in, &status) != 0)
        return false;
    for (off_t left = status.st_size; left > 0;) {
        const ssize_t moved =
            ::copy_file_range(in, nullptr, out, nullptr, static_cast<std::size_t>(left), 0);
        if (moved > 0) {
            left -= moved;
            continue;
        }
        if (moved < 0 && errno != EXDEV && errno != ENOSYS && errno != EINVAL)
            return false;
        std::vector<char> buffer(1 << 20);
        for (ssize_t got; (got = ::read(in, buffer.data(), buffer.size())) > 0;) {
            if (::write(out, buffer.data(), static_cast<std::size_t>(got)) != got)
                return false;
        }
        return true;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: quelvane-floor DIR\n");
        return 2;
    }
    const int directory = ::open(argv[1], O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (directory < 0)
        return Fail(argv[1]);
    const int out =
        ::openat(directory, "verdata.mul.new", O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (out < 0)
        return Fail("verdata.mul.new");
    for (const char* name : {"verdata.mul", "patchdata.mul"}) {
        const int in = ::openat(directory, name, O_RDONLY | O_CLOEXEC);
        if (in < 0 || !Append(in, out))
            return Fail(name);
        ::close(in);
    }
    if (::fsync(out) != 0 || ::close(out) != 0)
        return Fail("flushing verdata.mul.new");
    if (::renameat(directory, "verdata.mul.new", directory, "verdata.mul") != 0)
        return Fail("renaming");
    if (::fsync(directory) != 0)
        return Fail("flushing the directory");
    return 0;
}
