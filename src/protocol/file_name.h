#pragma once

#include <string>
#include <string_view>

namespace kelpie {

// The name shown for a path: the text after its last '/' or '\' (so paths
// from peers on either kind of system show well); a double quote at the very
// start is skipped and the name ends before its first double quote.
std::string FileNamePart(std::string_view path);

// Decimal value of a text: leading spaces, an optional sign, then the longest
// run of digits; 0 without digits. Saturates instead of overflowing.
int32_t DecimalValue(std::string_view text);

}  // namespace kelpie
