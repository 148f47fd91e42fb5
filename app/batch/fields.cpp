#include "app/batch/fields.h"

#include <algorithm>

namespace talvo::batch {

namespace {

bool blank(char c) { return c == ' ' || c == '\t'; }

// The end of a quoted field whose opening quote is at i: the index of its
// closing quote, or n when it has none.
std::size_t closing_quote(std::string_view line, std::size_t i) {
    const std::size_t n = line.size();
    std::size_t j = i + 1;
    while (j < n && !(line[j] == '"' && (j + 1 == n || line[j + 1] != '"'))) j += line[j] == '"' ? 2 : 1;
    return std::min(j, n);
}

void split_blanks(std::string_view line, std::vector<Field>& out) {
    const std::size_t n = line.size();
    std::size_t i = 0;
    auto skip = [&] {
        while (i < n && blank(line[i])) ++i;
    };
    skip();
    if (i == n) return;
    for (;;) {
        Field f;
        f.col = i + 1;
        if (line[i] == ',') {
            f.empty = true;
        } else if (line[i] == '"') {
            f.quoted = true;
            const std::size_t j = closing_quote(line, i);
            f.text = line.substr(i + 1, j - i - 1);
            i = std::min(j + 1, n);
            while (i < n && !blank(line[i]) && line[i] != ',') ++i;
        } else {
            std::size_t j = i;
            while (j < n && !blank(line[j]) && line[j] != ',') ++j;
            f.text = line.substr(i, j - i);
            i = j;
        }
        out.push_back(f);
        skip();
        if (i == n) return;
        if (line[i] == ',') {
            ++i;
            skip();
            if (i == n) {
                out.push_back(Field{{}, i + 1, false, true});
                return;
            }
        }
    }
}

// Every separator separates; blanks around a field are trimmed.
void split_every(std::string_view line, char sep, std::vector<Field>& out) {
    const std::size_t n = line.size();
    auto trim = [&](char c) { return c == ' ' || (c == '\t' && sep != '\t'); };
    if (std::all_of(line.begin(), line.end(), trim)) return;
    std::size_t i = 0;
    for (;;) {
        while (i < n && trim(line[i])) ++i;
        Field f;
        f.col = i + 1;
        std::size_t j;
        if (i < n && line[i] == '"') {
            f.quoted = true;
            const std::size_t q = closing_quote(line, i);
            f.text = line.substr(i + 1, q - i - 1);
            j = std::min(q + 1, n);
            while (j < n && line[j] != sep) ++j;
        } else {
            j = i;
            while (j < n && line[j] != sep) ++j;
            std::size_t e = j;
            while (e > i && trim(line[e - 1])) --e;
            f.text = line.substr(i, e - i);
            f.empty = e == i;
        }
        out.push_back(f);
        if (j >= n) return;
        i = j + 1;
    }
}

}  // namespace

Separator separator_of(std::string_view line) {
    bool semicolon = false, quoted = false;
    for (char c : line) {
        if (c == '"') quoted = !quoted;
        if (quoted) continue;
        if (c == '\t') return Separator::Tab;
        semicolon = semicolon || c == ';';
    }
    return semicolon ? Separator::Semicolon : Separator::Blanks;
}

std::string_view separator_name(Separator s) {
    switch (s) {
        case Separator::Tab: return "tabs";
        case Separator::Semicolon: return "semicolons";
        case Separator::Blanks: break;
    }
    return "commas and blanks";
}

void split(std::string_view line, Separator s, std::vector<Field>& out) {
    out.clear();
    switch (s) {
        case Separator::Blanks: split_blanks(line, out); return;
        case Separator::Tab: split_every(line, '\t', out); return;
        case Separator::Semicolon: split_every(line, ';', out); return;
    }
}

std::string unquote(const Field& f) {
    if (!f.quoted) return std::string(f.text);
    std::string out;
    const std::string_view s = f.text;
    for (std::size_t i = 0; i < s.size(); ++i) {
        out += s[i];
        if (s[i] == '"' && i + 1 < s.size() && s[i + 1] == '"') ++i;
    }
    return out;
}

}  // namespace talvo::batch
