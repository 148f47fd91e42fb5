// Work split between threads. Each piece of work is independent and writes
// only its own results, so the bits never depend on the number of threads.
#pragma once

#include <concepts>
#include <cstddef>
#include <memory>
#include <type_traits>

namespace talvo {

// The number of threads to use: TALVO_THREADS when it is set to a number
// from 1 up, else every core of the machine.
int thread_count();

// Uses n threads from now on (0: as above); the tests and benchmarks run
// the kernels with several counts.
void use_threads(int n);

// The work of run_parts: a reference to any callable taking the part's
// number, which must outlive the call (a lambda written in the call does).
// Nothing is copied or allocated.
class PartWork {
public:
    template <class F>
    requires std::invocable<F&, std::size_t> &&(!std::same_as<std::remove_cvref_t<F>, PartWork>)
        PartWork(F&& f)  // NOLINT: converts from any callable, as std::function would
        : object_(const_cast<void*>(static_cast<const void*>(std::addressof(f)))),
          call_([](void* object, std::size_t part) { (*static_cast<std::remove_reference_t<F>*>(object))(part); }) {}

    void operator()(std::size_t part) const { call_(object_, part); }

private:
    void* object_;
    void (*call_)(void*, std::size_t);
};

// Runs work(part) for part = 0..parts-1, on up to thread_count() threads at
// once, and returns when all have ended. Should work throw, the parts not
// yet started are left and the first exception is thrown here.
//
// The threads are started at the first call that needs them and wait for
// the next call between calls, so a call costs a wake-up, not a thread
// start. A call made from inside a part, or while another thread's call is
// running, runs its parts here, one after the other. When no thread can be
// started, this thread does all the work. The threads never keep the
// process from ending; a child made by fork() starts threads of its own.
void run_parts(std::size_t parts, PartWork work);

}  // namespace talvo
