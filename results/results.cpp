#include "results/results.h"

#include <vector>

#include "base/fp.h"
#include "estimate/estep.h"
#include "results/rows.h"

namespace talvo {

using format::Item;

void ResultFiles::close() { ptn.close(); }

void ResultFiles::close_after_failure(RunEnd& end) {
    for (OutFile* f : {&cov, &ptn, &dat, &res}) {
        int e = f->flush_pending();
        if (e && end.kind != RunEnd::Kind::Stop) {
            end.kind = RunEnd::Kind::IoError;
            end.number = e;
            end.stmt = Stmt::Write;
            end.file = f->name();
        }
        f->close_quietly();
    }
}

void write_results(Run& run, ResultFiles& files) {
    const std::int32_t N = run.N, K = run.K;
    // The format text cannot change during the run: translated once, it
    // gives every row the same records and faults as a fresh translation.
    const format::Format user = format::translate(run.OUTFMT);
    std::vector<Item> row(static_cast<std::size_t>(K));
    auto put = [&](const Mat& m, std::int32_t I) {
        const double* r = m.row(I) - m.first_col();
        for (std::int32_t J = 1; J <= K; ++J) row[static_cast<std::size_t>(J - 1)] = Item::of(r[J]);
    };

    const ResultNames& names = files.names;
    files.cov.open(names.path(names.cov));
    for (std::int32_t I = 1; I <= K; ++I) {
        put(run.COV, I);
        files.cov.write(user, row);
    }
    put(run.COV, 0);
    files.cov.write(user, row);
    files.cov.close();
    if (run.OPTOUT != 1) return;

    write_pattern_file(run, files);
    // temp.ptn stays open to the end of the run, but a failure to write it
    // is reported here, before temp.dat is touched.
    files.ptn.flush_now();
    complete_cases(run);

    files.dat.open(names.path(names.dat));
    write_rows(files.dat, N, [&](std::int32_t I, RowOutput& out) {
        std::vector<Item>& items = out.items(static_cast<std::size_t>(K));
        const double* x = run.X.row(I);
        for (std::int32_t J = 1; J <= K; ++J) items[static_cast<std::size_t>(J - 1)] = Item::of(x[J]);
        out.statement(user, items);
        out.flags(run.OBS.row(run.PATT(I)) - 1, K);
    });
    files.dat.close();

    files.res.open(names.path(names.res));
    write_rows(files.res, N, [&](std::int32_t I, RowOutput& out) {
        // Each value's prediction from the other variables, minus the value.
        std::vector<Item>& items = out.items(static_cast<std::size_t>(K));
        std::vector<double>& predicted = out.values(static_cast<std::size_t>(K));
        predictions(run, I, predicted.data());
        for (std::int32_t J = 1; J <= K; ++J)
            items[static_cast<std::size_t>(J - 1)] =
                Item::of(fp::sub(predicted[static_cast<std::size_t>(J - 1)], run.X(I, J)));
        out.statement(user, items);
    });
    files.res.close();
}

void write_pattern_file(const Run& run, ResultFiles& files) {
    static const format::Format title = format::translate("('MISSINGNESS PATTERNS')");
    static const format::Format subtitle = format::translate("('Reordered with observed variables listed first')");
    static const format::Format empty = format::translate("()");
    static const format::Format total = format::translate("('Total # of missingness patterns: ',I5)");
    static const format::Format order = format::translate("(15(I3,1X))");
    static const format::Format missing = format::translate("(I5,'  missing variables within above pattern')");
    static const format::Format cases = format::translate("(I5,'  cases with above missingness pattern')");
    const std::int32_t K = run.K;
    OutFile& f = files.ptn;
    f.open(files.names.path(files.names.ptn));
    f.write(title, {});
    f.write(subtitle, {});
    f.write(empty, {});
    Item pnum = Item::of_int(run.PNUM);
    f.write(total, {&pnum, 1});
    f.write(empty, {});
    f.write(empty, {});
    const auto first = static_cast<std::int32_t>(run.CPATT);
    write_rows(f, run.NPATT - first + 1, [&](std::int32_t row, RowOutput& out) {
        const std::int32_t I = first + row - 1;
        std::vector<Item>& items = out.items(static_cast<std::size_t>(K));
        for (std::int32_t J = 1; J <= K; ++J) items[static_cast<std::size_t>(J - 1)] = Item::of_int(run.P(I, J));
        out.statement(order, items);
        items.assign(1, Item::of_int(run.P(I, K + 1)));
        out.statement(missing, items);
        items.assign(1, Item::of_int(run.P(I, K + 2)));
        out.statement(cases, items);
        out.statement(empty, {});
    });
}

}  // namespace talvo
