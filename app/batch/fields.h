// The fields of a line of a data file. The separator is decided once per
// file, from its first line that is not blank (the header, with --header):
//   - a line with a tab (outside quotes): tab-separated. Every tab
//     separates; nothing between two tabs, before the first or after the
//     last is an empty field; blanks around a field are trimmed.
//   - else a line with a semicolon: semicolon-separated, likewise (blanks
//     and tabs around a field trimmed).
//   - else commas and blanks: fields separated by blanks and tabs, or by
//     one comma with blanks around it; nothing between two commas, before
//     a comma that opens the line or after one that ends it is an empty
//     field.
// A field in double quotes (a doubled quote standing for one) may hold
// anything, the separator too.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace talvo::batch {

enum class Separator { Blanks, Tab, Semicolon };

struct Field {
    std::string_view text;  // between the quotes for a quoted field
    std::size_t col = 0;    // its first byte's column in the line, from 1
    bool quoted = false;
    bool empty = false;  // nothing at all (not "")
};

Separator separator_of(std::string_view first_line);
std::string_view separator_name(Separator s);

// The fields of one line; none for a line of blanks.
void split(std::string_view line, Separator s, std::vector<Field>& out);

// The text of a field: a quoted field's doubled quotes as one.
std::string unquote(const Field& f);

}  // namespace talvo::batch
