// `mailstore import`: messages from files, directories, Maildirs and mbox files.
#pragma once

#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace mailstore::cli {

// Throws Failure for bad usage or a store that cannot be opened; otherwise
// returns 0, or 2 when something was refused.
int Import(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
           bool progress);

// A file name fit for one output line: control characters and bytes that are
// not UTF-8 are shown as \xNN.
std::string Printable(std::string_view name);

} // namespace mailstore::cli
