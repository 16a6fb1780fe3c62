#pragma once
// The usage text printed when the program is started without arguments, and the contact block.
#include <string>

namespace qv {

/// The usage lines with `program` (the executable's name) filled in.
std::string usage_text(const std::string& program);
/// "連絡先他" and the company name and comments lines of the version resource, or empty.
std::string contact_block();

}  // namespace qv
