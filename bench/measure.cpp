// Runs a command and prints what it cost: "cpu_seconds wall_seconds max_rss_kb", the CPU time
// (user + system) and the peak resident memory from wait4, in microseconds, where /usr/bin/time
// rounds to 10 ms. The command's own output goes where this program's goes.
// Usage: quelvane-measure COMMAND [ARGUMENT...]
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: quelvane-measure COMMAND [ARGUMENT...]\n");
        return 2;
    }
    const auto start = std::chrono::steady_clock::now();
    const pid_t child = ::fork();
    if (child == 0) {
        ::execvp(argv[1], argv + 1);
        std::perror(argv[1]);
        ::_exit(127);
    }
    int status = 0;
    rusage used{};
    if (child < 0 || ::wait4(child, &status, 0, &used) != child)
        return 1;
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const auto seconds = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
    };
    std::fprintf(stderr, "%.6f %.6f %ld\n", seconds(used.ru_utime) + seconds(used.ru_stime), wall,
                 used.ru_maxrss);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}
