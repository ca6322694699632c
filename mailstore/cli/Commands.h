// The tool's commands beyond import and the original listings; each takes the
// operands after the command name and returns the exit code.
#pragma once

#include "Support.h"

#include <string>
#include <vector>

namespace mailstore::cli {

using Args = std::vector<std::string>;

int MakeFolder(const Args& a, Io& io);
int RenameFolder(const Args& a, Io& io);
int MoveFolder(const Args& a, Io& io);
int RemoveFolder(const Args& a, Io& io);
int DeleteMessages(const Args& a, Io& io);
int CopyMessages(const Args& a, Io& io);
int MoveMessages(const Args& a, Io& io);
int Show(const Args& a, Io& io);

// Export.cpp
int Export(const Args& a, Io& io);

// Json.cpp: the --json forms of folders, list and check.
int FoldersJson(const Args& a, Io& io);
int ListJson(const Args& a, Io& io);
int CheckJson(const Args& a, Io& io);
// A JSON string literal of `s`; what is not valid UTF-8 becomes U+FFFD, a byte at a time.
std::string JsonString(const std::string& s);

} // namespace mailstore::cli
