// The fixed location value that each detecting point reports in the runtime-error box, so that a
// box read out by a user names the place that stopped the run.
#pragma once

#include <cstdint>

namespace quelvane {

enum Location : std::uint32_t {
    kLocationReadHead = 0x00401010,
    kLocationReadIndex = 0x00401020,
    kLocationSizeSource = 0x00401030,
    kLocationSeekBlock = 0x00401040,
    kLocationBlockBounds = 0x00401050,
    kLocationCloseSource = 0x00401060,
    kLocationWriteIndex = 0x00402010,
    kLocationReadCopy = 0x00402030,
    kLocationWriteCopy = 0x00402040,
    kLocationFlushTarget = 0x00402050,
    kLocationFlushBackup = 0x00402060,
    kLocationReadCompare = 0x00402070,
    kLocationAllocate = 0x00403010,
    kLocationUnhandled = 0x00403020,
};

}  // namespace quelvane
