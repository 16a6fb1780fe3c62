#pragma once
// For the tests that play streams through the file tuner: generated streams, and a scratch
// directory with copies of the tuner libraries, their channel lists and the stream files.
// Header-only: only the test executables that link the stream generator include it.
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

// The generator's header (angle brackets: not the stream writer of tests/support beside this).
#include <stream_builder.h>

#include "support/test_data.h"

namespace qv::test {

/// A generated broadcast-like stream of `duration_ms` at `bit_rate` (188-byte packets, or 192-byte
/// units with a 4-byte prefix).
inline std::vector<uint8_t> generated_stream(int64_t duration_ms, uint32_t bit_rate,
                                             uint32_t packet_size = 188)
{
    test_stream::StreamOptions options;
    options.duration_ms = duration_ms;
    options.bit_rate = bit_rate;
    options.packet_size = packet_size;
    std::vector<uint8_t> bytes;
    std::string error;
    const bool made = test_stream::generate_stream(
        options,
        [&bytes](const uint8_t* data, size_t length) {
            bytes.insert(bytes.end(), data, data + length);
            return true;
        },
        error);
    return made ? bytes : std::vector<uint8_t>();
}

/// A directory removed with its content at the end of the test.
class TunerDirectory {
public:
    TunerDirectory() : path_(unique_temp_path("qv_tuner", ""))
    {
        std::filesystem::create_directories(path_);
    }
    ~TunerDirectory()
    {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TunerDirectory(const TunerDirectory&) = delete;
    TunerDirectory& operator=(const TunerDirectory&) = delete;

    std::string file(const std::string& name) const { return (path_ / name).string(); }

    /// Copies a library here under its own name; returns the copy's path.
    std::string copy_library(const std::string& library) const
    {
        const std::filesystem::path source(library);
        const std::filesystem::path copy = path_ / source.filename();
        std::filesystem::copy_file(source, copy, std::filesystem::copy_options::overwrite_existing);
        return copy.string();
    }

    bool write(const std::string& name, const void* data, size_t size) const
    {
        std::ofstream out(path_ / name, std::ios::binary);
        out.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
        return static_cast<bool>(out);
    }
    bool write(const std::string& name, const std::string& text) const
    {
        return write(name, text.data(), text.size());
    }
    bool write(const std::string& name, const std::vector<uint8_t>& bytes) const
    {
        return write(name, bytes.data(), bytes.size());
    }

    /// The channel list beside the copy of `library`: "<name without extension>.channels".
    bool write_channels(const std::string& library_copy, const std::string& text) const
    {
        std::filesystem::path path(library_copy);
        path.replace_extension(".channels");
        return write(path.filename().string(), text);
    }

private:
    std::filesystem::path path_;
};

}  // namespace qv::test
