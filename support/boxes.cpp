#include "support/boxes.h"

namespace quelvane {
namespace {
WindowHandle owner = kNoWindow;
BoxSink sink = nullptr;
NoticeSink noticeSink = nullptr;

void (*beforeBox)() = nullptr;

void Show(WindowHandle window, std::string_view text, std::string_view caption, std::uint32_t style,
          SystemError reason) {
    if (beforeBox != nullptr)
        beforeBox();
    if (sink != nullptr)
        sink(text, caption, style, reason);
    else
        Os().ShowMessage(window, text, caption, style);
}
}  // namespace

void SetBoxOwner(WindowHandle window) {
    owner = window;
}
WindowHandle BoxOwner() {
    return owner;
}
void SetBoxSink(BoxSink taker) {
    sink = taker;
}
void SetBeforeBox(void (*before)()) {
    beforeBox = before;
}

void ShowErrorBox(std::string_view text, SystemError reason) {
    Show(owner, text, kCaption, kBoxError, reason);
}

void ShowInformationBox(std::string_view text) {
    Show(owner, text, kCaption, kBoxInformation, 0);
}

void ShowWarningBox(std::string_view text, SystemError reason) {
    Show(owner, text, kCaption, kBoxWarning, reason);
}

void SetNoticeSink(NoticeSink taker) {
    noticeSink = taker;
}
void ShowNotice(Notice notice, std::string_view name) {
    if (noticeSink != nullptr)
        noticeSink(notice, name);
}

void ShowStopBox(std::string_view text, std::uint32_t number) {
    Show(kNoWindow, text, kStopCaption, kBoxPlain, number);
}

}  // namespace quelvane
