// More of what the tool's commands share: naming folders and messages, options,
// times and terminal output.
#pragma once

#include "Charsets.h"
#include "CliSupport.h"
#include "Store.h"

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <ostream>
#include <set>
#include <string>
#include <vector>

namespace mailstore::cli {

struct Io {
    std::ostream& out;
    std::ostream& err;
    bool progress; // err is a terminal: draw progress bars there
};

// As ResolveFolder, and "/" (or "#0") for the top level.
FolderId ResolveParent(const Store& store, const std::string& path);
// The non-empty names of a folder path, top down.
std::vector<std::string> PathParts(const std::string& path);
// Fails naming the first part of a folder path no folder may be called, before
// anything of a path that cannot be made whole is created.
void CheckFolderNames(const std::string& path);
// "Inbox/Lists" for a folder id.
std::string FolderPath(const Store& store, FolderId folder);

MessageId ParseId(const std::string& s);
// The message ids of the operands from `first` on; "all" alone means every message.
std::vector<MessageId> ParseIds(const Store& store, FolderId folder,
                                const std::vector<std::string>& a, size_t first);

// Removes the options (words starting with "--") from args into *options;
// fails on one not in `known`.
std::vector<std::string> SplitOptions(const std::vector<std::string>& args,
                                      std::initializer_list<const char*> known,
                                      std::set<std::string>* options);

// "YYYY-MM-DD HH:MM" (UTC), or "-" for no time.
std::string FormatTime(uint64_t fileTime);

// Cuts UTF-8 text to at most width code points and pads it to width.
std::string Fit(const std::string& s, size_t width);

// The bar the long commands draw on a terminal, over the line before: 30 cells
// filled for done of total, then `tail`.
void DrawProgress(std::ostream& err, uint64_t done, uint64_t total, const std::string& tail);
std::string Plural(size_t n, const char* word);

} // namespace mailstore::cli
