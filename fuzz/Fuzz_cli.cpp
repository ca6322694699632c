// The command line with any arguments, on a store in memory: every run ends
// with 0, 1 (one line saying why) or 2, prints no control character, and
// leaves a store that checks sound. Import is left out: it reads real files.
#include "Cli.h"
#include "CliSupport.h"
#include "MemFs.h"
#include "StoreModel.h"

#include <algorithm>
#include <cstdlib>
#include <sstream>

using namespace mailstore;

namespace {
// C0 but the line break, DEL and C1: what Printable must have escaped.
bool HasControl(const std::string& s) {
    for (size_t i = 0; i < s.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        if ((c < 0x20 && c != '\n') || c == 0x7F ||
            (c == 0xC2 && i + 1 < s.size() && static_cast<unsigned char>(s[i + 1]) < 0xA0))
            return true;
    }
    return false;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Arguments are the input's lines.
    std::vector<std::string> args(1);
    for (size_t i = 0; i < size && args.size() <= 8; ++i) {
        if (data[i] == '\n')
            args.emplace_back();
        else
            args.back().push_back(static_cast<char>(data[i]));
    }
    const bool help = std::find(args.begin(), args.end(), "--help") != args.end();
    if (args[0] == "import" && !help)
        return 0;
    // A store with a message and a sub-folder, made once.
    static const std::unique_ptr<testing::MemFs> base = [] {
        auto fs = std::make_unique<testing::MemFs>();
        OpenOptions o;
        o.fs = fs.get();
        o.create = true;
        o.clock = [] { return testing::kFixedClock; };
        std::unique_ptr<Store> store;
        if (!Store::Open("/s", o, &store).ok())
            std::abort();
        store->ImportMessage(kRootFolder + 1, testing::MakeMessage(1), nullptr);
        store->CreateFolder(kRootFolder + 1, "Sub", nullptr);
        return fs;
    }();
    const std::unique_ptr<testing::MemFs> clone = base->Clone();
    testing::MemFs& fs = *clone;
    cli::UseFileSystem(&fs);
    std::ostringstream out, err;
    const int code = cli::Run(args, out, err, false);
    cli::UseFileSystem(nullptr);
    const std::string e = err.str();
    if (code < 0 || code > 2 || HasControl(e))
        std::abort();
    if (code == 1 && (e.empty() || e.find('\n') != e.size() - 1))
        std::abort();
    // show writes the source itself, and --json is for programs.
    const bool raw =
        std::find(args.begin(), args.end(), "--json") != args.end() || (args[0] == "show" && !help);
    if (!raw && HasControl(out.str()))
        std::abort();
    CheckReport report;
    if (Store::Check("/s", &fs, &report).ok() && !report.ok)
        std::abort();
    return 0;
}
