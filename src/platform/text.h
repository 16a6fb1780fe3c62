#pragma once
// Text conversions between Shift_JIS (code page 932, exactly as Windows maps it), UTF-16, UTF-8
// and the native multibyte text of the platform (CP932 on Windows, UTF-8 on POSIX).
#include <string>
#include <string_view>

namespace qv::platform {

/// Shift_JIS → native text for the console and the log (identity on Windows; UTF-8 on POSIX,
/// unmappable sequences as U+FFFD).
std::string sjis_to_native(std::string_view sjis);

/// Shift_JIS → UTF-16 as MultiByteToWideChar(932) does; unmappable sequences as U+FFFD.
std::u16string sjis_to_utf16(std::string_view sjis);

/// UTF-8 → UTF-16; malformed sequences become U+FFFD.
std::u16string utf8_to_utf16(std::string_view utf8);
/// UTF-16 → UTF-8; unpaired surrogates become U+FFFD.
std::string utf16_to_utf8(std::u16string_view utf16);

/// UTF-16 → Shift_JIS as WideCharToMultiByte(932) does. Without `best_fit` only exact mappings
/// are used; unmappable characters become `default_char` and set `used_default`.
std::string utf16_to_sjis(std::u16string_view utf16, bool best_fit, char default_char,
                          bool& used_default);

/// Native multibyte text ↔ UTF-16 (paths and host names for the TCP sender).
std::u16string native_to_utf16(std::string_view native);
std::string utf16_to_native(std::u16string_view utf16);

}  // namespace qv::platform
