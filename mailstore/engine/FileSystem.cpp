#include "FileSystem.h"

namespace mailstore {

Status OpenToRead(FileSystem& fs, const std::string& path, std::unique_ptr<File>* out,
                  uint64_t* size, bool* missing) {
    Status s = fs.Open(path, OpenMode::Read, out, missing);
    if (s.ok())
        s = (*out)->Size(size);
    return s;
}

} // namespace mailstore
