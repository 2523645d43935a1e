// The texts of a window's components from the language file: the window's
// section, key "<component>.<property>" (for example "cancelButton.Caption").
#pragma once

#include <string>
#include <string_view>

namespace qf {

// The translation of `component`.`property` in `section`, or `english` when
// the file has none, an empty one, or a malformed one.  Never throws.
std::string FormText(std::string_view section, std::string_view component,
                     std::string_view property, std::string_view english);

// A grid heading or cell, key "<grid>.col_<column>.row_<row>" (columns from
// 1, rows from 0).  A text the file lacks is recorded with `english`, so a
// translator finds the key once the window has been opened.
std::string GridText(std::string_view section, std::string_view grid, int column, int row,
                     std::string_view english);

} // namespace qf
