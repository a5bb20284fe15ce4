#include "engine/entry_table.h"

#include <algorithm>

#include "support/io_check.h"
#include "support/locations.h"

namespace quelvane {

SourceFile::~SourceFile() {
    if (Handle != kNoFile)
        (void)Os().Close(Handle);
}

EntryTable TargetTable;
EntryTable PatchTable;

bool IsSortedByKey(const std::vector<TableEntry>& entries) {
    return std::is_sorted(entries.begin(), entries.end(), [](const auto& a, const auto& b) {
        return EntryKey::Of(a.Entry) < EntryKey::Of(b.Entry);
    });
}

void ReleaseTable(EntryTable& table) {
    table.Entries.clear();
    table.Entries.shrink_to_fit();
    table.LeftOut = 0;
    auto sources = std::move(table.Sources);
    table.Sources.clear();
    for (auto& source : sources) {
        // Only the last table to hold a source closes it.
        if (source.use_count() == 1 && source->Handle != kNoFile) {
            const FileHandle handle = source->Handle;
            source->Handle = kNoFile;
            CheckedClose(handle, kLocationCloseSource);
        }
    }
}

}  // namespace quelvane
