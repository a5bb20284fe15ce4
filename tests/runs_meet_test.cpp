// The built native program when runs meet, when a run is interrupted, and when a name is not a
// regular file: what it says, how it ends, and what it leaves.
#include <poll.h>
#include <pty.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <termios.h>

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "tests/cli_support.h"

namespace quelvane::testing {
namespace {

const std::string kRefused = "quelvane: Error opening Verdata.mul: another run is working on it\n";

// A second run, by any way to the same file, meets the first one held in its write: refused at
// once, touching nothing; the first then ends with its summary and the patched file.
TEST(RunsMeet, ASecondRunIsRefusedAtOnceAndTheFirstCompletes) {
    struct Case {
        const char* Name;
        std::string Lay, Where, Argument, Input = "", Err = kRefused;
        int ExitCode = 1;
    };
    const Case cases[] = {
        {"the same directory", "", "work", "--batch"},
        {"a dry run", "", "work", "-n"},
        {"the window as text", "", "work", "", "\n", "Quelvane: Error opening Verdata.mul\n", 0},
        {"through a linked directory", "ln -s work linked", "linked", "--batch"},
        {"through a link named verdata.mul elsewhere",
         "mkdir elsewhere && ln -s ../work/verdata.mul elsewhere/verdata.mul && "
         "cp work/patchdata.mul elsewhere/",
         "elsewhere", "--batch"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        TempDirectory directory;
        fs::create_directories("work");
        const std::string result = LongPair("work");
        ASSERT_EQ(std::system(c.Lay.c_str()), 0);
        const pid_t first = StartHeld(directory.Path() + "/work", "--batch", "first");
        ASSERT_GT(first, 0) << "the first run ended before it could be held";
        const std::map<std::string, std::string> before = Listing();
        const Result second = RunQuelvane(directory.Path() + "/" + c.Where, c.Input, c.Argument);
        EXPECT_EQ(second.ExitCode, c.ExitCode);
        EXPECT_EQ(second.Err, c.Err);
        EXPECT_EQ(Listing(), before) << "the second run touched something";
        const int status = Finish(first);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
        EXPECT_NE(Text("first.out").find("result 2 entries"), std::string::npos);
        EXPECT_EQ(Render(ReadFileBytes("work/verdata.mul")), result);
        EXPECT_FALSE(fs::exists("work/verdata.mul.new"));
    }
}

// A terminating signal during the write: the process ends by that signal, the target as it was,
// no temporary file.
TEST(RunsMeet, ASignalDuringTheWriteLeavesNothingAndEndsByThatSignal) {
    for (const int number : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
        SCOPED_TRACE(::strsignal(number));
        TempDirectory directory;
        fs::create_directories("work");
        LongPair("work");
        const std::map<std::string, std::string> before = Listing();
        const pid_t run = StartHeld(directory.Path() + "/work", "--batch", "run");
        ASSERT_GT(run, 0);
        ::kill(run, number);
        const int status = Finish(run);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == number) << status;
        std::filesystem::remove("run.out");
        std::filesystem::remove("run.err");
        EXPECT_EQ(Listing(), before);
    }
}

// A pseudo-terminal that the test reads and types into.
class Terminal {
  public:
    // Starts `argv` in `directory` at a new terminal, as its session's leader.
    Terminal(const std::string& directory, std::vector<const char*> argv) {
        argv.push_back(nullptr);
        child_ = ::forkpty(&master_, nullptr, nullptr, nullptr);
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
    // Reads what is left once the program has ended.
    void ReadToEnd() {
        char buffer[4096];
        for (ssize_t got; (got = ::read(master_, buffer, sizeof buffer)) > 0;)
            shown_.append(buffer, static_cast<std::size_t>(got));
    }
    bool Shows(const std::string& text) const { return shown_.find(text) != std::string::npos; }
    const std::string& Shown() const { return shown_; }
    // Whether the terminal echoes and edits lines, as a shell leaves it.
    bool Cooked() const {
        termios modes{};
        ::tcgetattr(master_, &modes);
        return (modes.c_lflag & (ECHO | ICANON)) == (ECHO | ICANON);
    }
    int Wait() const {
        int status = 0;
        ::waitpid(child_, &status, 0);
        return status;
    }

  private:
    int master_ = -1;
    pid_t child_ = -1;
    std::string shown_;
};

// At a terminal: Ctrl-C while the window as text waits for a key leaves the terminal as it was;
// a run's progress line is erased by a signal as by its end; Ctrl-Z under a shell gives the
// shell its terminal back while stopped, and fg the key mode again.
TEST(RunsMeet, AtATerminalSignalsPutTheTerminalBack) {
    TempDirectory directory;
    fs::create_directories("work");
    LongPair("work");
    const std::string work = directory.Path() + "/work";
    {
        SCOPED_TRACE("Ctrl-C while a key is awaited");
        Terminal window(work, {QUELVANE_BINARY});
        ASSERT_TRUE(window.Until([&] { return window.Shows("Esc: close") && !window.Cooked(); }));
        window.Type("\x03");
        const int status = window.Wait();
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGINT) << status;
        EXPECT_TRUE(window.Cooked()) << "the key mode outlived the process";
    }
    {
        SCOPED_TRACE("SIGTERM while the progress line shows");
        Terminal batch(work, {QUELVANE_BINARY, "--batch"});
        ASSERT_TRUE(batch.Until([&] { return fs::exists(work + "/verdata.mul.new"); }));
        ::kill(batch.Child(), SIGSTOP);  // the line shows once a write has gone on for 1 s
        std::this_thread::sleep_for(std::chrono::milliseconds(1100));
        ::kill(batch.Child(), SIGCONT);
        ASSERT_TRUE(batch.Until([&] { return batch.Shows(" MiB written ("); }));
        ::kill(batch.Child(), SIGTERM);
        const int status = batch.Wait();
        batch.ReadToEnd();
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;
        const std::string& shown = batch.Shown();
        EXPECT_GT(shown.rfind("\r\033[K"), shown.rfind(" MiB written (")) << shown;
        EXPECT_FALSE(fs::exists(work + "/verdata.mul.new"));
    }
    {
        SCOPED_TRACE("Ctrl-Z and fg under a shell");
        ::setenv("PS1", "shell$ ", 1);
        Terminal shell(work, {"/bin/bash", "--norc", "--noprofile", "--noediting", "-i"});
        ::unsetenv("PS1");
        ASSERT_TRUE(shell.Until([&] { return shell.Shows("shell$ "); }));
        shell.Type(std::string(QUELVANE_BINARY) + "\n");
        ASSERT_TRUE(shell.Until([&] { return shell.Shows("Esc: close") && !shell.Cooked(); }));
        shell.Type("\x1a");
        EXPECT_TRUE(shell.Until([&] { return shell.Shows("Stopped") && shell.Cooked(); }))
            << shell.Shown();
        shell.Type("fg\n");
        EXPECT_TRUE(shell.Until([&] { return !shell.Cooked(); })) << "no key mode after fg";
        shell.Type("\x1b");
        EXPECT_TRUE(shell.Until([&] { return shell.Cooked(); }));
        shell.Type("exit\n");
        shell.Wait();
    }
    {
        SCOPED_TRACE("the prompt on the terminal, Enter typed ahead, a box, Ctrl-D");
        fs::create_directories("small");
        WriteFileBytes("small/verdata.mul", File({{1, 1, 3, 'v'}}));
        Terminal window(directory.Path() + "/small",
                        {"/bin/sh", "-c", "exec " QUELVANE_BINARY " >out"});
        ASSERT_TRUE(window.Until([&] { return window.Shows("Esc: close") && !window.Cooked(); }));
        window.Type("\n");  // no patch: its box, which waits for Enter, then the window again
        ASSERT_TRUE(window.Until([&] { return window.Shows("Error opening Patchdata.mul"); }));
        window.Type("\n");
        ASSERT_TRUE(window.Until([&] {
            return window.Shown().find("Esc: close") != window.Shown().rfind("Esc: close");
        })) << window.Shown();
        WriteFileBytes("small/patchdata.mul", File({{1, 2, 3, 'p'}}));
        window.Type("\n");
        window.Type("\n\n");  // during the pause: not the answer to "Done."
        EXPECT_TRUE(window.Until([] { return Text("small/out") == "Quelvane: Done.\n"; }));
        std::this_thread::sleep_for(std::chrono::seconds(1));
        EXPECT_EQ(::waitpid(window.Child(), nullptr, WNOHANG), 0) << "typed-ahead keys answered";
        window.Type("\n");
        EXPECT_EQ(window.Wait(), 0);
        Terminal closing(directory.Path() + "/small", {QUELVANE_BINARY});
        ASSERT_TRUE(closing.Until([&] { return closing.Shows("Esc: close") && !closing.Cooked(); }));
        closing.Type("\x04");
        EXPECT_EQ(closing.Wait(), 0) << "Ctrl-D closes";
    }
}

// Names that are not regular files, as target or patch: refused within moments, with the same
// words in a batch run and a dry run, and nothing changed. A directory under the temporary file's
// name refuses the write and stays.
TEST(RunsMeet, OnlyRegularFilesAreOpened) {
    const std::pair<const char*, std::string> kinds[] = {
        {"a directory", "mkdir NAME"},
        {"a FIFO", "mkfifo NAME"},
        {"a socket", "socket"},
        {"/dev/null through a link", "ln -s /dev/null NAME"},
    };
    for (const char* name : {"verdata.mul", "patchdata.mul"}) {
        for (const auto& [kind, make] : kinds) {
            SCOPED_TRACE(std::string(name) + " is " + kind);
            TempDirectory directory;
            WriteFileBytes("verdata.mul", File({{1, 1, 3, 'v'}}));
            WriteFileBytes("patchdata.mul", File({{1, 2, 3, 'p'}}));
            fs::remove(name);
            if (make == "socket") {
                const int unix = ::socket(AF_UNIX, SOCK_STREAM, 0);
                sockaddr_un address{};
                address.sun_family = AF_UNIX;
                std::snprintf(address.sun_path, sizeof address.sun_path, "%s", name);
                ASSERT_EQ(::bind(unix, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
                ::close(unix);
            } else {
                std::string command = make;
                command.replace(command.find("NAME"), 4, name);
                ASSERT_EQ(std::system(command.c_str()), 0);
            }
            const std::map<std::string, std::string> before = Listing();
            const std::string expected = std::string("quelvane: Error opening ") +
                                         (name[0] == 'v' ? "Verdata" : "Patchdata") +
                                         ".mul: not a regular file\n";
            for (const char* argument : {"--batch", "-n"}) {
                const auto start = std::chrono::steady_clock::now();
                const Result r = RunQuelvane(directory.Path(), "", argument);
                EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
                EXPECT_EQ(r.ExitCode, 1) << argument;
                EXPECT_EQ(r.Err, expected) << argument;
                EXPECT_EQ(Listing(), before) << argument;
            }
        }
    }
    TempDirectory directory;
    WriteFileBytes("verdata.mul", File({{1, 1, 3, 'v'}}));
    WriteFileBytes("patchdata.mul", File({{1, 2, 3, 'p'}}));
    fs::create_directories("verdata.mul.new/inside");
    const std::map<std::string, std::string> before = Listing();
    const std::string reason = "a directory has the name of its temporary file\n";
    const Result batch = RunQuelvane(directory.Path(), "", "--batch");
    EXPECT_EQ(batch.ExitCode, 1);
    EXPECT_EQ(batch.Err, "quelvane: Error writing Verdata.mul: " + reason);
    const Result dry = RunQuelvane(directory.Path(), "", "-n");
    EXPECT_EQ(dry.ExitCode, 1);
    EXPECT_NE(dry.Out.find("; but verdata.mul could not be written: " + reason), std::string::npos)
        << dry.Out;
    EXPECT_EQ(Listing(), before);
}

}  // namespace
}  // namespace quelvane::testing
