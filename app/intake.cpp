#include "app/intake.h"

#include <sys/resource.h>

#include <cstdio>
#include <fstream>
#include <new>
#include <string>
#include <vector>

#include "textio/errors.h"
#include "textio/freeform.h"

namespace talvo {

using format::Item;

void check_sizes(const Run& run) {
    if (run.N < 1)
        stop("Sample size must be at least 1 (n = " + std::to_string(run.N) + "); aborting...");
    if (run.K < 1)
        stop("Number of variables must be at least 1 (k = " + std::to_string(run.K) + "); aborting...");
}

namespace {

bool mul(std::uint64_t a, std::uint64_t b, std::uint64_t& r) { return !__builtin_mul_overflow(a, b, &r); }
bool add(std::uint64_t a, std::uint64_t b, std::uint64_t& r) { return !__builtin_add_overflow(a, b, &r); }

// The memory this process may still take: what the machine has available,
// and the process limits.
std::uint64_t memory_available() {
    std::uint64_t avail = UINT64_MAX;
    std::ifstream meminfo("/proc/meminfo");
    std::string key;
    std::uint64_t kb;
    std::string unit;
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

}  // namespace

std::optional<std::uint64_t> storage_bytes(std::int64_t N, std::int64_t K) {
    std::uint64_t n = static_cast<std::uint64_t>(N), k = static_cast<std::uint64_t>(K);
    std::uint64_t x, pa, sq, mats, total;
    // X: N x (2K+2) doubles; PA: N x (K+2) integers; eleven (K+1) x (K+1)
    // matrices; the first rows of P; R.
    if (!mul(n, 2 * k + 2, x) || !mul(x, 8, x)) return std::nullopt;
    if (!mul(n, k + 2, pa) || !mul(pa, 4, pa)) return std::nullopt;
    if (!mul(k + 1, k + 1, sq) || !mul(sq, 8 * 11, mats)) return std::nullopt;
    if (!add(x, pa, total) || !add(total, mats, total) || !add(total, 64 * (k + 2) * 4 + 8 * (k + 1), total))
        return std::nullopt;
    return total;
}

void ensure_memory(std::uint64_t bytes) {
    if (bytes > memory_available()) stop(std::string(msg::NoStorage));
}

void allocate(Run& run) {
    const std::int64_t N = run.N, K = run.K;
    auto need = storage_bytes(N, K);
    if (!need) stop(std::string(msg::NoStorage));
    ensure_memory(*need);
    try {
        run.X.allocate(1, N, 0, 2 * K + 1);
        for (Mat* m : {&run.B, &run.CS, &run.PS, &run.SS, &run.G, &run.H, &run.T, &run.COV, &run.CORR})
            m->allocate(0, K, 0, K);
        run.PSN.allocate(0, K, 0, K);
        // The pattern table starts with room for PTN patterns and grows when
        // the data hold more (there are never more than N + 1).
        std::int64_t rows = run.PTN < 1 ? 1 : run.PTN;
        if (rows > N + 1) rows = N + 1;
        run.P.allocate(1, rows, 1, K + 2);
        run.R.allocate(0, K);
        run.PA.allocate(1, N, 1, K + 2);
    } catch (const std::bad_alloc&) {
        stop(std::string(msg::NoStorage));
    }
}

void read_data(Run& run) {
    InFile file;
    file.open(run.FIN);
    FreeFormReader reader(file.fd(), file.name());
    const std::size_t K = static_cast<std::size_t>(run.K);
    // Values come case by case; the cursor follows them into X(I,1..K).
    std::size_t row = 1, col = 1, at = 0;
    double* x = run.X.row(1);
    reader.read(static_cast<std::size_t>(run.N) * K, [&](std::size_t i, double v) {
        while (at < i) {
            ++at;
            if (++col > K) {
                col = 1;
                x = run.X.row(static_cast<std::int64_t>(++row));
            }
        }
        x[col] = v;  // column 0 is the first of the row
    });
    file.close();
}

void show_first_cases(Run& run) {
    static const format::Format case_line = format::translate("('0 CASE #',I2)");
    static const format::Format values = format::translate("(8(F9.3,1X))");
    run.con.line("0 INITIAL FIVE CASES OF DATA");
    std::vector<Item> items(static_cast<std::size_t>(run.K));
    for (std::int32_t I = 1; I <= 5 && I <= run.N; ++I) {
        Item number = Item::of_int(I);
        run.con.write(case_line, {&number, 1});
        for (std::int32_t J = 1; J <= run.K; ++J) items[static_cast<std::size_t>(J - 1)] = Item::of(run.X(I, J));
        run.con.write(values, items);
    }
    run.con.line("0 <Press <ENTER> to continue ");
    pause(run.con);
}

void pause(Console& con) {
    std::string HITKEY;
    if (int e = con.read_text(1, HITKEY, 1)) io_error(e, Stmt::Read, "CON");
}

}  // namespace talvo
