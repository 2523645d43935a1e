// Hostile message files through the MIME reading and rewriting of the providers:
// headers, structure, bodies, attachments, embedded messages, new body and subject.
#include "platform/messaging/maildir/recovery.h"
#include "platform/messaging/mime/content.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

using namespace qf::mapi::mime;
using qf::mapi::maildir::MarkAsReplacement;

namespace {

void ReadAll(ParsedContent& content, int depth) {
    (void)content.PlainBody();
    (void)content.HtmlBody();
    (void)content.Size();
    (void)content.RawBytes();
    for (std::size_t i = 0; i < content.attachments().size(); ++i) {
        (void)content.AttachmentData(i);
        if (depth < 3) {
            if (auto inner = content.Embedded(i)) {
                ReadAll(*inner, depth + 1);
            }
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    auto content = ParsedContent::Parse(bytes);
    ReadAll(*content, 0);
    // A message parsed from its whole bytes can always be rewritten.
    const std::optional<std::string> rewritten =
        content->WithNewBody("Note.\n" + content->PlainBody());
    if (!rewritten) {
        __builtin_trap();
    }
    ReadAll(*ParsedContent::Parse(MarkAsReplacement(*rewritten, std::string("Tagged"), "u1")), 0);
    return 0;
}
