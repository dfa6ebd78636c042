#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "child_process.h"

namespace kelpie::test {

// Registers the error reporter in a child with its dialog answered from
// answers (No once they run out, so a fault loop ends), each title and text
// reported as "title" and "text".
void RegisterAnsweredReporter(const ReportChannel& channel, std::vector<bool> answers);

// The value of one "Label: value" line of a dialog text.
std::string DialogField(std::string_view text, std::string_view label);

// The 1-based line of file that carries the comment "// FAULT(name)".
int MarkerLine(const char* file, std::string_view name);

}  // namespace kelpie::test
