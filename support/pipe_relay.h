// Many short ranges of files appended to a file being written without their bytes passing
// through this process: Linux's splice, through a pipe kept for it.
#pragma once

#include <cstddef>

#include "support/platform.h"

namespace quelvane {

class PipeRelay {
  public:
    PipeRelay() = default;
    PipeRelay(const PipeRelay&) = delete;
    PipeRelay& operator=(const PipeRelay&) = delete;
    ~PipeRelay();

    // Platform::CopyRanges. Between calls the pipe is empty: a call that fails gives it up.
    Transfer Copy(const FileRange* ranges, std::size_t count, FileHandle target);

  private:
    bool Open();
    void GiveUp();
    // Moves all that the pipe holds into `target`; false (with `result` set) when it could not.
    bool Drain(int target, Transfer& result);

    int out_ = -1, in_ = -1;  // the pipe's read and write ends
    std::size_t held_ = 0;    // bytes in the pipe
};

}  // namespace quelvane
