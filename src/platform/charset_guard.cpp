// Message literals are written in UTF-8 source and must reach the binary in the native multibyte
// text of the platform: CP932 on Windows (the compiler's execution character set), UTF-8 on POSIX.
// A build that forgets the setting fails here instead of printing mojibake.

namespace qv::platform {

#ifdef _WIN32
inline constexpr unsigned kFullWidthHyphenBytes = 2;  // CP932 0x81 0x7C
#else
inline constexpr unsigned kFullWidthHyphenBytes = 3;  // UTF-8 EF BC 8D
#endif

static_assert(sizeof("－") - 1 == kFullWidthHyphenBytes,
              "message literals are not in the native code page: check -fexec-charset");
#ifdef _WIN32
static_assert(static_cast<unsigned char>("－"[0]) == 0x81 &&
                  static_cast<unsigned char>("－"[1]) == 0x7C,
              "message literals must be CP932 on Windows (-fexec-charset=CP932)");
#endif

}  // namespace qv::platform
