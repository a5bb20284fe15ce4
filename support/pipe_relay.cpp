#include "support/pipe_relay.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "support/posix_handles.h"

namespace quelvane {
namespace {

// The most the pipe is asked to hold. Splicing a range into a pipe takes references to the
// source's cached pages rather than copies, so this costs no memory of the process's own; it
// bounds the calls that empty the pipe, one per this many bytes at best. An unprivileged process
// may ask for up to 1 MiB (fs.pipe-max-size); refused, the pipe keeps its default 64 KiB.
constexpr int kPipeBytes = 1 << 20;

bool Unsupported(int error) {
    return error == EINVAL || error == ENOSYS || error == EOPNOTSUPP || error == EBADF;
}

}  // namespace

PipeRelay::~PipeRelay() {
    GiveUp();
}

bool PipeRelay::Open() {
#if defined(__linux__)
    if (in_ >= 0)
        return true;
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0)
        return false;
    out_ = ends[0];
    in_ = ends[1];
    (void)::fcntl(in_, F_SETPIPE_SZ, kPipeBytes);
    return true;
#else
    return false;
#endif
}

// Whatever the pipe still holds is dropped with it: a failed call leaves nothing behind for the
// next one to write.
void PipeRelay::GiveUp() {
    if (in_ >= 0) {
        ::close(in_);
        ::close(out_);
    }
    in_ = out_ = -1;
    held_ = 0;
}

bool PipeRelay::Drain(int target, Transfer& result) {
#if defined(__linux__)
    while (held_ > 0) {
        const ssize_t moved = ::splice(out_, nullptr, target, nullptr, held_, 0);
        if (moved < 0 && errno == EINTR)
            continue;
        if (moved <= 0) {
            // A target that takes no splice refuses the first bytes offered: nothing has reached
            // it from this call's pipe, and the caller copies from `moved` on.
            const int error = moved < 0 ? errno : EIO;
            result.error = Unsupported(error) ? kCopyUnsupported : static_cast<SystemError>(error);
            GiveUp();
            return false;
        }
        held_ -= static_cast<std::size_t>(moved);
        result.moved += static_cast<std::uint32_t>(moved);
    }
    return true;
#else
    (void)target, (void)result;
    return false;
#endif
}

Transfer PipeRelay::Copy(const FileRange* ranges, std::size_t count, FileHandle target) {
    Transfer result;
    if (!Open())
        return Transfer{kCopyUnsupported, 0};
#if defined(__linux__)
    const int to = Descriptor(target);
    for (std::size_t k = 0; k < count; ++k) {
        loff_t position = static_cast<loff_t>(ranges[k].Position);
        std::uint32_t left = ranges[k].Size;
        while (left > 0) {
            const ssize_t moved = ::splice(Descriptor(ranges[k].File), &position, in_, nullptr,
                                           left, SPLICE_F_NONBLOCK);
            if (moved > 0) {
                left -= static_cast<std::uint32_t>(moved);
                held_ += static_cast<std::size_t>(moved);
                continue;
            }
            if (moved < 0 && errno == EINTR)
                continue;
            if (moved < 0 && errno == EAGAIN && held_ > 0) {  // the pipe is full: empty it
                if (!Drain(to, result))
                    return result;
                continue;
            }
            // The source ended early (a short result), or refused: what the pipe holds is
            // dropped, so `moved` is what reached the target.
            if (moved < 0)
                result.error =
                    Unsupported(errno) ? kCopyUnsupported : static_cast<SystemError>(errno);
            GiveUp();
            return result;
        }
    }
    (void)Drain(to, result);
#else
    (void)ranges, (void)count, (void)target;
#endif
    return result;
}

}  // namespace quelvane
