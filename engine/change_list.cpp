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

}  // namespace quelvane
