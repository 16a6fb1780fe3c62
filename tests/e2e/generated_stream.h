#pragma once
// Streams made by the test-stream generator (tools/make_test_stream), for whole-program tests.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "stream_builder.h"

namespace qv::test {

/// The whole stream the generator makes for `options`.
inline std::vector<uint8_t> generated_stream(const test_stream::StreamOptions& options)
{
    std::vector<uint8_t> stream;
    std::string error;
    const bool made = test_stream::generate_stream(
        options,
        [&](const uint8_t* bytes, size_t length) {
            stream.insert(stream.end(), bytes, bytes + length);
            return true;
        },
        error);
    EXPECT_TRUE(made) << error;
    return stream;
}

}  // namespace qv::test
