// Reading an indexed data file into an EntryTable.
#pragma once

#include <string_view>

#include "engine/entry_table.h"

namespace quelvane {

// Loads `fileName` (in the current directory) into `table`: the kept entries in index order, each
// with the place of its block, and the file held open for the blocks to be copied from later.
//
// Returns false, after showing one box, when the file cannot be opened (`openErrorText`) or is
// damaged in a way the format cannot hold (a count outside 0..65535, a data entry whose Length is
// below -1); `table` is then empty and the file closed. A file too short for its head, index or
// any block, or a block at a negative position, ends in the error stop, as any failed read does.
bool LoadEntryTable(std::string_view fileName, std::string_view openErrorText, EntryTable& table,
                    OpenMode mode = OpenMode::ReadWrite);
// The same for the file at `file`, which the boxes call `fileName`.
bool LoadEntryTable(const FinalPlace& file, std::string_view fileName,
                    std::string_view openErrorText, EntryTable& table, OpenMode mode);

// "verdata.mul" -> "Verdata.mul": how the boxes spell a file's name.
std::string DisplayName(std::string_view fileName);

}  // namespace quelvane
