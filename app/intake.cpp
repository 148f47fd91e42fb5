#include "app/intake.h"

#include <vector>

#include "textio/files.h"
#include "textio/freeform.h"

namespace talvo {

using format::Item;

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

void show_first_cases(Console& con, const Run& run) {
    static const format::Format case_line = format::translate("('0 CASE #',I2)");
    static const format::Format values = format::translate("(8(F9.3,1X))");
    con.line("0 INITIAL FIVE CASES OF DATA");
    std::vector<Item> items(static_cast<std::size_t>(run.K));
    for (std::int32_t I = 1; I <= 5 && I <= run.N; ++I) {
        Item number = Item::of_int(I);
        con.write(case_line, {&number, 1});
        for (std::int32_t J = 1; J <= run.K; ++J) items[static_cast<std::size_t>(J - 1)] = Item::of(run.X(I, J));
        con.write(values, items);
    }
}

void read_start_file(const std::string& name, std::int32_t K, Mat& SVC) {
    InFile file;
    file.open(name);
    FreeFormReader reader(file.fd(), file.name());
    for (std::int32_t I = 1; I <= K; ++I) {
        double* row = SVC.row(I);
        reader.read(static_cast<std::size_t>(K), [&](std::size_t i, double v) { row[i] = v; });
    }
    double* means = SVC.row(0);
    reader.read(static_cast<std::size_t>(K), [&](std::size_t i, double v) { means[i] = v; });
    file.close();
}

}  // namespace talvo
