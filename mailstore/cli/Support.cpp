#include "Support.h"

#include "SourceFiles.h"

#include <cstdio>
#include <cstdlib>

namespace mailstore::cli {

namespace {
bool IsIdWord(const std::string& s) {
    return !s.empty() && s.size() <= 10 && s.find_first_not_of("0123456789") == std::string::npos &&
           std::strtoull(s.c_str(), nullptr, 10) <= 0xFFFFFFFFull;
}
} // namespace

FolderId ResolveParent(const Store& store, const std::string& path) {
    if (path == "/" || path == "#0")
        return kRootFolder;
    return ResolveFolder(store, path);
}

std::vector<std::string> PathParts(const std::string& path) {
    std::vector<std::string> parts;
    size_t start = 0;
    while (start <= path.size()) {
        size_t slash = path.find('/', start);
        if (slash == std::string::npos)
            slash = path.size();
        if (slash > start)
            parts.push_back(path.substr(start, slash - start));
        start = slash + 1;
    }
    return parts;
}

void CheckFolderNames(const std::string& path) {
    for (const std::string& part : PathParts(path))
        Require(ValidateFolderName(part), "cannot create \"" + Printable(part) + "\"");
}

std::string TokenText(uint64_t x) {
    // A mix, so runs close in time do not share a prefix.
    x ^= x >> 31;
    x *= 0x7fb5d329728ea185ull;
    x ^= x >> 27;
    char buf[24];
    std::snprintf(buf, sizeof buf, "%016llx", static_cast<unsigned long long>(x));
    return buf;
}

std::string FolderPath(const Store& store, FolderId folder) {
    std::string path;
    FolderInfo info;
    while (folder != kRootFolder && store.GetFolder(folder, &info).ok()) {
        path = path.empty() ? info.name : info.name + "/" + path;
        folder = info.parent;
    }
    return path;
}

MessageId ParseId(const std::string& s) {
    if (!IsIdWord(s))
        Fail("not a message id: \"" + s + "\"");
    return static_cast<MessageId>(std::strtoull(s.c_str(), nullptr, 10));
}

std::vector<MessageId> ParseIds(const Store& store, FolderId folder,
                                const std::vector<std::string>& a, size_t first) {
    std::vector<MessageId> ids;
    if (a.size() == first + 1 && a[first] == "all") {
        Require(store.GetMessageIds(folder, &ids));
        return ids;
    }
    for (size_t i = first; i < a.size(); ++i)
        ids.push_back(ParseId(a[i]));
    return ids;
}

std::vector<std::string> SplitOptions(const std::vector<std::string>& args,
                                      std::initializer_list<const char*> known,
                                      std::set<std::string>* options) {
    std::vector<std::string> rest;
    for (const std::string& s : args) {
        if (s.size() < 2 || s.compare(0, 2, "--") != 0) {
            rest.push_back(s);
            continue;
        }
        bool found = false;
        for (const char* k : known)
            found = found || s == k;
        if (!found)
            Fail("unknown option " + s);
        options->insert(s);
    }
    return rest;
}

std::string FormatTime(uint64_t fileTime) {
    if (fileTime == 0)
        return "-";
    const CivilTime t = ToCivil(fileTime);
    char buf[64];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d", t.year, t.month, t.day, t.hour,
                  t.minute);
    return buf;
}

std::string Fit(const std::string& s, size_t width) {
    std::string out;
    size_t points = 0;
    for (size_t i = 0; i < s.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        if ((c & 0xC0) != 0x80) {
            if (points == width)
                break;
            ++points;
        }
        out.push_back(s[i]);
    }
    return out + std::string(width - points, ' ');
}

void DrawProgress(std::ostream& err, uint64_t done, uint64_t total, const std::string& tail) {
    const uint64_t width = 30;
    const uint64_t filled = total ? (done < total ? done : total) * width / total : width;
    err << "\r[" << std::string(filled, '#') << std::string(width - filled, '.') << "] " << tail
        << std::flush;
}

std::string Plural(size_t n, const char* word) {
    return std::to_string(n) + " " + word + (n == 1 ? "" : "s");
}

} // namespace mailstore::cli
