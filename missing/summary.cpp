#include "missing/summary.h"

#include "base/fp.h"

namespace talvo {

using format::Item;

void summarise_missingness(Run& run) {
    const std::int32_t K = run.K;
    for (std::int32_t L = 1; L <= run.NPATT; ++L) {
        if (run.P(L, K + 1) > run.S1) run.S1 = run.P(L, K + 1);
        // The product of a missing count and a case count can pass the
        // 4-byte range for large data; it is formed exactly.
        std::int64_t product = std::int64_t{run.P(L, K + 1)} * run.P(L, K + 2);
        run.S2 = fp::add(run.S2, static_cast<double>(product));
    }
    run.S3 = static_cast<double>(run.S1);
    run.PS1 = fp::mul(fp::div(run.S3, static_cast<double>(K)), 100.0);
    std::int64_t values = std::int64_t{K} * run.N;
    run.PS2 = fp::mul(fp::div(run.S2, static_cast<double>(values)), 100.0);
    run.CPATT = 1;
    run.PNUM = run.NPATT;
    if (static_cast<std::int32_t>(run.CS(0, 0)) == 0) {
        // No complete case: pattern 1 stays in the table but is not counted.
        run.CPATT = 2;
        run.PNUM = run.NPATT - 1;
    }
}

void report_missingness(Console& con, const Run& run) {
    static const format::Format total = format::translate("('0 Total number of missingness patterns:',I5)");
    static const format::Format largest =
        format::translate("('  Largest number within-case missing:   ',I4,5X,F4.1,'%')");
    static const format::Format percent = format::translate("('  Percentage total missing variables:   ',F6.2,'%')");
    con.line("0 MISSINGNESS: Pattern frequencies and percentages");
    Item pnum = Item::of_int(run.PNUM);
    con.write(total, {&pnum, 1});
    Item s1_ps1[] = {Item::of_int(run.S1), Item::of(run.PS1)};
    con.write(largest, s1_ps1);
    Item ps2 = Item::of(run.PS2);
    con.write(percent, {&ps2, 1});
}

}  // namespace talvo
