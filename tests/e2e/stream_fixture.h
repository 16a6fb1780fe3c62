#pragma once
// Streams and helpers shared by the whole-program tests of the stream modes.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "support/run_program.h"
#include "support/stream_builder.h"
#include "support/test_data.h"

namespace qv::test {

inline constexpr uint16_t kPmtPid = 0x01F0;
inline constexpr uint16_t kPcrPid = 0x01FF;
inline constexpr uint16_t kCaptionPid = 0x0130;
inline constexpr uint16_t kVideoPid = 0x0100;
inline constexpr uint64_t kTicks = 90000;

/// JIS kanji pairs: 日本 and 本日.
inline const StreamBytes kNihon = {0x46, 0x7C, 0x4B, 0x5C};
inline const StreamBytes kHonjitsu = {0x4B, 0x5C, 0x46, 0x7C};

/// PAT and PMT with program 1 (PCR 0x1FF, caption 0x130, video 0x100).
inline void put_program(StreamWriter& writer)
{
    put_section(writer, 0x0000, pat_section(1, kPmtPid));
    put_section(writer, kPmtPid, pmt_section(1, kPcrPid, kCaptionPid, kVideoPid));
}

/// A test of one stream mode in a scratch directory of its own, removed afterwards.
class ScratchStreamTest : public ::testing::Test {
protected:
    explicit ScratchStreamTest(std::string label) : label_(std::move(label)) {}
    void SetUp() override { dir_ = make_scratch_directory(label_); }
    void TearDown() override
    {
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }
    /// Writes the source stream into the scratch directory and returns its path.
    std::string write_source(const StreamBytes& bytes, const std::string& name = "rec.ts")
    {
        EXPECT_TRUE(write_file_bytes(dir_ + name, bytes));
        return dir_ + name;
    }

    std::string label_;
    std::string dir_;
};

/// Runs the built program.
inline ProgramRun run_quilvaren(const std::vector<std::string>& arguments,
                                const std::string& directory = {},
                                const std::string& input = {})
{
    return run_program(executable_path(), arguments, directory, input);
}

/// The 188-byte packets of `bytes` for which `keep(index, pid)` holds.
inline StreamBytes keep_packets(const StreamBytes& bytes,
                                const std::function<bool(size_t, uint16_t)>& keep)
{
    StreamBytes kept;
    const std::vector<uint16_t> pids = packet_pids(bytes);
    for (size_t i = 0; i < pids.size(); ++i) {
        if (keep(i, pids[i])) {
            append(kept, StreamBytes(bytes.begin() + static_cast<std::ptrdiff_t>(i * 188),
                                     bytes.begin() + static_cast<std::ptrdiff_t>(i * 188 + 188)));
        }
    }
    return kept;
}

inline StreamBytes file_bytes(const std::string& path)
{
    const std::vector<uint8_t> bytes = read_whole_file(path);
    return StreamBytes(bytes.begin(), bytes.end());
}

}  // namespace qv::test
