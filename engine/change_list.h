// The changes a run makes to the tables, told one at a time as they are made, for a front end
// that lists them. Nothing is gathered: memory stays what the tables need.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace quelvane {

enum class Change : std::uint8_t {
    LeftOut,           // an entry of either file with a FileId above 33, dropped on loading
    DroppedDuplicate,  // an earlier entry of a key the target holds again
    Replaced,          // a patch entry that takes the place of the target's entry of its key
    Added,             // a patch entry that goes in anew
    Superseded,        // a later patch entry of a key that an earlier one takes: not in the result
};

// One change: the file the entry is in, its key, and the lengths of the data blocks before and
// after (kNoLength where there is none: a dropped or superseded entry has no after, an added one
// no before).
// An entry without data counts length 0.
inline constexpr std::int64_t kNoLength = -1;
struct ChangeLine {
    Change Kind = Change::Added;
    std::string_view File;
    std::int32_t FileId = 0;
    std::int32_t BlockId = 0;
    std::int64_t Before = kNoLength;
    std::int64_t After = kNoLength;
};

// Takes every change when set (nullptr, the default: changes are not told, at the cost of one
// test of a flag where a change is made).
using ChangeSink = void (*)(const ChangeLine& change);
void SetChangeSink(ChangeSink sink);
bool ListingChanges();
void ListChange(const ChangeLine& change);

// A change as one line, fields parted by tabs: its kind ("left-out", "dropped-duplicate",
// "replaced", "added", "superseded"), the file its entry is in, FileId, BlockId, and the data's
// length before and after ("-" where there is none). Scripts read it: the form stays as it is.
std::string ChangeText(const ChangeLine& change);

}  // namespace quelvane
