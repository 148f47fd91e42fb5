// Timing and memory figures for the benchmarks.
#pragma once

#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace talvo::bench {

class Stopwatch {
public:
    Stopwatch() : start_(std::chrono::steady_clock::now()) {}
    double seconds() const { return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count(); }

private:
    std::chrono::steady_clock::time_point start_;
};

// Seconds of the fastest of `times` runs of f.
template <class F>
double best_of(int times, F f) {
    double best = 1e300;
    for (int i = 0; i < times; ++i) {
        Stopwatch w;
        f();
        double s = w.seconds();
        if (s < best) best = s;
    }
    return best;
}

// Peak resident memory of the process so far, in MiB.
inline double peak_mib() {
    rusage u;
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_maxrss) / 1024.0;
}

inline double mib(double bytes) { return bytes / (1024.0 * 1024.0); }

// A scratch folder for data files, removed at the end.
class Scratch {
public:
    Scratch() {
        char tmpl[] = "/tmp/talvo-bench-XXXXXX";
        if (!mkdtemp(tmpl)) std::abort();
        dir_ = tmpl;
    }
    ~Scratch() { std::filesystem::remove_all(dir_); }
    std::string path(const std::string& name) const { return (dir_ / name).string(); }
    const std::filesystem::path& dir() const { return dir_; }

private:
    std::filesystem::path dir_;
};

}  // namespace talvo::bench
