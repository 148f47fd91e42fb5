#include "app/batch/plots.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace talvo::batch {

namespace {

std::string num(double v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.1f", v);
    return buf;
}

std::string escaped(const std::string& s) {
    std::string out;
    for (char c : s) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            default: out += c;
        }
    }
    return out;
}

std::string svg_open(double w, double h) {
    return "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + num(w) + "\" height=\"" + num(h) +
           "\" viewBox=\"0 0 " + num(w) + " " + num(h) +
           "\" font-family=\"sans-serif\" font-size=\"12\">\n"
           "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n";
}

std::string text(double x, double y, const std::string& s, const char* extra = "") {
    return "<text x=\"" + num(x) + "\" y=\"" + num(y) + "\"" + extra + ">" + escaped(s) + "</text>\n";
}

std::string line(double x1, double y1, double x2, double y2, const char* style) {
    return "<line x1=\"" + num(x1) + "\" y1=\"" + num(y1) + "\" x2=\"" + num(x2) + "\" y2=\"" + num(y2) + "\" " +
           style + "/>\n";
}

}  // namespace

std::string trace_svg(const std::vector<double>& changes, double criterion, const std::vector<double>& loglik) {
    const double W = 640, H = 400, left = 80, right = 20, top = 40, bottom = 50;
    const double pw = W - left - right, ph = H - top - bottom;
    bool likelihood = !loglik.empty();
    for (double v : loglik) likelihood = likelihood && std::isfinite(v);
    const double below = likelihood ? 260 : 0;  // the panel of the log-likelihood
    std::string s = svg_open(W, H + below);
    s += text(W / 2, 24, "Largest change of a covariance in each pass", " text-anchor=\"middle\" font-size=\"14\"");
    const std::size_t n = changes.empty() ? 0 : changes.size() - 1;  // passes after the start values
    if (n == 0) return s + text(W / 2, H / 2, "No pass after the start values", " text-anchor=\"middle\"") + "</svg>\n";

    double lo = HUGE_VAL, hi = -HUGE_VAL;
    for (std::size_t i = 1; i <= n; ++i) {
        if (changes[i] > 0.0) {
            lo = std::min(lo, std::floor(std::log10(changes[i])));
            hi = std::max(hi, std::ceil(std::log10(changes[i])));
        }
    }
    if (criterion > 0.0) {
        lo = std::min(lo, std::floor(std::log10(criterion)));
        hi = std::max(hi, std::ceil(std::log10(criterion)));
    }
    if (lo > hi) lo = hi = 0.0;  // every change 0, no criterion
    if (hi == lo) hi = lo + 1;
    auto x = [&](std::size_t i) { return left + (n == 1 ? pw / 2 : pw * double(i - 1) / double(n - 1)); };
    auto y = [&](double v) { return top + ph * (hi - (v > 0.0 ? std::max(std::log10(v), lo) : lo)) / (hi - lo); };

    s += line(left, top, left, top + ph, "stroke=\"black\"");
    s += line(left, top + ph, left + pw, top + ph, "stroke=\"black\"");
    const double decades = hi - lo, step = std::ceil(decades / 10);
    for (double d = lo; d <= hi; d += step) {
        const double yy = top + ph * (hi - d) / decades;
        s += line(left, yy, left + pw, yy, "stroke=\"#ddd\"");
        s += text(left - 6, yy + 4, "1e" + std::to_string(int(d)), " text-anchor=\"end\"");
    }
    const std::size_t xstep = std::max<std::size_t>(1, (n + 9) / 10);
    for (std::size_t i = 1; i <= n; i += xstep)
        s += text(x(i), top + ph + 18, std::to_string(i), " text-anchor=\"middle\"");
    s += text(left + pw / 2, H - 10, "pass", " text-anchor=\"middle\"");
    if (criterion > 0.0) {
        s += line(left, y(criterion), left + pw, y(criterion), "stroke=\"#c00\" stroke-dasharray=\"6 4\"");
        s += text(left + pw - 4, y(criterion) - 4, "criterion", " text-anchor=\"end\" fill=\"#c00\"");
    }
    s += "<polyline fill=\"none\" stroke=\"#036\" stroke-width=\"1.5\" points=\"";
    for (std::size_t i = 1; i <= n; ++i) s += num(x(i)) + "," + num(y(changes[i])) + (i < n ? " " : "");
    s += "\"/>\n";
    if (n <= 60)
        for (std::size_t i = 1; i <= n; ++i)
            s += "<circle cx=\"" + num(x(i)) + "\" cy=\"" + num(y(changes[i])) + "\" r=\"2.5\" fill=\"#036\"/>\n";
    if (!likelihood || loglik.size() < n + 1) return s + "</svg>\n";
    // Beneath, the log-likelihood at each pass's parameters, on a linear scale.
    const double ltop = H + 30, lph = below - 80;
    double lmin = HUGE_VAL, lmax = -HUGE_VAL;
    for (std::size_t i = 1; i <= n; ++i) {
        lmin = std::min(lmin, loglik[i]);
        lmax = std::max(lmax, loglik[i]);
    }
    if (lmax == lmin) lmax = lmin + 1;
    auto ly = [&](double v) { return ltop + lph * (lmax - v) / (lmax - lmin); };
    s += text(W / 2, ltop - 10, "Log-likelihood at each pass", " text-anchor=\"middle\" font-size=\"14\"");
    s += line(left, ltop, left, ltop + lph, "stroke=\"black\"");
    s += line(left, ltop + lph, left + pw, ltop + lph, "stroke=\"black\"");
    char label[32];
    for (double v : {lmin, lmax}) {
        std::snprintf(label, sizeof label, "%.10g", v);
        s += text(left - 6, ly(v) + 4, label, " text-anchor=\"end\" font-size=\"10\"");
    }
    for (std::size_t i = 1; i <= n; i += xstep)
        s += text(x(i), ltop + lph + 18, std::to_string(i), " text-anchor=\"middle\"");
    s += "<polyline fill=\"none\" stroke=\"#060\" stroke-width=\"1.5\" points=\"";
    for (std::size_t i = 1; i <= n; ++i) s += num(x(i)) + "," + num(ly(loglik[i])) + (i < n ? " " : "");
    return s + "\"/>\n</svg>\n";
}

std::string patterns_svg(const Run& run, const std::vector<std::string>& names) {
    const std::int32_t K = run.K;
    constexpr std::size_t kRows = 50;
    std::vector<std::int32_t> rows;
    for (std::int32_t L = 1; L <= run.NPATT; ++L)
        if (run.P(L, K + 2) > 0) rows.push_back(L);
    std::stable_sort(rows.begin(), rows.end(),
                     [&](std::int32_t a, std::int32_t b) { return run.P(a, K + 2) > run.P(b, K + 2); });
    std::int64_t left_out_cases = 0;
    const std::size_t shown = std::min(rows.size(), kRows);
    for (std::size_t r = shown; r < rows.size(); ++r) left_out_cases += run.P(rows[r], K + 2);

    const double cell = K <= 40 ? 18 : std::max(2.0, 720.0 / K), rowh = 18;
    const bool named = cell >= 12;
    const double left = 20, top = named ? 130 : 50, grid = cell * K;
    const double W = left + grid + 120, H = top + rowh * double(shown) + 60;
    std::string s = svg_open(std::max(W, 480.0), H);
    s += text(left, 20, "Missingness patterns: cases by the variables they miss", " font-size=\"14\"");
    if (named) {
        for (std::int32_t J = 1; J <= K; ++J) {
            const double cx = left + cell * (J - 1) + cell / 2 + 4, cy = top - 6;
            s += "<text transform=\"translate(" + num(cx) + "," + num(cy) + ") rotate(-60)\">" + escaped(names[J - 1]) +
                 "</text>\n";
        }
    }
    s += text(left + grid + 8, top - 6, "cases");
    std::vector<char> missing(static_cast<std::size_t>(K) + 1);
    for (std::size_t r = 0; r < shown; ++r) {
        const std::int32_t L = rows[r], m = run.P(L, K + 1);
        std::fill(missing.begin(), missing.end(), 0);
        for (std::int32_t J = K - m + 1; J <= K; ++J) missing[run.P(L, J)] = 1;
        const double yy = top + rowh * double(r);
        for (std::int32_t J = 1; J <= K; ++J)
            s += "<rect x=\"" + num(left + cell * (J - 1)) + "\" y=\"" + num(yy) + "\" width=\"" + num(cell) +
                 "\" height=\"" + num(rowh) + "\" fill=\"" + (missing[J] ? "#333" : "#e4e4e4") +
                 "\" stroke=\"white\" stroke-width=\"" + (cell >= 6 ? "1" : "0") + "\"/>\n";
        s += text(left + grid + 8, yy + 13, std::to_string(run.P(L, K + 2)));
    }
    double yy = top + rowh * double(shown) + 20;
    if (shown < rows.size()) {
        s += text(
            left, yy,
            std::to_string(rows.size() - shown) + " more patterns with " + std::to_string(left_out_cases) + " cases");
        yy += 18;
    }
    s += "<rect x=\"" + num(left) + "\" y=\"" + num(yy - 10) + "\" width=\"12\" height=\"12\" fill=\"#333\"/>\n";
    s += text(left + 16, yy, "missing");
    s +=
        "<rect x=\"" + num(left + 80) + "\" y=\"" + num(yy - 10) + "\" width=\"12\" height=\"12\" fill=\"#e4e4e4\"/>\n";
    s += text(left + 96, yy, "observed");
    return s + "</svg>\n";
}

std::string chains_svg(const std::vector<double>& series, const std::vector<std::int32_t>& set_passes,
                       std::int32_t burn_in) {
    const double W = 640, H = 340, left = 80, right = 20, top = 40, ph = 240, pw = W - left - right;
    std::string s = svg_open(W, 2 * H);
    s += text(W / 2, 24, "Data augmentation: the worst linear function of the parameters",
              " text-anchor=\"middle\" font-size=\"14\"");
    if (series.size() < 2)
        return s +
               text(W / 2, H / 2, "The worst linear function could not be found (no information matrix)",
                    " text-anchor=\"middle\"") +
               "</svg>\n";
    const std::size_t n = series.size();
    double lo = *std::min_element(series.begin(), series.end()), hi = *std::max_element(series.begin(), series.end());
    if (hi == lo) hi = lo + 1;
    auto x = [&](double pass) { return left + pw * pass / double(n - 1); };
    auto y = [&](double v) { return top + ph * (hi - v) / (hi - lo); };
    s += line(left, top, left, top + ph, "stroke=\"black\"");
    s += line(left, top + ph, left + pw, top + ph, "stroke=\"black\"");
    for (std::int32_t p : set_passes)
        if (static_cast<std::size_t>(p) < n)
            s += line(x(p), top, x(p), top + ph, "stroke=\"#c00\" stroke-width=\"0.7\"");
    if (burn_in > 0 && static_cast<std::size_t>(burn_in) < n)
        s += line(x(burn_in), top, x(burn_in), top + ph, "stroke=\"#888\" stroke-dasharray=\"6 4\"");
    char label[32];
    for (double v : {lo, hi}) {
        std::snprintf(label, sizeof label, "%.6g", v);
        s += text(left - 6, y(v) + 4, label, " text-anchor=\"end\" font-size=\"10\"");
    }
    const std::size_t xstep = std::max<std::size_t>(1, (n + 9) / 10);
    for (std::size_t i = 0; i < n; i += xstep)
        s += text(x(double(i)), top + ph + 18, std::to_string(i), " text-anchor=\"middle\"");
    s += text(left + pw / 2, top + ph + 40, "pass (red: a data set; dashed: end of the burn-in)",
              " text-anchor=\"middle\"");
    s += "<polyline fill=\"none\" stroke=\"#036\" stroke-width=\"1\" points=\"";
    for (std::size_t i = 0; i < n; ++i) s += num(x(double(i))) + "," + num(y(series[i])) + (i + 1 < n ? " " : "");
    s += "\"/>\n";

    // The autocorrelations after the burn-in.
    const std::size_t from = static_cast<std::size_t>(burn_in) + 1 < n ? static_cast<std::size_t>(burn_in) + 1 : 0;
    const std::size_t m = n - from;
    const double atop = H + 40;
    s += text(W / 2, atop - 14, "Autocorrelations of the series after the burn-in (" + std::to_string(m) + " passes)",
              " text-anchor=\"middle\" font-size=\"14\"");
    double mean = 0.0, var = 0.0;
    for (std::size_t i = from; i < n; ++i) mean += series[i];
    mean /= double(m);
    for (std::size_t i = from; i < n; ++i) var += (series[i] - mean) * (series[i] - mean);
    const std::size_t lags = std::min<std::size_t>(100, m / 2);
    auto ay = [&](double r) { return atop + ph * (1.0 - r) / 2.0; };
    s += line(left, atop, left, atop + ph, "stroke=\"black\"");
    s += line(left, ay(0), left + pw, ay(0), "stroke=\"black\"");
    for (double r : {-1.0, 1.0}) s += text(left - 6, ay(r) + 4, r > 0 ? "1" : "-1", " text-anchor=\"end\"");
    if (lags == 0 || !(var > 0.0)) return s + "</svg>\n";
    const double band = 2.0 / std::sqrt(double(m));
    for (double b : {band, -band}) s += line(left, ay(b), left + pw, ay(b), "stroke=\"#888\" stroke-dasharray=\"4 3\"");
    const double bar = pw / double(lags + 1);
    for (std::size_t k = 0; k <= lags; ++k) {
        double c = 0.0;
        for (std::size_t i = from; i + k < n; ++i) c += (series[i] - mean) * (series[i + k] - mean);
        const double r = c / var, xx = left + bar * (double(k) + 0.5);
        s += line(xx, ay(0), xx, ay(r), "stroke=\"#036\" stroke-width=\"2\"");
    }
    const std::size_t lstep = std::max<std::size_t>(1, (lags + 9) / 10);
    for (std::size_t k = 0; k <= lags; k += lstep)
        s += text(left + bar * (double(k) + 0.5), atop + ph + 18, std::to_string(k), " text-anchor=\"middle\"");
    s += text(left + pw / 2, atop + ph + 40, "lag (passes)", " text-anchor=\"middle\"");
    return s + "</svg>\n";
}

}  // namespace talvo::batch
