#include "base/threads.h"

#include <pthread.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <exception>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

namespace talvo {

namespace {

std::atomic<int> chosen{0};

int cores() {
    static const int count = [] {
        const unsigned n = std::thread::hardware_concurrency();
        return n >= 1 ? static_cast<int>(n > 256 ? 256 : n) : 1;
    }();
    return count;
}

// Set on the pool's threads, and on a calling thread while it runs parts:
// a call from inside a part runs its parts on the spot.
thread_local bool inside_part = false;

// A hint to the processor that this thread is waiting in a loop.
inline void relax() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#endif
}

// Waits until done() holds, for up to `budget` checking it in a loop, so
// that a wait of a few microseconds does not go through the system's
// sleep and wake-up; returns whether it holds.
template <class Done>
bool spin_until(Done done, std::chrono::microseconds budget) {
    if (budget.count() <= 0) return done();
    const auto until = std::chrono::steady_clock::now() + budget;
    for (;;) {
        for (int i = 0; i < 32; ++i) {
            if (done()) return true;
            relax();
        }
        if (std::chrono::steady_clock::now() >= until) return done();
    }
}

// The threads, started as calls need them, and the call they work on.
//
// A call is published as one word, claim_: its ticket (a serial number) in
// the high half, the parts not yet handed out in the low half. A thread
// takes a part by counting that down, and only while the ticket is the one
// it came for, so a thread late from an earlier call can never take a part
// of the next one. The call's other fields are written before the word and
// stay unchanged until every part has been counted in completed_, which the
// caller waits for.
class Pool {
public:
    void run(std::size_t parts, PartWork work, std::size_t threads);

private:
    struct alignas(64) Helper {
        std::mutex lock;
        std::condition_variable wake;
        std::atomic<bool> asleep{false};
    };

    static constexpr std::uint64_t kLow = 0xFFFFFFFFu;
    static std::uint32_t ticket(std::uint64_t word) { return static_cast<std::uint32_t>(word >> 32); }

    void grow(std::size_t helpers);
    void serve(std::size_t index, Helper* me, std::uint32_t seen);
    void take(std::uint32_t s);
    void fail(std::uint32_t s);
    void finish(std::size_t n);

    std::mutex calls_;  // one call at a time
    std::vector<std::unique_ptr<Helper>> helpers_;
    bool cannot_grow_ = false;
    std::uint32_t last_ticket_ = 0;

    std::atomic<std::uint64_t> claim_{0};
    std::atomic<std::size_t> completed_{0};
    std::atomic<std::size_t> wanted_{0};  // helpers asked to take part, numbered 0 up
    std::atomic<std::int64_t> spin_us_{0};
    std::size_t count_ = 0, first_ = 0;
    PartWork* work_ = nullptr;
    std::mutex failing_;
    std::exception_ptr failure_;
    std::mutex done_lock_;
    std::condition_variable done_;
    std::atomic<bool> caller_asleep_{false};
};

void Pool::grow(std::size_t helpers) {
    if (helpers_.size() >= helpers || cannot_grow_) return;
    try {
        helpers_.reserve(helpers);
        while (helpers_.size() < helpers) {
            auto helper = std::make_unique<Helper>();
            std::thread(&Pool::serve, this, helpers_.size(), helper.get(), ticket(claim_.load())).detach();
            helpers_.push_back(std::move(helper));
        }
    } catch (const std::system_error&) {
        // No more threads to be had: those started and the caller do the work.
        cannot_grow_ = true;
    } catch (const std::bad_alloc&) {
        cannot_grow_ = true;
    }
}

void Pool::serve(std::size_t index, Helper* me, std::uint32_t seen) {
    inside_part = true;
    bool spin = true;
    for (;;) {
        auto fresh = [&] { return ticket(claim_.load()) != seen; };
        if (!(spin && spin_until(fresh, std::chrono::microseconds(spin_us_.load(std::memory_order_relaxed))))) {
            std::unique_lock<std::mutex> hold(me->lock);
            me->asleep = true;
            me->wake.wait(hold, fresh);
            me->asleep = false;
        }
        seen = ticket(claim_.load());
        // A helper not asked for (fewer threads are used than there are)
        // leaves this call to the others, and sleeps until the next.
        spin = index < wanted_.load(std::memory_order_relaxed);
        if (spin) take(seen);
    }
}

void Pool::take(std::uint32_t s) {
    for (;;) {
        std::uint64_t word = claim_.load(std::memory_order_acquire);
        do {
            if (ticket(word) != s || (word & kLow) == 0) return;
        } while (!claim_.compare_exchange_weak(word, word - 1, std::memory_order_acq_rel, std::memory_order_acquire));
        const std::size_t part = first_ + (count_ - static_cast<std::size_t>(word & kLow));
        try {
            (*work_)(part);
        } catch (...) {
            fail(s);
        }
        finish(1);
    }
}

// The first failure is kept for the caller; the parts not yet handed out
// are left, and counted as ended.
void Pool::fail(std::uint32_t s) {
    {
        std::lock_guard<std::mutex> hold(failing_);
        if (!failure_) failure_ = std::current_exception();
    }
    std::uint64_t word = claim_.load(std::memory_order_acquire);
    do {
        if (ticket(word) != s || (word & kLow) == 0) return;
    } while (!claim_.compare_exchange_weak(word, word & ~kLow, std::memory_order_acq_rel, std::memory_order_acquire));
    finish(static_cast<std::size_t>(word & kLow));
}

void Pool::finish(std::size_t n) {
    const std::size_t count = count_;
    if (completed_.fetch_add(n) + n == count && caller_asleep_.load()) {
        std::lock_guard<std::mutex> hold(done_lock_);
        done_.notify_one();
    }
}

void Pool::run(std::size_t parts, PartWork work, std::size_t threads) {
    std::unique_lock<std::mutex> call(calls_, std::try_to_lock);
    if (call.owns_lock()) grow(threads - 1);
    const std::size_t helpers = call.owns_lock() ? std::min(threads - 1, helpers_.size()) : 0;
    if (helpers == 0) {
        // Another thread's call is running, or no thread could be started.
        for (std::size_t p = 0; p < parts; ++p) work(p);
        return;
    }
    // A short wait in a loop costs a core only while there are cores enough
    // for every thread.
    const bool roomy = static_cast<int>(helpers + 1) <= cores();
    const auto spin = std::chrono::microseconds(roomy ? 200 : 0);
    spin_us_.store(spin.count(), std::memory_order_relaxed);
    wanted_.store(helpers, std::memory_order_relaxed);
    work_ = &work;
    for (std::size_t first = 0; first < parts; first += count_) {
        count_ = std::min<std::size_t>(parts - first, kLow);
        first_ = first;
        completed_.store(0);
        const std::uint32_t s = ++last_ticket_;
        claim_.store(static_cast<std::uint64_t>(s) << 32 | count_);
        for (std::size_t h = 0; h < helpers; ++h) {
            Helper& one = *helpers_[h];
            if (one.asleep.load()) {
                std::lock_guard<std::mutex> hold(one.lock);
                one.wake.notify_one();
            }
        }
        inside_part = true;
        take(s);
        inside_part = false;
        auto ended = [&] { return completed_.load() == count_; };
        if (!spin_until(ended, spin)) {
            std::unique_lock<std::mutex> hold(done_lock_);
            caller_asleep_ = true;
            done_.wait(hold, ended);
            caller_asleep_ = false;
        }
        if (failure_) {
            // A failure ends the call; the later stretches are not begun.
            std::exception_ptr failure = std::exchange(failure_, nullptr);
            std::rethrow_exception(failure);
        }
    }
}

// The pool of this process. A child made by fork() has none of the parent's
// threads: it drops the parent's pool (without touching it: its locks may
// have been held at the fork) and starts its own at its first call.
std::atomic<Pool*> the_pool{nullptr};

void forget_pool() { the_pool.store(nullptr); }

Pool& pool() {
    Pool* p = the_pool.load(std::memory_order_acquire);
    if (p) return *p;
    static const bool watching_forks = [] { return pthread_atfork(nullptr, nullptr, forget_pool) == 0; }();
    (void)watching_forks;
    // Never destroyed: its threads wait for work until the process ends.
    auto* made = new Pool;
    if (the_pool.compare_exchange_strong(p, made)) return *made;
    delete made;
    return *p;
}

}  // namespace

void use_threads(int n) { chosen.store(n, std::memory_order_relaxed); }

int thread_count() {
    if (const int n = chosen.load(std::memory_order_relaxed); n > 0) return n;
    static const int count = [] {
        if (const char* v = std::getenv("TALVO_THREADS")) {
            char* end = nullptr;
            const long n = std::strtol(v, &end, 10);
            if (end != v && *end == '\0' && n >= 1) return n > 256 ? 256 : static_cast<int>(n);
        }
        return cores();
    }();
    return count;
}

void run_parts(std::size_t parts, PartWork work) {
    const std::size_t threads = std::min<std::size_t>(parts, static_cast<std::size_t>(thread_count()));
    if (threads <= 1 || inside_part) {
        for (std::size_t p = 0; p < parts; ++p) work(p);
        return;
    }
    pool().run(parts, work, threads);
}

}  // namespace talvo
