// Shared helpers of the unit tests.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "textio/format.h"

namespace talvo::testing {

// Collects the records of output statements; a record written without a
// line end (dollar) is marked with a trailing '$'.
struct Recorder final : format::RecordSink {
    std::vector<std::string> records;
    void record(std::string_view rec, bool line_end) override {
        records.emplace_back(rec);
        if (!line_end) records.back() += '$';
    }
};

// Runs one output statement: the records joined by '|', or "E<number>"
// appended after the records finished before an error.
inline std::string run_format(std::string_view text, std::vector<double> values) {
    format::Format f = format::translate(text);
    std::vector<format::Item> items;
    for (double v : values) items.push_back(format::Item::of(v));
    Recorder r;
    int e = format::write(r, f, items);
    std::string out;
    for (size_t i = 0; i < r.records.size(); ++i) {
        if (i) out += '|';
        out += r.records[i];
    }
    if (e) out += (r.records.empty() ? "E" : "|E") + std::to_string(e);
    return out;
}

// Everything in the file behind fd, from its start.
inline std::string read_all(int fd) {
    std::string s;
    char buf[4096];
    lseek(fd, 0, SEEK_SET);
    ssize_t n;
    while ((n = read(fd, buf, sizeof buf)) > 0) s.append(buf, static_cast<size_t>(n));
    return s;
}

// Bytes with the control characters made visible.
inline std::string visible(std::string_view s) {
    std::string out;
    for (char c : s) {
        switch (c) {
            case '\r': out += "\\r"; break;
            case '\n': out += "\\n"; break;
            case '\f': out += "\\f"; break;
            case '\b': out += "\\b"; break;
            default: out += c; break;
        }
    }
    return out;
}

// A test that runs in a fresh temporary folder, removed afterwards.
class InTempDir : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/talvo-test-XXXXXX";
        dir_ = mkdtemp(tmpl);
        old_ = std::filesystem::current_path();
        std::filesystem::current_path(dir_);
    }
    void TearDown() override {
        std::filesystem::current_path(old_);
        std::filesystem::permissions(dir_, std::filesystem::perms::owner_all);
        std::filesystem::remove_all(dir_);
    }
    // A file's whole content.
    static std::string slurp(const std::string& name) {
        std::ifstream in(name, std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }
    std::filesystem::path dir_, old_;
};

}  // namespace talvo::testing
