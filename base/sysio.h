// Writing to a file descriptor.
#pragma once

#include <string_view>

namespace talvo {

// Writes all of the bytes, going on after interrupted or partial writes.
// Returns 0, or the errno of the write that failed.
int write_all(int fd, std::string_view bytes);

}  // namespace talvo
