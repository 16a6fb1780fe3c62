#pragma once
// Test assertions for byte and UTF-16 texts that, on failure, show where the two first differ
// and the bytes around that place in hex.
#include <gtest/gtest.h>

#include <string_view>

namespace qv::test {

/// Success when `actual` equals `expected` byte for byte; otherwise a message with the offset
/// of the first difference, both lengths and the bytes of both around it in hex.
::testing::AssertionResult bytes_equal(std::string_view expected, std::string_view actual);
/// The same for UTF-16 texts, unit by unit.
::testing::AssertionResult units_equal(std::u16string_view expected, std::u16string_view actual);

}  // namespace qv::test
