// `mailstore import`: messages from files, directories, Maildirs and mbox files.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace mailstore::cli {

// Throws Failure for bad usage or a store that cannot be opened; otherwise
// returns 0, or 2 when something was refused.
int Import(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
           bool progress);

} // namespace mailstore::cli
