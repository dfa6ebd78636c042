#pragma once

#include <string_view>
#include <vector>

namespace kelpie {

// What every window starts each control with: its text ("" for the lists)
// and whether it can be used before a role is active.
std::string_view ControlStartText(int id);
bool ControlStartsEnabled(int id);

// The cells of a list row given as one text with its columns separated by
// '\n'; a text without one is a single cell.
std::vector<std::string_view> RowColumns(std::string_view row);

}  // namespace kelpie
