// How the in-kernel copy's cost depends on the size of one call, on this machine: copies a file
// with copy_file_range in calls of 64 KiB to 1 GiB and prints, for each size, the CPU time
// (user + system) and the wall time of the whole copy, the file's pages already cached, the
// copy's own pages dropped before each round. Usage: quelvane-copy-sizes FILE [ROUNDS]
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

double CpuSeconds() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
    };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2)
        return std::fprintf(stderr, "usage: quelvane-copy-sizes FILE [ROUNDS]\n"), 2;
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 5;
    const int source = ::open(argv[1], O_RDONLY);
    const off_t size = source < 0 ? -1 : ::lseek(source, 0, SEEK_END);
    if (size <= 0)
        return std::perror(argv[1]), 1;
    const std::string copy = std::string(argv[1]) + ".copy";
    std::printf("%12s %10s %10s %8s\n", "call_bytes", "cpu_s", "wall_s", "calls");
    for (std::size_t call = 64 << 10; call <= (std::size_t{1} << 30); call *= 4) {
        std::vector<double> cpu, wall;
        long calls = 0;
        for (int round = 0; round < rounds; ++round) {
            const int target = ::open(copy.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            const double cpuStart = CpuSeconds();
            const auto start = std::chrono::steady_clock::now();
            loff_t at = 0;
            for (calls = 0; at < size; ++calls) {
                const auto chunk = static_cast<std::size_t>(
                    std::min<loff_t>(size - at, static_cast<loff_t>(call)));
                if (::copy_file_range(source, &at, target, nullptr, chunk, 0) <= 0)
                    return std::perror("copy_file_range"), 1;
            }
            ::fdatasync(target);
            wall.push_back(
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
            cpu.push_back(CpuSeconds() - cpuStart);
            ::close(target);
            ::unlink(copy.c_str());
        }
        std::printf("%12zu %10.3f %10.3f %8ld\n", call, Median(cpu), Median(wall), calls);
    }
    return 0;
}
