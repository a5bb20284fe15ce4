#include "support/progress.h"

namespace quelvane {
namespace {
ProgressReporter installed = nullptr;
}

void SetProgressReporter(ProgressReporter reporter) {
    installed = reporter;
}

void ReportProgress(std::int64_t written, std::int64_t total) {
    if (installed != nullptr)
        installed(written, total);
}

void ReportProgressFlushing(std::int64_t total) {
    ReportProgress(kProgressFlushing, total);
}

void ReportProgressEnded() {
    ReportProgress(kProgressEnded, kProgressEnded);
}

}  // namespace quelvane
