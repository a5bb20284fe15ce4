// SIGKILL at random moments while the native program writes a pair of a few hundred MB: the
// target is always either the old file or the new one, byte for byte, and the next run succeeds
// and leaves no temporary file.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

namespace {

void Fail(const std::string& why) {
    std::fprintf(stderr, "kill test: %s\n", why.c_str());
    std::exit(1);
}

// A content fingerprint (FNV-1a over the bytes) and the size.
std::pair<std::uint64_t, std::uintmax_t> Fingerprint(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<char> buffer(1 << 20);
    std::uint64_t hash = 1469598103934665603ull;
    while (in) {
        in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
        for (std::streamsize i = 0; i < in.gcount(); ++i) {
            hash = (hash ^ static_cast<unsigned char>(buffer[static_cast<std::size_t>(i)])) *
                   1099511628211ull;
        }
    }
    return {hash, fs::file_size(path)};
}

// Starts the program in `dir` with one press of "Go!" on standard input.
pid_t Start(const fs::path& dir) {
    int input[2];
    if (::pipe(input) != 0)
        Fail("pipe");
    const pid_t child = ::fork();
    if (child == 0) {
        ::dup2(input[0], 0);
        ::close(input[1]);
        if (::chdir(dir.c_str()) != 0)
            ::_exit(126);
        std::freopen("/dev/null", "w", stdout);
        ::execl(QUELVANE_BINARY, QUELVANE_BINARY, static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(input[0]);
    if (::write(input[1], "\n", 1) != 1)
        Fail("write to the program");
    ::close(input[1]);
    return child;
}

void CopyPair(const fs::path& from, const fs::path& to) {
    for (const char* name : {"verdata.mul", "patchdata.mul"}) {
        fs::copy_file(from / name, to / name, fs::copy_options::overwrite_existing);
    }
}

int Wait(pid_t child) {
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

int main() {
    const fs::path base =
        fs::temp_directory_path() / ("quelvane-kill-" + std::to_string(::getpid()));
    const fs::path pair = base / "pair", work = base / "work";
    fs::create_directories(pair);
    const std::string make = std::string(QUELVANE_WORKLOAD) + " many " + pair.string();
    if (std::system(make.c_str()) != 0)
        Fail("cannot write the pair");
    const auto old = Fingerprint(pair / "verdata.mul");

    // A clean run: the new content, and how long the work takes before the pause.
    fs::create_directories(work);
    CopyPair(pair, work);
    auto start = std::chrono::steady_clock::now();
    if (Wait(Start(work)) != 0)
        Fail("the clean run failed");
    const auto workTime =
        std::chrono::steady_clock::now() - start - std::chrono::milliseconds(2500);
    const auto fresh = Fingerprint(work / "verdata.mul");
    if (fresh == old)
        Fail("the patch changed nothing");
    const auto workMs = std::max<long>(
        50,
        static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(workTime).count()));

    std::mt19937 random(20261206);
    int sawOld = 0, sawNew = 0;
    for (int round = 0; round < 20; ++round) {
        CopyPair(pair, work);
        const long delay = std::uniform_int_distribution<long>(0, workMs * 3 / 2 + 200)(random);
        const pid_t child = Start(work);
        std::this_thread::sleep_for(std::chrono::milliseconds(delay));
        ::kill(child, SIGKILL);
        Wait(child);
        const auto after = Fingerprint(work / "verdata.mul");
        if (after == old)
            ++sawOld;
        else if (after == fresh)
            ++sawNew;
        else
            Fail("round " + std::to_string(round) + ": the target is neither old nor new");
        // The next run succeeds over whatever the killed one left behind.
        fs::copy_file(pair / "patchdata.mul", work / "patchdata.mul",
                      fs::copy_options::overwrite_existing);
        if (Wait(Start(work)) != 0)
            Fail("the run after a kill failed");
        if (fs::exists(work / "verdata.mul.new"))
            Fail("a temporary file was left behind");
    }
    fs::remove_all(base);
    std::printf(
        "kill test: 20 kills within %ld ms of work: %d left the old file, %d the new one; "
        "every next run succeeded\n",
        workMs, sawOld, sawNew);
    return 0;
}
