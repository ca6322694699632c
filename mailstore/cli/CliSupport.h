// Helpers the commands of the `mailstore` tool share.
#pragma once

#include "FileSystem.h"
#include "Store.h"

#include <memory>
#include <string>
#include <string_view>

namespace mailstore::cli {

// Thrown for bad usage and failed commands; caught once in Run.
struct Failure {
    std::string message;
};

[[noreturn]] void Fail(const std::string& message);
void Require(const Status& s, const std::string& context = std::string());

// A name fit for one output line: control characters (C0, DEL and C1) and
// bytes that are not UTF-8 are shown as \xNN.
std::string Printable(std::string_view name);

// The file system every store the tool opens and every export lives on.
FileSystem& Fs();
// Another one than the real (nullptr: the real again); the fuzz targets keep
// everything in memory. Imports still read the user's files themselves, and
// export gives its finished files their names on the real one.
void UseFileSystem(FileSystem* fs);
std::unique_ptr<Store> OpenStore(const std::string& dir);
// A folder path such as "Inbox/Lists", or "#12" for the folder with id 12.
FolderId ResolveFolder(const Store& store, const std::string& path);

} // namespace mailstore::cli
