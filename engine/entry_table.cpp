#include "engine/entry_table.h"

#include "support/io_check.h"
#include "support/locations.h"

namespace quelvane {

SourceFile::~SourceFile() {
    if (Handle != kNoFile) (void)Os().Close(Handle);
}

EntryTable TargetTable;
EntryTable PatchTable;

void ReleaseTable(EntryTable& table) {
    table.Entries.clear();
    table.Entries.shrink_to_fit();
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
