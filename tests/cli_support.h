// The built native program, run for real: in a directory, with its output caught; held in the
// middle of its write; and what a directory holds, to compare before and after.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tests/test_files.h"

namespace quelvane::testing {

namespace fs = std::filesystem;

struct Result {
    int ExitCode = -1;
    std::string Out, Err;
};

inline std::string Text(const std::string& path) {
    const Bytes bytes = ReadFileBytes(path);
    return std::string(bytes.begin(), bytes.end());
}

// Runs the program in `directory` with `input` on standard input (not a terminal) and
// `arguments` (shell words: a redirection among them wins over the test's own); one that does not
// end within 20 s is ended, with exit code 124.
inline Result RunQuelvane(const std::string& directory, const std::string& input,
                          const std::string& arguments = "", const std::string& wrapper = "") {
    const std::string io = fs::temp_directory_path() / ("quelvane-" + std::to_string(::getpid()));
    WriteFileBytes(io + ".in", Bytes(input.begin(), input.end()));
    const int status =
        std::system(("cd '" + directory + "' && timeout 20 " + wrapper + QUELVANE_BINARY " <" + io +
                     ".in >" + io + ".out 2>" + io + ".err " + arguments)
                        .c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, Text(io + ".out"), Text(io + ".err")};
}

// A file's permission bits, owner and group, and its extended attributes (ACLs among them).
inline std::string Attributes(const std::string& path) {
    struct stat status {};
    ::lstat(path.c_str(), &status);
    std::string text = " [" + std::to_string(status.st_mode) + " " + std::to_string(status.st_uid) +
                       ":" + std::to_string(status.st_gid);
    char names[4096], value[4096];
    const ssize_t length = ::llistxattr(path.c_str(), names, sizeof names);
    for (ssize_t at = 0; at < length; at += static_cast<ssize_t>(std::strlen(names + at)) + 1) {
        const ssize_t size = ::lgetxattr(path.c_str(), names + at, value, sizeof value);
        text += std::string(" ") + (names + at) + "=" +
                std::string(value, static_cast<std::size_t>(std::max<ssize_t>(size, 0)));
    }
    return text + "]";
}

// Every name below the current directory: a link's destination, a file's content and attributes.
inline std::map<std::string, std::string> Listing() {
    std::map<std::string, std::string> listing;
    for (const auto& entry :
         fs::recursive_directory_iterator(".", fs::directory_options::follow_directory_symlink)) {
        const std::string path = entry.path().lexically_normal().string();
        listing[path] = entry.is_symlink()        ? "-> " + fs::read_symlink(path).string()
                        : entry.is_regular_file() ? Text(path) + Attributes(path)
                                                  : "";
    }
    return listing;
}

// A pair whose write lasts long enough to be caught: a 64 MiB block (a hole, quick to make) in
// the target, a short one in the patch. Returns the result, rendered.
inline std::string LongPair(const std::string& directory) {
    constexpr std::int32_t kLength = 64 << 20;
    WriteFileBytes(directory + "/verdata.mul", FileBuilder().Entry({1, 1, 24, kLength, 0}).Build());
    fs::resize_file(directory + "/verdata.mul", 24 + kLength);
    WriteFileBytes(directory + "/patchdata.mul", File({{1, 2, 3, 'p'}}));
    return "(1,1,44," + std::to_string(kLength) + ",0)" + std::to_string(kLength) + "*" +
           std::string(1, '\0') + " (1,2," + std::to_string(44 + kLength) + ",3,0)3*p";
}

// The program started in `directory` with `argument`, its output to `io`.out and .err, and
// stopped (SIGSTOP) as soon as its temporary file there has grown: its write is then held until
// the caller continues it. Returns its process id, or -1 when it ended before.
inline pid_t StartHeld(const std::string& directory, const char* argument, const std::string& io) {
    const pid_t child = ::fork();
    if (child == 0) {
        const rlimit noCore{0, 0};
        ::setrlimit(RLIMIT_CORE, &noCore);  // SIGQUIT leaves no core file behind
        ::dup2(::open("/dev/null", O_RDONLY), STDIN_FILENO);
        ::dup2(::open((io + ".out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), STDOUT_FILENO);
        ::dup2(::open((io + ".err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), STDERR_FILENO);
        if (::chdir(directory.c_str()) == 0)
            ::execl(QUELVANE_BINARY, "quelvane", argument, nullptr);
        ::_exit(127);
    }
    const std::string temporary = directory + "/verdata.mul.new";
    for (struct stat status{}; ::waitpid(child, nullptr, WNOHANG) == 0;) {
        if (::stat(temporary.c_str(), &status) == 0 && status.st_size > 0) {
            ::kill(child, SIGSTOP);
            return child;
        }
    }
    return -1;
}

// Continues a held program and waits for its end: its wait status.
inline int Finish(pid_t held) {
    int status = 0;
    ::kill(held, SIGCONT);
    ::waitpid(held, &status, 0);
    return status;
}

// A pseudo-terminal that the test reads and types into.
class Terminal {
  public:
    // Starts `argv` in `directory` at a new terminal `columns` wide, as its session's leader.
    Terminal(const std::string& directory, std::vector<const char*> argv,
             unsigned short columns = 80) {
        argv.push_back(nullptr);
        winsize size{24, columns, 0, 0};
        child_ = ::forkpty(&master_, nullptr, nullptr, &size);
        if (child_ == 0) {
            if (::chdir(directory.c_str()) == 0)
                ::execv(argv[0], const_cast<char* const*>(argv.data()));
            ::_exit(127);
        }
    }
    ~Terminal() {
        if (::waitpid(child_, nullptr, WNOHANG) == 0) {
            ::kill(child_, SIGKILL);
            ::waitpid(child_, nullptr, 0);
        }
        ::close(master_);
    }
    Terminal(const Terminal&) = delete;
    Terminal& operator=(const Terminal&) = delete;

    pid_t Child() const { return child_; }
    void Type(const std::string& keys) const { (void)!::write(master_, keys.data(), keys.size()); }
    // Reads what the terminal shows until `condition` holds (true) or 10 s have gone (false).
    template <typename Condition>
    bool Until(Condition condition) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!condition()) {
            if (std::chrono::steady_clock::now() > end)
                return false;
            pollfd ready{master_, POLLIN, 0};
            char buffer[4096];
            ssize_t got = 0;
            if (::poll(&ready, 1, 10) > 0 && (got = ::read(master_, buffer, sizeof buffer)) > 0)
                shown_.append(buffer, static_cast<std::size_t>(got));
        }
        return true;
    }
    // Reads what is left once the program has ended (for 10 s at most: a process left behind
    // may hold the terminal open).
    void ReadToEnd() {
        char buffer[4096];
        pollfd ready{master_, POLLIN, 0};
        for (ssize_t got;
             ::poll(&ready, 1, 10000) > 0 && (got = ::read(master_, buffer, sizeof buffer)) > 0;)
            shown_.append(buffer, static_cast<std::size_t>(got));
    }
    bool Shows(const std::string& text, std::size_t times = 1) const {
        std::size_t found = 0;
        for (auto at = shown_.find(text); at != std::string::npos; at = shown_.find(text, at + 1))
            ++found;
        return found >= times;
    }
    const std::string& Shown() const { return shown_; }
    // Whether the terminal echoes and edits lines, as a shell leaves it.
    bool Cooked() const {
        termios modes{};
        ::tcgetattr(master_, &modes);
        return (modes.c_lflag & (ECHO | ICANON)) == (ECHO | ICANON);
    }
    // The program's wait status once it ends; one still running after 30 s is a failure, killed.
    int Wait() const {
        int status = 0;
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (::waitpid(child_, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > end) {
                ADD_FAILURE() << "still running after 30 s; shown: " << shown_;
                ::kill(child_, SIGKILL);
                ::waitpid(child_, &status, 0);
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return status;
    }

  private:
    int master_ = -1;
    pid_t child_ = -1;
    std::string shown_;
};

}  // namespace quelvane::testing
