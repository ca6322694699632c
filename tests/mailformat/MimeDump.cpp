// Prints what the portable mail code makes of a message, for a second opinion
// (mime_corpus.py): each part with its decoded bytes and, for text, its text;
// the attachments the pane lists; the text the pane shows. Fields are hex.
#include "Mime.h"

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

namespace {

void Hex(const std::string& bytes) {
    std::putchar('\t');
    for (unsigned char c : bytes)
        std::printf("%02x", c);
}

std::string NoDate(uint64_t) {
    return "";
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: mime_dump MESSAGE\n");
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    const std::string source{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (!in.good() && !in.eof()) {
        std::fprintf(stderr, "cannot read %s\n", argv[1]);
        return 2;
    }
    const mailformat::MimeTree tree = mailformat::ParseMime(source);
    for (size_t i = 0; i < tree.parts.size(); ++i) {
        const mailformat::MimePart& p = tree.parts[i];
        std::printf("part\t%zu\t%d\t%s", i, p.parent, p.ContentType().c_str());
        Hex(p.name);
        Hex(mailformat::DecodeTransfer(source.substr(p.bodyStart, p.bodyEnd - p.bodyStart),
                                       p.encoding));
        Hex(p.type == "text" ? mailformat::PartText(source, p) : std::string());
        std::putchar('\n');
    }
    const mailformat::Reading reading = mailformat::Render(source, tree, NoDate, 1u << 30);
    for (const mailformat::Attachment& a : reading.attachments)
        std::printf("attachment\t%d\n", a.part);
    std::printf("shown");
    Hex(reading.text);
    std::putchar('\n');
    return 0;
}
