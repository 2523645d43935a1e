// The registry file may be damaged or edited by hand: the reader keeps what
// it can and reports the rest, never crashing.
#include "platform/registry/registry.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    qf::registry::MemoryRegistry reg;
    std::vector<std::string> warnings;
    qf::registry::ParseRegText(std::string_view(reinterpret_cast<const char*>(data), size), reg,
                               warnings);
    // What was read writes out and reads back to the same text.
    const std::string text = qf::registry::FormatRegText(reg);
    qf::registry::MemoryRegistry back;
    std::vector<std::string> again;
    qf::registry::ParseRegText(text, back, again);
    if (!again.empty() || qf::registry::FormatRegText(back) != text) {
        __builtin_trap();
    }
    return 0;
}
