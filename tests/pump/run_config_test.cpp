#include "pump/run_config.h"

#include <gtest/gtest.h>

#include <climits>
#include <utility>

namespace qv {
namespace {

TEST(ReadBufferSize, SmallAndNegativeValuesSelectTheDefault)
{
    const std::pair<int32_t, uint32_t> cases[] = {
        {0, 104857600u},     {1000, 104857600u}, {48127, 104857600u},
        {48128, 48128u},     {200000, 200000u},  {-1, 104857600u},
        {INT32_MIN, 104857600u},
    };
    for (auto [value, expected] : cases) {
        RunConfig config;
        config.buffer_size = value;
        EXPECT_EQ(effective_read_buffer_size(config), expected) << value;
    }
}

}  // namespace
}  // namespace qv
