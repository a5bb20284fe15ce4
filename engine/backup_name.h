// Which name the old file is kept under, chosen the way GNU cp, mv and install choose it: by a
// version control (none, simple, numbered, existing) and a simple suffix.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "support/platform.h"

namespace quelvane {

enum class BackupControl : std::uint8_t {
    None,      // "none", "off": no backup
    Simple,    // "simple", "never": the name and the suffix, an earlier one replaced
    Numbered,  // "numbered", "t": the name and ".~N~", one above the highest there; never replaced
    Existing,  // "existing", "nil": numbered where numbered ones are there already, else simple
};

struct BackupChoice {
    BackupControl Control = BackupControl::None;
    std::string Suffix = ".orig";
};

// The control a word names: one of the words above or an abbreviation of them that names one
// control only ("num", "ex"); nothing for any other word. An empty word is "existing", the
// default.
std::optional<BackupControl> BackupControlNamed(std::string_view word);

// The words, as a usage message lists them.
inline constexpr std::string_view kBackupControlWords =
    "'none', 'off'; 'simple', 'never'; 'existing', 'nil'; 'numbered', 't'";

// The backup's name for the file `name` in `directory` under `choice` (whose control is not
// None), in `backup`: for a numbered one the directory is read for the numbers there, compared
// as digit strings so that none overflows. 0, or the reason the directory could not be read.
SystemError BackupNameFor(DirectoryHandle directory, std::string_view name,
                          const BackupChoice& choice, std::string* backup);

}  // namespace quelvane
