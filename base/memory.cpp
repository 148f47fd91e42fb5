#include "base/memory.h"

#include <sys/resource.h>

#include <fstream>
#include <string>

#include "base/errors.h"

namespace talvo {

std::uint64_t memory_available() {
    std::uint64_t avail = UINT64_MAX;
    std::ifstream meminfo("/proc/meminfo");
    std::string key, unit;
    std::uint64_t kb;
    while (meminfo >> key >> kb) {
        std::getline(meminfo, unit);
        if (key == "MemAvailable:") {
            avail = kb * 1024;
            break;
        }
    }
    for (int res : {RLIMIT_AS, RLIMIT_DATA}) {
        rlimit lim;
        if (getrlimit(res, &lim) == 0 && lim.rlim_cur != RLIM_INFINITY && lim.rlim_cur < avail) avail = lim.rlim_cur;
    }
    return avail;
}

void ensure_memory(std::uint64_t bytes) {
    if (bytes > memory_available()) stop(std::string(kNoStorage));
}

std::optional<std::uint64_t> checked_mul(std::uint64_t a, std::uint64_t b) {
    std::uint64_t r;
    if (__builtin_mul_overflow(a, b, &r)) return std::nullopt;
    return r;
}

std::optional<std::uint64_t> checked_add(std::uint64_t a, std::uint64_t b) {
    std::uint64_t r;
    if (__builtin_add_overflow(a, b, &r)) return std::nullopt;
    return r;
}

}  // namespace talvo
