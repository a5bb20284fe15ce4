#include "shell/batch_run.h"

#include <cstdio>
#include <cstring>

#include "support/boxes.h"
#include "support/error_stop.h"

namespace quelvane {
namespace {

std::string Count(std::size_t count, const char* one, const char* many) {
    return std::to_string(count) + " " + (count == 1 ? one : many);
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
    std::fprintf(stderr, "%s\n", line.c_str());
    std::fflush(stderr);
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
            return "another run is working on it";
        case kNotRegularFile:
            return "not a regular file";
        case kTemporaryIsDirectory:
            return "a directory has the name of its temporary file";
        default:
            return std::strerror(static_cast<int>(reason));
    }
}

std::string SummaryText(const RunSummary& s, bool dryRun) {
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
        std::to_string(s.Added) + would + " added; result" + would + " " +
        Count(s.ResultEntries, "entry", "entries") + ", " + std::to_string(s.ResultBytes) +
        " bytes";
    if (s.NotWritable != 0)
        text += "; but verdata.mul could not be written: " + ReasonText(s.NotWritable);
    return text;
}

int RunBatch(bool dryRun) {
    SetBoxSink(PrintBox);
    RunSummary summary;
    RunOptions options;
    options.DryRun = dryRun;
    options.PauseAndSayDone = false;
    options.Summary = &summary;
    if (!RunPatch(options))
        return 1;
    std::printf("%s\n", SummaryText(summary, dryRun).c_str());  // flushed, and checked, at exit
    return summary.NotWritable != 0 ? 1 : 0;
}

}  // namespace quelvane
