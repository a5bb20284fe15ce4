#include "support/boxes.h"

namespace quelvane {
namespace {
WindowHandle owner = kNoWindow;
}

void SetBoxOwner(WindowHandle window) {
    owner = window;
}
WindowHandle BoxOwner() {
    return owner;
}

void ShowErrorBox(std::string_view text) {
    Os().ShowMessage(owner, text, kCaption, kBoxError);
}

void ShowInformationBox(std::string_view text) {
    Os().ShowMessage(owner, text, kCaption, kBoxInformation);
}

}  // namespace quelvane
