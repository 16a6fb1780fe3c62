#pragma once
// What the fuzz targets share: a failed property stops the process with its name, a reader of
// the fuzz input, and scratch files on tmpfs (/dev/shm when there is one, else the temporary
// directory), one set per process, removed at exit.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/console.h"
#include "platform/environment.h"
#include "platform/file.h"

namespace qv::fuzz {

/// Stops the process (libFuzzer keeps the input) when a property does not hold.
inline void require(bool condition, const char* property = "a property of the target")
{
    if (!condition) {
        std::fprintf(stderr, "property failed: %s\n", property);
        std::abort();
    }
}

/// The fuzz input read a byte at a time; past its end every read gives 0.
struct Input {
    const uint8_t* data = nullptr;
    size_t size = 0;
    size_t at = 0;
    bool more() const { return at < size; }
    uint8_t next() { return at < size ? data[at++] : 0; }
    uint16_t next16() { return static_cast<uint16_t>(next() << 8 | next()); }
    /// The bytes not read yet, as text.
    std::string rest() const { return std::string(data + at, data + size); }
};

/// Directory for scratch files: tmpfs keeps the file work of a fuzz run off the disk.
inline std::string scratch_directory()
{
    static const std::string directory =
        platform::path_kind("/dev/shm") == platform::PathKind::directory
            ? std::string("/dev/shm/")
            : platform::temp_directory();
    return directory;
}

/// Paths handed out by scratch_path, removed by the exit handler.
inline std::vector<std::string>& scratch_paths()
{
    static std::vector<std::string> paths;
    return paths;
}

inline void remove_scratch_files()
{
    for (const std::string& path : scratch_paths()) {
        (void)platform::delete_file(path);
    }
}

/// A path of this process for `name` (the same path on every call with the same name).
inline std::string scratch_path(const std::string& name)
{
    // The list exists before the exit handler is registered, so it is destroyed after the
    // handler ran.
    std::vector<std::string>& paths = scratch_paths();
    static const bool registered = std::atexit(remove_scratch_files) == 0;
    (void)registered;
    const std::string path =
        scratch_directory() + "qv_fuzz_" + std::to_string(platform::process_id()) + "_" + name;
    for (const std::string& known : paths) {
        if (known == path) {
            return path;
        }
    }
    paths.push_back(path);
    return path;
}

/// Writes `size` bytes as a new file (a new file each time: truncating a written one would make
/// some file systems flush it).
inline void write_scratch_file(const std::string& path, const uint8_t* data, size_t size)
{
    (void)platform::delete_file(path);
    platform::NativeHandle out = platform::create_for_writing(path);
    require(out != platform::kClosedHandle, "scratch file created");
    size_t written = 0;
    require(platform::write_file(out, data, size, written) && written == size,
            "scratch file written");
    platform::close_handle(out);
}

/// The whole file; empty when it is missing.
inline std::vector<uint8_t> read_scratch_file(const std::string& path)
{
    std::vector<uint8_t> bytes;
    platform::NativeHandle in = platform::open_for_reading(path);
    if (in == platform::kClosedHandle) {
        return bytes;
    }
    uint8_t block[65536];
    for (;;) {
        size_t got = 0;
        if (platform::read_file(in, block, sizeof block, got) != platform::IoStatus::ok ||
            got == 0) {
            break;
        }
        bytes.insert(bytes.end(), block, block + got);
    }
    platform::close_handle(in);
    return bytes;
}

}  // namespace qv::fuzz
