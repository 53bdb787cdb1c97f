// Start-up of the desktop program: the time from starting korvane-utility
// to its window's first paint, and its resident memory once the first
// search has listed 256 simulated devices. Each run starts the real
// program (offscreen unless KORVANE_BENCH_PLATFORM names another Qt
// platform) with its own runtime directory, so a running copy does not stop
// it. Targets: window shown within 0.5 s, under 80 MiB resident.
//
// usage: gui_startup_bench [PROGRAM] [RUNS] [DEVICES]

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

constexpr double kShownTargetMs = 500.0;
constexpr double kResidentTargetMib = 80.0;
constexpr int kRunTimeoutMs = 120000;

struct Run {
    double shownMs = -1;       // measured here: from fork to the "shown" line
    double shownInsideMs = -1; // the program's own figure, from main()
    double listedMs = -1;
    int rows = 0;
    double residentMib = 0;
    double peakMib = 0;
};

double Since(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

std::optional<Run> RunOnce(const std::string& program, int devices) {
    char runtimeTemplate[] = "/tmp/korvane-bench-XXXXXX";
    const char* runtime = ::mkdtemp(runtimeTemplate);
    if (runtime == nullptr) {
        std::perror("mkdtemp");
        return std::nullopt;
    }
    int pipeFds[2];
    if (::pipe(pipeFds) != 0) {
        std::perror("pipe");
        return std::nullopt;
    }
    const std::string count = std::to_string(devices);
    const char* platform = std::getenv("KORVANE_BENCH_PLATFORM");
    const Clock::time_point start = Clock::now();
    const pid_t child = ::fork();
    if (child < 0) {
        std::perror("fork");
        return std::nullopt;
    }
    if (child == 0) {
        ::dup2(pipeFds[1], STDOUT_FILENO);
        const int null = ::open("/dev/null", O_WRONLY);
        if (null >= 0) {
            ::dup2(null, STDERR_FILENO);
        }
        ::close(pipeFds[0]);
        ::close(pipeFds[1]);
        ::setenv("XDG_RUNTIME_DIR", runtime, 1);
        ::setenv("QT_QPA_PLATFORM", platform != nullptr ? platform : "offscreen", 1);
        ::execl(program.c_str(), program.c_str(), "--simulate", count.c_str(), "--report-startup",
                static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(pipeFds[1]);

    Run run;
    std::string pending;
    bool listed = false;
    pollfd readable{pipeFds[0], POLLIN, 0};
    while (!listed && Since(start) < kRunTimeoutMs) {
        if (::poll(&readable, 1, 1000) <= 0) {
            continue;
        }
        char chunk[512];
        const ssize_t n = ::read(pipeFds[0], chunk, sizeof chunk);
        if (n <= 0) {
            break;
        }
        pending.append(chunk, static_cast<std::size_t>(n));
        std::size_t end = 0;
        while ((end = pending.find('\n')) != std::string::npos) {
            const std::string line = pending.substr(0, end);
            pending.erase(0, end + 1);
            double ms = 0;
            long rss = 0;
            long peak = 0;
            if (std::sscanf(line.c_str(), "window-shown-ms %lf", &ms) == 1) {
                run.shownMs = Since(start);
                run.shownInsideMs = ms;
            } else if (std::sscanf(line.c_str(),
                                   "devices-listed %d after-ms %lf rss-kib %ld peak-kib %ld",
                                   &run.rows, &ms, &rss, &peak) == 4) {
                run.listedMs = Since(start);
                run.residentMib = static_cast<double>(rss) / 1024.0;
                run.peakMib = static_cast<double>(peak) / 1024.0;
                listed = true;
            }
        }
    }
    ::close(pipeFds[0]);
    if (!listed) {
        ::kill(child, SIGKILL);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    std::error_code ignored;
    std::filesystem::remove_all(runtime, ignored);
    if (!listed || run.shownMs < 0) {
        std::fprintf(stderr, "run failed (exit status %d)\n", status);
        return std::nullopt;
    }
    return run;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    const std::string program = argc > 1 ? argv[1] : KORVANE_UTILITY_PATH;
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
    const int devices = argc > 3 ? std::max(0, std::atoi(argv[3])) : 256;

    std::printf("korvane-utility start-up, %d simulated devices, %d runs\n", devices, runs);
    std::printf("%4s %12s %14s %12s %6s %10s %10s\n", "run", "shown (ms)", "in-main (ms)",
                "listed (ms)", "rows", "RSS (MiB)", "peak (MiB)");
    std::vector<double> shown;
    std::vector<double> resident;
    for (int i = 0; i < runs; ++i) {
        const std::optional<Run> run = RunOnce(program, devices);
        if (!run) {
            return 1;
        }
        std::printf("%4d %12.1f %14.1f %12.1f %6d %10.1f %10.1f\n", i + 1, run->shownMs,
                    run->shownInsideMs, run->listedMs, run->rows, run->residentMib, run->peakMib);
        shown.push_back(run->shownMs);
        resident.push_back(run->residentMib);
        if (run->rows != std::min(devices, 256)) {
            std::fprintf(stderr, "expected %d rows\n", std::min(devices, 256));
            return 1;
        }
    }
    const double shownMedian = Median(shown);
    const double residentMax = *std::max_element(resident.begin(), resident.end());
    std::printf("median time to window shown: %.1f ms (target < %.0f ms): %s\n", shownMedian,
                kShownTargetMs, shownMedian < kShownTargetMs ? "met" : "MISSED");
    std::printf("largest resident memory with the rows listed: %.1f MiB (target < %.0f MiB): %s\n",
                residentMax, kResidentTargetMib,
                residentMax < kResidentTargetMib ? "met" : "MISSED");
    return 0;
}
