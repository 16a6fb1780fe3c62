#include "support/bytes_compare.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <type_traits>

namespace qv::test {
namespace {

constexpr size_t kContextBefore = 4;
constexpr size_t kShownUnits = 16;

/// Hex of the units from `from`, at most kShownUnits of them, "…" when more follow.
template <typename Text>
std::string hex_window(Text text, size_t from, int digits)
{
    std::string out;
    const size_t end = std::min(text.size(), from + kShownUnits);
    for (size_t i = from; i < end; ++i) {
        char buffer[8];
        std::snprintf(buffer, sizeof buffer, "%0*X ", digits,
                      static_cast<unsigned>(
                          static_cast<std::make_unsigned_t<typename Text::value_type>>(text[i])));
        out += buffer;
    }
    if (end < text.size()) {
        out += "...";
    }
    return out;
}

template <typename Text>
::testing::AssertionResult compare(Text expected, Text actual, int digits)
{
    const size_t common = std::min(expected.size(), actual.size());
    size_t first = 0;
    while (first < common && expected[first] == actual[first]) {
        ++first;
    }
    if (first == common && expected.size() == actual.size()) {
        return ::testing::AssertionSuccess();
    }
    const size_t from = first > kContextBefore ? first - kContextBefore : 0;
    return ::testing::AssertionFailure()
           << "first difference at offset " << first << " (expected length " << expected.size()
           << ", actual length " << actual.size() << ")\n"
           << "  from offset " << from << ":\n"
           << "  expected: " << hex_window(expected, from, digits) << "\n"
           << "  actual:   " << hex_window(actual, from, digits);
}

}  // namespace

::testing::AssertionResult bytes_equal(std::string_view expected, std::string_view actual)
{
    return compare(expected, actual, 2);
}

::testing::AssertionResult units_equal(std::u16string_view expected, std::u16string_view actual)
{
    return compare(expected, actual, 4);
}

}  // namespace qv::test
