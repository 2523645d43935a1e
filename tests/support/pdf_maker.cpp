#include "support/pdf_maker.h"

#include <cstdio>
#include <stdexcept>
#include <zlib.h>

namespace qf::testing {
namespace {

// Objects numbered from 1, each remembered by its offset for the
// cross-reference table.
class PdfWriter {
public:
    int Reserve() {
        offsets_.push_back(0);
        return static_cast<int>(offsets_.size());
    }
    void Object(int number, const std::string& body) {
        offsets_[static_cast<std::size_t>(number - 1)] = out_.size();
        out_ += std::to_string(number) + " 0 obj\n" + body + "\nendobj\n";
    }
    void Stream(int number, const std::string& data, const std::string& filter = {}) {
        Object(number, "<< /Length " + std::to_string(data.size()) + filter + " >>\nstream\n" +
                           data + "\nendstream");
    }
    std::string Finish(int root) {
        const std::size_t xref = out_.size();
        out_ += "xref\n0 " + std::to_string(offsets_.size() + 1) + "\n0000000000 65535 f \n";
        char entry[32];
        for (const std::size_t offset : offsets_) {
            std::snprintf(entry, sizeof entry, "%010zu 00000 n \n", offset);
            out_ += entry;
        }
        out_ += "trailer\n<< /Size " + std::to_string(offsets_.size() + 1) + " /Root " +
                std::to_string(root) + " 0 R >>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n";
        return out_;
    }

private:
    std::string out_ = "%PDF-1.4\n%\xE2\xE3\xCF\xD3\n";
    std::vector<std::size_t> offsets_;
};

std::string FontObject() {
    std::string widths;
    for (int c = 32; c <= 255; ++c) {
        widths += " 556";
    }
    return "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /FirstChar 32 /LastChar 255 "
           "/Widths [" +
           widths +
           "] /Encoding << /Type /Encoding /BaseEncoding /WinAnsiEncoding "
           "/Differences [128 /ff /fi /fl /ffi /ffl /sfthyphen] >> >>";
}

std::string Literal(const std::string& text) {
    std::string out = "(";
    for (const char c : text) {
        if (c == '(' || c == ')' || c == '\\') {
            out += '\\';
        }
        out += c;
    }
    return out + ")";
}

std::string TextLine(const PdfLine& line) {
    return "BT /F1 11 Tf " + std::to_string(line.x) + " " + std::to_string(line.y) + " Td " +
           Literal(line.text) + " Tj ET\n";
}

std::string Drawing(const PdfPage& page) {
    std::string content;
    if (page.picture) {
        content += "q 468 0 0 600 72 100 cm BI /W 4 /H 4 /CS /G /BPC 8 ID " +
                   std::string(16, '\x90') + " EI Q\n";
    }
    for (const PdfLine& line : page.lines) {
        content += TextLine(line);
    }
    return content;
}

// Deflates `block` repeated `repeats` times, a block at a time.
std::string Deflate(const std::string& block, long repeats) {
    z_stream z{};
    if (deflateInit(&z, Z_BEST_COMPRESSION) != Z_OK) {
        throw std::runtime_error("deflateInit");
    }
    std::string out;
    char buffer[1 << 16];
    for (long r = 0; r < repeats; ++r) {
        z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(block.data()));
        z.avail_in = static_cast<uInt>(block.size());
        const int flush = r + 1 == repeats ? Z_FINISH : Z_NO_FLUSH;
        int rc = Z_OK;
        do {
            z.next_out = reinterpret_cast<Bytef*>(buffer);
            z.avail_out = sizeof buffer;
            rc = deflate(&z, flush);
            out.append(buffer, sizeof buffer - z.avail_out);
        } while (z.avail_out == 0 || (flush == Z_FINISH && rc != Z_STREAM_END));
    }
    deflateEnd(&z);
    return out;
}

// The document: catalog, page tree, font, then each page with its drawing.
// `count` is what the page tree claims (the page count when negative).
std::string Assemble(const std::vector<PdfPage>& pages, long count = -1,
                     const std::vector<std::string>& streams = {}) {
    PdfWriter w;
    const int catalog = w.Reserve();
    const int tree = w.Reserve();
    const int font = w.Reserve();
    w.Object(catalog, "<< /Type /Catalog /Pages " + std::to_string(tree) + " 0 R >>");
    w.Object(font, FontObject());
    std::string kids;
    for (std::size_t i = 0; i < pages.size(); ++i) {
        const int page = w.Reserve();
        const int content = w.Reserve();
        kids += std::to_string(page) + " 0 R ";
        w.Object(page, "<< /Type /Page /Parent " + std::to_string(tree) +
                           " 0 R /MediaBox [0 0 612 792] /Resources << /Font << /F1 " +
                           std::to_string(font) + " 0 R >> >> /Contents " +
                           std::to_string(content) + " 0 R >>");
        if (i < streams.size()) {
            w.Stream(content, streams[i], " /Filter /FlateDecode");
        } else if (pages[i].compressed) {
            w.Stream(content, Deflate(Drawing(pages[i]), 1), " /Filter /FlateDecode");
        } else {
            w.Stream(content, Drawing(pages[i]));
        }
    }
    const long claimed = count < 0 ? static_cast<long>(pages.size()) : count;
    w.Object(tree,
             "<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(claimed) + " >>");
    return w.Finish(catalog);
}

} // namespace

std::string MakePdf(const std::vector<PdfPage>& pages) {
    return Assemble(pages);
}

std::string MakeInflatingPdf(long repeats, bool text) {
    std::string block;
    for (int y = 760; y > 40; y -= 12) {
        block += text ? "BT /F1 9 Tf 72 " + std::to_string(y) + " Td (abcdefghijklmnop) Tj ET\n"
                      : "q 1 0 0 1 0 " + std::to_string(y) + " cm 0 0 m 9 9 l S Q\n";
    }
    const long blocks = std::max(1L, repeats / 60);
    return Assemble({PdfPage{}}, -1, {Deflate(block, blocks)});
}

std::string MakeManyPagesPdf(int pages) {
    PdfWriter w;
    const int catalog = w.Reserve();
    const int tree = w.Reserve();
    const int font = w.Reserve();
    const int content = w.Reserve();
    w.Object(catalog, "<< /Type /Catalog /Pages " + std::to_string(tree) + " 0 R >>");
    w.Object(font, FontObject());
    w.Stream(content, TextLine({72, 720, "The same page again"}));
    const std::string page = "<< /Type /Page /Parent " + std::to_string(tree) +
                             " 0 R /MediaBox [0 0 612 792] /Resources << /Font << /F1 " +
                             std::to_string(font) + " 0 R >> >> /Contents " +
                             std::to_string(content) + " 0 R >>";
    std::string kids;
    for (int i = 0; i < pages; ++i) {
        const int number = w.Reserve();
        w.Object(number, page);
        kids += std::to_string(number) + " 0 R ";
    }
    w.Object(tree, "<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(pages) + " >>");
    return w.Finish(catalog);
}

std::string MakePdfClaimingPages(long claimedCount) {
    return Assemble({TextPage({{72, 720, "Page 1"}})}, claimedCount);
}

} // namespace qf::testing
