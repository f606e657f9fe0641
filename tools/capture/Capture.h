// The capture tool as a function of its arguments, so main() stays a one-liner.
#pragma once

#include <ostream>
#include <string>
#include <vector>

// Runs one capture: parses the arguments (after the program name), draws and writes. Messages go
// to out (help) and err (errors). Returns one of the ExitCode values of Options.h.
int RunCapture(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err);
