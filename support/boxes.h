// The program's own message boxes: caption "Quelvane", owned by the main window, so that the
// button cannot be pressed again while one is up; and the error stop's box.
#pragma once

#include <string_view>

#include "support/platform.h"

namespace quelvane {

inline constexpr std::string_view kCaption = "Quelvane";
inline constexpr std::string_view kStopCaption = "Error";

// The window that owns the program's boxes (the shell's main window once it exists).
void SetBoxOwner(WindowHandle owner);
WindowHandle BoxOwner();

// `reason` is the system's error behind the box, where there is one (0: none). The boxes do not
// show it; a front end that takes the boxes over (see SetBoxSink) may.
void ShowErrorBox(std::string_view text, SystemError reason = 0);
void ShowInformationBox(std::string_view text);
// A box with the warning icon: the job is done, but something about it needs the user's eye.
void ShowWarningBox(std::string_view text, SystemError reason = 0);
// The error stop's box: no owner, caption "Error", no icon. `number` is the stop's.
void ShowStopBox(std::string_view text, std::uint32_t number);

// Called before any box above shows, when set: a box waits for its click, and the run lets go
// of what keeps other runs waiting (its lock) before it, since the outcome is settled by then.
void SetBeforeBox(void (*before)());

// Takes every box above instead of the platform's message box when set (nullptr: the platform's
// boxes, the default). Gets the box's text, caption, style and reason (for the error stop's box,
// its number).
using BoxSink = void (*)(std::string_view text, std::string_view caption, std::uint32_t style,
                         SystemError reason);
void SetBoxSink(BoxSink sink);

// Words for the user that need no box, about the file `name`: the window shows none of them; a
// front end that says more (the native command) takes them with SetNoticeSink.
enum class Notice {
    StaleRemoved,         // a temporary file left by an earlier run was removed
    StaleWouldBeRemoved,  // a dry run found one, which a run would remove
    WaitingForRun,        // another run holds the file's lock: this one waits for it
    BackupWouldBeMade,    // a dry run: the old file would be kept as `name`
    BackupWouldReplace,   // the same, in place of an earlier backup of that name
};
using NoticeSink = void (*)(Notice notice, std::string_view name);
void SetNoticeSink(NoticeSink sink);
void ShowNotice(Notice notice, std::string_view name);

}  // namespace quelvane
