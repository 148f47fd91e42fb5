// What the fuzz targets share: inputs handed to the program as files, and
// the checks that end a target with a report when a property fails.
#pragma once

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace talvo::fuzz {

// A file in memory that holds the bytes, read from its start.
inline int memory_file(std::string_view bytes) {
    const int fd = memfd_create("input", MFD_CLOEXEC);
    if (fd < 0) std::abort();
    for (std::size_t at = 0; at < bytes.size();) {
        const ssize_t n = ::write(fd, bytes.data() + at, bytes.size() - at);
        if (n <= 0) std::abort();
        at += static_cast<std::size_t>(n);
    }
    lseek(fd, 0, SEEK_SET);
    return fd;
}

// Where the program's console output goes.
inline int null_output() {
    static const int fd = open("/dev/null", O_WRONLY | O_CLOEXEC);
    return fd;
}

// A property that must hold; a failure is reported like a crash.
#define FUZZ_CHECK(cond, what)                                                        \
    do {                                                                              \
        if (!(cond)) {                                                                \
            std::fprintf(stderr, "%s:%d: %s: %s\n", __FILE__, __LINE__, #cond, what); \
            std::abort();                                                             \
        }                                                                             \
    } while (0)

}  // namespace talvo::fuzz
