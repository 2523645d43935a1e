// Options files come from anywhere: the reader must give an error or a
// record, never a crash, a hang or a huge allocation.
#include "common/error.h"
#include "settings/settings.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    qf::Settings s;
    try {
        s.LoadFromBytes(std::string_view(reinterpret_cast<const char*>(data), size));
    } catch (const qf::Error&) {
        return 0;
    }
    // A record that was read writes out and reads back to itself.
    const std::string again = s.SaveToBytes();
    qf::Settings back;
    back.LoadFromBytes(again);
    back.formatVersion = s.formatVersion;
    if (!(back == s)) {
        __builtin_trap();
    }
    return 0;
}
