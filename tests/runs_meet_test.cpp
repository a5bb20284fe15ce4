// The built native program when runs meet, when a run is interrupted, and when a name is not a
// regular file: what it says, how it ends, and what it leaves.
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <thread>

#include "tests/cli_support.h"

namespace quelvane::testing {
namespace {

const std::string kRefused =
    "quelvane: Error opening Verdata.mul: another run, or a lock taken on 'DIR/work', holds it\n";
const std::string kWaiting = "quelvane: waiting for another run on verdata.mul...\n";

// A first run held in its write meets a second run, by any way to the same file: that one is
// refused at once, touching nothing, and the first ends with its summary and the patched file;
// one that waits is refused at its limit, or goes on once the first has ended.
// Or it meets a terminating signal: it ends by that signal, with nothing left and nothing changed.
TEST(RunsMeet, ASecondRunIsRefusedAtOnceASignalEndsTheFirstCleanly) {
    struct Case {
        const char* Name;
        std::string Lay, Where, Argument, Input = "", Err = kRefused;
        int ExitCode = 1, Signal = 0;
        bool FirstEndsMeanwhile = false;
    };
    const Case cases[] = {
        {"the same directory", "", "work", "--batch"},
        {"a dry run", "", "work", "-n"},
        {"the window as text", "", "work", "", "\n", "Quelvane: Error opening Verdata.mul\n", 0},
        {"through a linked directory", "ln -s work linked", "linked", "--batch"},
        {"through a link named verdata.mul elsewhere",
         "mkdir elsewhere && ln -s ../work/verdata.mul elsewhere && cp work/patchdata.mul "
         "elsewhere",
         "elsewhere", "--batch"},
        {"a wait that reaches its limit", "", "work", "--batch --wait=0.3", "",
         kWaiting + kRefused},
        {"a wait without a limit", "", "work", "--batch --wait", "", kWaiting, 0, 0, true},
        {"SIGINT", "", "", "", "", "", 0, SIGINT},
        {"SIGTERM", "", "", "", "", "", 0, SIGTERM},
        {"SIGHUP", "", "", "", "", "", 0, SIGHUP},
        {"SIGQUIT", "", "", "", "", "", 0, SIGQUIT},
        {"SIGUSR1", "", "", "", "", "", 0, SIGUSR1},
        {"SIGPIPE", "", "", "", "", "", 0, SIGPIPE},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        TempDirectory directory;
        fs::create_directories("work");
        std::string err = c.Err;
        if (const auto at = err.find("DIR"); at != std::string::npos)
            err.replace(at, 3, fs::canonical(directory.Path()).string());
        const std::string result = LongPair("work");
        ASSERT_EQ(std::system(c.Lay.c_str()), 0);
        std::map<std::string, std::string> before = Listing();
        const pid_t first = StartHeld(directory.Path() + "/work", "--batch", "first");
        ASSERT_GT(first, 0) << "the first run ended before it could be held";
        if (c.Signal != 0) {
            ::kill(first, c.Signal);
            const int status = Finish(first);
            EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == c.Signal) << status;
            std::map<std::string, std::string> after = Listing();
            after.erase("first.out");
            after.erase("first.err");
            EXPECT_EQ(after, before);
            continue;
        }
        if (c.FirstEndsMeanwhile) {
            auto second = std::async(std::launch::async, [&] {
                return RunQuelvane(directory.Path() + "/" + c.Where, c.Input, c.Argument);
            });
            EXPECT_EQ(second.wait_for(std::chrono::milliseconds(500)), std::future_status::timeout)
                << "the second run did not wait";
            const int status = Finish(first);
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
            const Result r = second.get();
            EXPECT_EQ(r.ExitCode, 0);
            EXPECT_EQ(r.Err, err);
            // The same pair: what the first wrote is what the second would.
            EXPECT_EQ(r.Out, "verdata.mul already holds this result: nothing written\n");
            EXPECT_EQ(Render(ReadFileBytes("work/verdata.mul")), result);
            continue;
        }
        before = Listing();
        const Result second = RunQuelvane(directory.Path() + "/" + c.Where, c.Input, c.Argument);
        EXPECT_EQ(second.ExitCode, c.ExitCode);
        EXPECT_EQ(second.Err, err);
        EXPECT_EQ(Listing(), before) << "the second run touched something";
        const int status = Finish(first);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
        EXPECT_NE(Text("first.out").find("result 2 entries"), std::string::npos);
        EXPECT_EQ(Render(ReadFileBytes("work/verdata.mul")), result);
        EXPECT_FALSE(fs::exists("work/verdata.mul.new"));
    }
}

// At a terminal: Ctrl-C while the window as text waits for a key leaves the terminal as it was;
// a run's progress line is erased by a signal as by its end; Ctrl-Z under a shell gives the
// shell its terminal back while stopped, fg the key mode again, and Ctrl-D then closes.
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
    // A write held 1.1 s once its file grows: its progress line, then "flushing", and the line
    // erased before the summary, or by a signal; with standard error in a file, no line at all.
    for (const auto& [number, command] : {std::pair<int, const char*>{0, "exec %s --batch"},
                                          {SIGTERM, "exec %s --batch"},
                                          {0, "exec %s --batch 2>../err"}}) {
        SCOPED_TRACE(std::to_string(number) + ", " + command);
        LongPair("work");  // the pair anew: a run of a patch already in writes nothing
        char line[512];
        std::snprintf(line, sizeof line, command, QUELVANE_BINARY);
        Terminal batch(work, {"/bin/sh", "-c", line});
        ASSERT_TRUE(batch.Until([&] { return fs::exists(work + "/verdata.mul.new"); }));
        ::kill(batch.Child(), SIGSTOP);
        std::this_thread::sleep_for(std::chrono::milliseconds(1100));
        ::kill(batch.Child(), SIGCONT);
        if (number != 0 && batch.Until([&] { return batch.Shows(" MiB written ("); }))
            ::kill(batch.Child(), number);
        const int status = batch.Wait();
        batch.ReadToEnd();
        const std::string& shown = batch.Shown();
        EXPECT_TRUE(number == 0 ? status == 0 : WIFSIGNALED(status) && WTERMSIG(status) == number);
        const auto drawn = shown.rfind(" MiB written ("), erased = shown.rfind("\r\033[K");
        const bool toFile = std::string(command).find("err") != std::string::npos;
        EXPECT_EQ(drawn == std::string::npos, toFile) << shown;
        EXPECT_TRUE(toFile || (erased > drawn && erased < shown.find("result 2 entries") &&
                               (number != 0 || shown.find("flushing to disk") < erased)))
            << shown;
        EXPECT_EQ(toFile ? Text(directory.Path() + "/err") : "", "");
        EXPECT_FALSE(fs::exists(work + "/verdata.mul.new"));
    }
    {
        SCOPED_TRACE("Ctrl-Z and fg under a shell, then Ctrl-D");
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
        EXPECT_TRUE(shell.Until([&] { return !shell.Cooked() && shell.Shows("Esc: close", 2); }))
            << "no key mode or no prompt after fg: " << shell.Shown();
        shell.Type("\x04");
        EXPECT_TRUE(shell.Until([&] { return shell.Cooked(); }));
        shell.Type("echo closed $?\n");  // Ctrl-D closes, as Escape does
        EXPECT_TRUE(shell.Until([&] { return shell.Shows("closed 0"); })) << shell.Shown();
    }
}

// The window as text at a terminal: keys typed during a run are neither shown nor taken as the
// answer to "Done.", which says that it waits for Enter; with standard error in a file the
// prompt and the boxes still show on the terminal; the progress line at 25 columns keeps its
// percentage and fits.
TEST(RunsMeet, AtATerminalTheWindowAsTextShowsWhatHappens) {
    TempDirectory directory;
    fs::create_directories("work");
    LongPair("work");
    const std::string work = directory.Path() + "/work";
    {
        Terminal window(work, {QUELVANE_BINARY});
        ASSERT_TRUE(window.Until([&] { return window.Shows("Esc: close") && !window.Cooked(); }));
        window.Type("\n");
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        window.Type("xyz\n");
        ASSERT_TRUE(window.Until([&] { return window.Shows("Quelvane: Done.  [Enter: OK]\r\n"); }))
            << window.Shown();
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        EXPECT_EQ(::waitpid(window.Child(), nullptr, WNOHANG), 0) << "a key of the run took it";
        EXPECT_FALSE(window.Shows("xyz")) << window.Shown();
        window.Type("\n");
        EXPECT_EQ(window.Wait(), 0);
    }
    {
        fs::rename("work/patchdata.mul", "patch");
        const std::string line = std::string("exec ") + QUELVANE_BINARY + " 2>../err";
        Terminal window(work, {"/bin/sh", "-c", line.c_str()});
        ASSERT_TRUE(window.Until([&] { return window.Shows("Esc: close"); }));
        window.Type("\n");
        EXPECT_TRUE(window.Until([&] {
            return window.Shows("Quelvane: Error opening Patchdata.mul  [Enter: OK]\r\n");
        })) << window.Shown();
        window.Type("\n\x1b");
        EXPECT_EQ(window.Wait(), 0);
        EXPECT_EQ(Text("err"), "Quelvane: Error opening Patchdata.mul\n");
        fs::rename("patch", "work/patchdata.mul");
    }
    {
        LongPair("work");  // the pair anew: the first press patched it
        const std::string line = std::string("exec ") + QUELVANE_BINARY + " --batch";
        Terminal batch(work, {"/bin/sh", "-c", line.c_str()}, 25);
        ASSERT_TRUE(batch.Until([&] { return fs::exists(work + "/verdata.mul.new"); }));
        ::kill(batch.Child(), SIGSTOP);
        std::this_thread::sleep_for(std::chrono::milliseconds(1100));
        ::kill(batch.Child(), SIGCONT);
        batch.Wait();
        batch.ReadToEnd();
        const std::string& shown = batch.Shown();
        const auto drawn = shown.find("\033[K") + 3, end = shown.find('\r', drawn);
        ASSERT_NE(end, std::string::npos) << shown;
        const std::string first = shown.substr(drawn, end - drawn);
        EXPECT_LE(first.size(), 24u) << first;
        EXPECT_NE(first.find("%)"), std::string::npos) << first;
    }
}

// Names that are not regular files, as target or patch: refused within moments, with the same
// words in a batch run and a dry run, and nothing changed.
TEST(RunsMeet, OnlyRegularFilesAreOpened) {
    const std::pair<const char*, std::string> kinds[] = {
        {"a directory", "mkdir NAME"},
        {"a FIFO", "mkfifo NAME"},
        {"/dev/null through a link", "ln -s /dev/null NAME"},
    };
    for (const char* name : {"verdata.mul", "patchdata.mul"}) {
        for (const auto& [kind, make] : kinds) {
            SCOPED_TRACE(std::string(name) + " is " + kind);
            TempDirectory directory;
            WriteFileBytes("verdata.mul", File({{1, 1, 3, 'v'}}));
            WriteFileBytes("patchdata.mul", File({{1, 2, 3, 'p'}}));
            fs::remove(name);
            std::string command = make;
            command.replace(command.find("NAME"), 4, name);
            ASSERT_EQ(std::system(command.c_str()), 0);
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
}

}  // namespace
}  // namespace quelvane::testing
