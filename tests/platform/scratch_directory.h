#pragma once
// A fresh directory for one test, removed with everything in it when the test ends.
#include <atomic>
#include <filesystem>
#include <string>

#include "platform/console.h"
#include "platform/file.h"

namespace qv::test {

class ScratchDirectory {
public:
    ScratchDirectory()
    {
        static std::atomic<int> serial{0};
        path_ = std::filesystem::temp_directory_path() /
                ("qv_platform_" + std::to_string(platform::process_id()) + "_" +
                 std::to_string(serial++));
        std::filesystem::create_directories(path_);
    }
    ~ScratchDirectory()
    {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    ScratchDirectory(const ScratchDirectory&) = delete;
    ScratchDirectory& operator=(const ScratchDirectory&) = delete;

    std::string dir() const { return path_.string(); }
    std::string file(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

/// Writes `bytes` as the whole content of a new file; false when that fails.
inline bool write_new_file(const std::string& path, const std::string& bytes)
{
    platform::NativeHandle handle = platform::create_for_writing(path);
    size_t written = 0;
    const bool ok = handle != platform::kClosedHandle &&
                    platform::write_file(handle, bytes.data(), bytes.size(), written);
    platform::close_handle(handle);
    return ok && written == bytes.size();
}

/// Everything that can be read from the handle up to the end of data.
inline std::string read_to_end(platform::NativeHandle handle)
{
    std::string all;
    char chunk[4096];
    size_t got = 0;
    while (platform::read_file(handle, chunk, sizeof chunk, got) == platform::IoStatus::ok &&
           got > 0) {
        all.append(chunk, got);
    }
    return all;
}

}  // namespace qv::test
