// The `mailstore` command-line tool, callable in-process so tests can drive it.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace mailstore::cli {

// args excludes the program name; arguments are UTF-8. Returns the exit code:
// 0 success, 1 bad usage or a failed command, 2 an import that refused something.
// progress draws a progress bar on err (for a terminal).
int Run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, bool progress);

} // namespace mailstore::cli
