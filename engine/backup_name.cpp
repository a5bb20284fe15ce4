#include "engine/backup_name.h"

#include <utility>
#include <vector>

namespace quelvane {
namespace {

// Every word and its synonym, as GNU reads them.
constexpr std::pair<std::string_view, BackupControl> kWords[] = {
    {"none", BackupControl::None},         {"off", BackupControl::None},
    {"simple", BackupControl::Simple},     {"never", BackupControl::Simple},
    {"existing", BackupControl::Existing}, {"nil", BackupControl::Existing},
    {"numbered", BackupControl::Numbered}, {"t", BackupControl::Numbered},
};

// The number N of "NAME.~N~": digits, the first of them not 0; empty for any other name.
std::string_view NumberOf(std::string_view candidate, std::string_view name) {
    if (candidate.size() < name.size() + 4 || !candidate.starts_with(name) ||
        candidate.substr(name.size(), 2) != ".~" || !candidate.ends_with('~'))
        return {};
    const std::string_view number =
        candidate.substr(name.size() + 2, candidate.size() - name.size() - 3);
    if (number.empty() || number.front() == '0' ||
        number.find_first_not_of("0123456789") != std::string_view::npos)
        return {};
    return number;
}

// `number` + 1, as digits.
std::string Incremented(std::string number) {
    for (auto digit = number.rbegin(); digit != number.rend(); ++digit) {
        if (*digit != '9') {
            ++*digit;
            return number;
        }
        *digit = '0';
    }
    return "1" + number;
}

}  // namespace

std::optional<BackupControl> BackupControlNamed(std::string_view word) {
    if (word.empty())
        return BackupControl::Existing;
    std::optional<BackupControl> found;
    for (const auto& [name, control] : kWords) {
        if (name == word)
            return control;
        if (name.starts_with(word)) {
            if (found.has_value() && *found != control)
                return std::nullopt;  // an abbreviation of two controls
            found = control;
        }
    }
    return found;
}

SystemError BackupNameFor(DirectoryHandle directory, std::string_view name,
                          const BackupChoice& choice, std::string* backup) {
    *backup = std::string(name) + choice.Suffix;
    if (choice.Control == BackupControl::Simple)
        return 0;
    std::vector<std::string> names;
    if (const SystemError error = Os().ListNames(directory, &names); error != 0)
        return error;
    std::string highest;
    for (const std::string& candidate : names) {
        const std::string_view number = NumberOf(candidate, name);
        if (number.size() > highest.size() || (number.size() == highest.size() && number > highest))
            highest = number;
    }
    if (choice.Control == BackupControl::Existing && highest.empty())
        return 0;
    *backup = std::string(name) + ".~" + Incremented(highest.empty() ? "0" : highest) + "~";
    return 0;
}

}  // namespace quelvane
