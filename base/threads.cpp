#include "base/threads.h"

#include <atomic>
#include <cstdlib>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace talvo {

namespace {
int chosen = 0;
}

void use_threads(int n) { chosen = n; }

int thread_count() {
    if (chosen > 0) return chosen;
    static const int count = [] {
        if (const char* v = std::getenv("TALVO_THREADS")) {
            char* end = nullptr;
            const long n = std::strtol(v, &end, 10);
            if (end != v && *end == '\0' && n >= 1) return n > 256 ? 256 : static_cast<int>(n);
        }
        const unsigned cores = std::thread::hardware_concurrency();
        return cores >= 1 ? static_cast<int>(cores > 256 ? 256 : cores) : 1;
    }();
    return count;
}

void run_parts(std::size_t parts, const std::function<void(std::size_t)>& work) {
    const std::size_t threads = std::min<std::size_t>(parts, static_cast<std::size_t>(thread_count()));
    if (threads <= 1) {
        for (std::size_t p = 0; p < parts; ++p) work(p);
        return;
    }
    // Each thread takes the next part not yet taken. Should one fail (no
    // memory to be had), the others stop and the caller gets the failure.
    std::atomic<std::size_t> next{0};
    std::exception_ptr failure;
    std::mutex failure_lock;
    auto take = [&] {
        try {
            for (std::size_t p; (p = next.fetch_add(1)) < parts;) work(p);
        } catch (...) {
            std::lock_guard<std::mutex> hold(failure_lock);
            if (!failure) failure = std::current_exception();
            next = parts;
        }
    };
    std::vector<std::thread> helpers;
    helpers.reserve(threads - 1);
    try {
        for (std::size_t t = 1; t < threads; ++t) helpers.emplace_back(take);
    } catch (const std::system_error&) {
        // No more threads to be had: those started and this one do the work.
    }
    take();
    for (auto& h : helpers) h.join();
    if (failure) std::rethrow_exception(failure);
}

}  // namespace talvo
