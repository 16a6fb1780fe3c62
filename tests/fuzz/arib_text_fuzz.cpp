// The 8-unit code decoder on arbitrary bytes. The first byte picks the profile and where the
// input is split into two calls (the designations carry over between them).
#include <cstdint>
#include <cstdlib>
#include <string>

#include "arib/arib_text_decoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0) {
        return 0;
    }
    static constexpr uint16_t kProfiles[] = {qv::kProfileFullService, qv::kProfilePartialService,
                                             qv::kProfileSiText};
    qv::AribTextState state;
    state.text_profile = kProfiles[data[0] % 3];
    qv::reset_designations(state);
    const uint8_t* bytes = data + 1;
    const size_t length = size - 1;
    const size_t split = length == 0 ? 0 : (data[0] / 3) % (length + 1);
    for (const auto& [from, count] :
         {std::pair{size_t{0}, split}, std::pair{split, length - split}}) {
        const std::string text =
            qv::decode_arib_text(bytes + from, static_cast<uint32_t>(count), state);
        // The result is a C string: it never holds a NUL of its own.
        if (text.find('\0') != std::string::npos) {
            std::abort();
        }
        qv::store_text(state, text);
    }
    if (state.gl < 0 || state.gl > 3 || state.gr < 0 || state.gr > 3 ||
        state.saved_gl != qv::kNoSlot || state.saved_gr != qv::kNoSlot) {
        std::abort();  // invocations stay on a slot; no single shift outlives a call
    }
    return 0;
}
