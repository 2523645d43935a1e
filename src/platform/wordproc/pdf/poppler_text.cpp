#include "platform/wordproc/pdf/poppler_text.h"

#include <poppler-document.h>
#include <poppler-global.h>
#include <poppler-page.h>

#include <fstream>
#include <memory>
#include <vector>

namespace qf::pdf {
namespace {

// Poppler reports every oddity of a file on standard error; the exit status
// says all the caller needs.
void Silence(const std::string&, void*) {}

// The last bytes of the file, where a complete PDF has its end marker.
std::string Tail(const std::string& path) {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    const std::streamoff size = in.tellg();
    if (size <= 0) {
        return {};
    }
    const std::streamoff take = std::min<std::streamoff>(size, 1024);
    std::string tail(static_cast<std::size_t>(take), '\0');
    in.seekg(size - take);
    in.read(tail.data(), take);
    return tail;
}

std::string PageText(const poppler::page& page) {
    const poppler::byte_array bytes =
        page.text(poppler::rectf(), poppler::page::non_raw_non_physical_layout).to_utf8();
    return NormalizePdfText(std::string_view(bytes.data(), bytes.size()));
}

} // namespace

PopplerResult ReadWithPoppler(const std::string& path, std::size_t maxText) {
    poppler::set_debug_error_function(&Silence, nullptr);
    const std::unique_ptr<poppler::document> doc(poppler::document::load_from_file(path));
    if (!doc) {
        return {HelperExit::Damaged, {}};
    }
    if (doc->is_locked()) {
        return {HelperExit::NeedsPassword, {}};
    }
    if (doc->pages() <= 0) {
        // No page at all, or a page tree Poppler refused (a page count
        // larger than the file could hold).
        return {HelperExit::Damaged, {}};
    }
    std::vector<std::string> pages;
    std::size_t total = 0;
    for (int i = 0; i < doc->pages(); ++i) {
        const std::unique_ptr<poppler::page> page(doc->create_page(i));
        pages.push_back(page ? PageText(*page) : std::string());
        total += pages.back().size();
        if (total > maxText) {
            return {HelperExit::TooLarge, {}};
        }
    }
    std::string text = JoinPages(pages);
    const bool complete = HasEndOfFileMarker(Tail(path));
    if (IsBlankText(text)) {
        return {complete ? HelperExit::NoText : HelperExit::Damaged, {}};
    }
    return {complete ? HelperExit::Text : HelperExit::Incomplete, std::move(text)};
}

} // namespace qf::pdf
