#include "base/cpu.h"

namespace talvo {

namespace {
bool forced_plain = false;
}

bool use_avx2() {
    static const bool has_avx2 = __builtin_cpu_supports("avx2");
    return has_avx2 && !forced_plain;
}

void force_plain_kernels(bool on) { forced_plain = on; }

}  // namespace talvo
