// The program's own message boxes: caption "Quelvane", owned by the main window, so that the
// button cannot be pressed again while one is up.
#pragma once

#include <string_view>

#include "support/platform.h"

namespace quelvane {

inline constexpr std::string_view kCaption = "Quelvane";

// The window that owns the program's boxes (the shell's main window once it exists).
void SetBoxOwner(WindowHandle owner);
WindowHandle BoxOwner();

void ShowErrorBox(std::string_view text);
void ShowInformationBox(std::string_view text);

}  // namespace quelvane
