// Work split between threads. Each piece of work is independent and writes
// only its own results, so the bits never depend on the number of threads.
#pragma once

#include <cstddef>
#include <functional>

namespace talvo {

// The number of threads to use: TALVO_THREADS when it is set to a number
// from 1 up, else every core of the machine.
int thread_count();

// Uses n threads from now on (0: as above); the tests and benchmarks run
// the kernels with several counts.
void use_threads(int n);

// Runs work(part) for part = 0..parts-1, on up to thread_count() threads at
// once, and returns when all have ended. Should work throw, the parts not
// yet started are left and the first exception is thrown here.
void run_parts(std::size_t parts, const std::function<void(std::size_t)>& work);

}  // namespace talvo
