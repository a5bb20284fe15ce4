#include "shell/batch_run.h"

#include <cstdio>
#include <cstring>

#include "engine/change_list.h"
#include "engine/write_target_file.h"
#include "shell/command_line.h"
#include "support/boxes.h"
#include "support/error_stop.h"

namespace quelvane {
namespace {

bool quiet = false;

// The list as the run tells it, kept until the result is known to differ from the file: then it
// is written out whole before the write begins (ListWrittenOut); a run that changes nothing
// lists nothing.
std::string pendingList;
void PrintChange(const ChangeLine& change) {
    pendingList.append(ChangeText(change)).append("\n");
}

std::string Count(std::size_t count, const char* one, const char* many) {
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

// One line on standard error, at once.
void Say(const std::string& line) {
    std::fprintf(stderr, "%s\n", line.c_str());
    std::fflush(stderr);
}

// The list reaches its reader before anything is written: one that cannot take it (a full disk,
// a closed pipe) refuses the run with the file as it was (FinishOutput says why); a broken
// pipe's signal ends it so.
bool ListWrittenOut() {
    PutOut(pendingList);
    pendingList.clear();
    return FlushOutput() == 0;
}

// A box as a line on standard error; "Done." says nothing, the summary says more.
// A stop that knows which file and entry it is about says that instead of its number's text.
void PrintBox(std::string_view text, std::string_view caption, std::uint32_t style,
              SystemError reason) {
    if (style == kBoxInformation)
        return;
    std::string line = "quelvane: ";
    if (caption == kStopCaption && !StopDetail().empty())
        line += StopDetail();
    else
        line += std::string(text) + (reason != 0 ? ": " + ReasonText(reason) : "");
    Say(line);
}

}  // namespace

std::string ReasonText(SystemError reason) {
    switch (reason) {
        case kErrorShortRead:
            return "a file ends before its index or one of its blocks does";
        case kErrorShortWrite:
            return "a write came up short";
        case kErrorOutOfMemory:
            return "out of memory";
        case kErrorUnhandled:
            return "an unexpected failure";
        case kNameMoved:
            return "verdata.mul was replaced by another file during the run";
        case kRunInProgress:
            return RefusingLockPath().empty() ? "another run is working on it"
                                              : "another run, or a lock taken on " +
                                                    Quoted(RefusingLockPath()) + ", holds it";
        case kLockedByCaller:
            return "the lock on " + Quoted(RefusingLockPath()) +
                   " is held by what started this run (a run locks the directory of"
                   " verdata.mul: lock another file)";
        case kNotRegularFile:
            return "not a regular file";
        case kTemporaryIsDirectory:
            return "a directory has the name of its temporary file";
        default:
            return std::strerror(static_cast<int>(reason));
    }
}

std::string SummaryText(const RunSummary& s, bool dryRun) {
    if (s.AlreadyHeld) {
        return dryRun ? "patchdata.mul is already in verdata.mul"
                      : "verdata.mul already holds this result: nothing written";
    }
    const std::string would = dryRun ? " would be" : "";
    const auto leftOut = [&](std::size_t count) {
        return count == 0
                   ? std::string()
                   : ", " + std::to_string(count) + " with FileId above 33" + would + " left out";
    };
    std::string text =
        "verdata.mul: " + Count(s.TargetEntries, "entry", "entries") + leftOut(s.TargetLeftOut) +
        ", " + Count(s.DuplicatesDropped, "earlier duplicate", "earlier duplicates") + would +
        " dropped; patchdata.mul: " + Count(s.PatchEntries, "entry", "entries") +
        leftOut(s.PatchLeftOut) + ", " + std::to_string(s.Replaced) + would + " replaced, " +
        std::to_string(s.Added) + would + " added" +
        (s.Superseded != 0 ? ", " + std::to_string(s.Superseded) + " superseded by an earlier entry"
                           : std::string()) +
        "; result" + would + " " + Count(s.ResultEntries, "entry", "entries") + ", " +
        std::to_string(s.ResultBytes) + " bytes";
    return text;
}

std::string StopExplanation(std::uint32_t number) {
    return StopDetail().empty() ? ReasonText(number) : StopDetail();
}

void PrintNotice(Notice notice, std::string_view name) {
    if (quiet && notice != Notice::StaleRemoved && notice != Notice::StaleWouldBeRemoved)
        return;
    switch (notice) {
        case Notice::StaleRemoved:
        case Notice::StaleWouldBeRemoved:
            Say(std::string("quelvane: ") +
                (notice == Notice::StaleRemoved ? "removed " : "would remove ") + Quoted(name) +
                ", left by an earlier run");
            break;
        case Notice::WaitingForRun:
            Say("quelvane: waiting for another run on " + std::string(name) + "...");
            break;
        case Notice::BackupWouldBeMade:
        case Notice::BackupWouldReplace:
            Say("quelvane: would keep the old verdata.mul as " + Quoted(name) +
                (notice == Notice::BackupWouldReplace ? ", in place of the earlier one" : ""));
            break;
    }
}

int RunBatch(const BatchChoices& choices, bool* patched) {
    const bool dryRun = choices.DryRun;
    SetBoxSink(PrintBox);
    quiet = choices.Quiet;
    if (choices.Verbose)
        SetChangeSink(PrintChange);
    RunSummary summary;
    RunOptions options;
    options.DryRun = dryRun;
    options.PauseAndSayDone = false;
    options.Summary = &summary;
    options.Backup = choices.Backup;
    options.WaitMilliseconds = choices.WaitMilliseconds;
    if (choices.Verbose)
        options.BeforeWrite = ListWrittenOut;
    const bool completed = RunPatch(options);
    SetChangeSink(nullptr);
    pendingList.clear();
    *patched = completed && !dryRun;
    // A dry run tells what it found as far as it came, even when the result would be refused.
    if (!choices.Quiet && (completed || (dryRun && summary.Counted)))
        PutOut(SummaryText(summary, dryRun) + "\n");  // flushed, and checked, at exit
    if (!completed)
        return 1;
    if (summary.NotWritable != 0 && !summary.BackupNotKept.empty()) {
        Say("quelvane: " + BackupRefusalText(summary.BackupNotKept) + ": " +
            ReasonText(summary.NotWritable));
        return 1;
    }
    if (summary.NotWritable != 0) {
        const std::string where =
            summary.RefusingDirectory.empty()
                ? ""
                : "cannot create files in " + Quoted(summary.RefusingDirectory) + ": ";
        Say("quelvane: verdata.mul could not be written: " + where +
            ReasonText(summary.NotWritable));
        return 1;
    }
    if (summary.AfterReplace != ReplaceStage::Done) {
        Say("quelvane: " + UnconfirmedText(summary.AfterReplace) + ": " +
            ReasonText(summary.AfterReplaceError));
        return kExitReplacedUnconfirmed;
    }
    return 0;
}

}  // namespace quelvane
