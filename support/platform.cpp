#include "support/platform.h"

namespace quelvane {
namespace {
Platform* installed = nullptr;
}

Platform& Os() {
    return installed != nullptr ? *installed : NativePlatform();
}

Platform* InstallPlatform(Platform* platform) {
    Platform* previous = installed;
    installed = platform;
    return previous;
}

}  // namespace quelvane
