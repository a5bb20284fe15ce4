#include "engine/change_list.h"

namespace quelvane {
namespace {

ChangeSink changeSink = nullptr;

}  // namespace

void SetChangeSink(ChangeSink sink) {
    changeSink = sink;
}

bool ListingChanges() {
    return changeSink != nullptr;
}

void ListChange(const ChangeLine& change) {
    if (changeSink != nullptr)
        changeSink(change);
}

std::string ChangeText(const ChangeLine& change) {
    const auto length = [](std::int64_t bytes) {
        return bytes == kNoLength ? std::string("-") : std::to_string(bytes);
    };
    const char* kind = change.Kind == Change::LeftOut            ? "left-out"
                       : change.Kind == Change::DroppedDuplicate ? "dropped-duplicate"
                       : change.Kind == Change::Replaced         ? "replaced"
                       : change.Kind == Change::Superseded       ? "superseded"
                                                                 : "added";
    return std::string(kind) + "\t" + std::string(change.File) + "\t" +
           std::to_string(change.FileId) + "\t" + std::to_string(change.BlockId) + "\t" +
           length(change.Before) + "\t" + length(change.After);
}

}  // namespace quelvane
