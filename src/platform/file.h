#pragma once
// Files, pipes and the standard streams. Handles are opaque values; every call that fails leaves
// the operating system's error code for last_error() on the calling thread.
#include <cstdint>
#include <string>
#include <string_view>

namespace qv::platform {

using NativeHandle = intptr_t;
inline constexpr NativeHandle kClosedHandle = -1;

enum class SeekOrigin { begin, current, end };

/// How a read ended. `broken_pipe` is the writer of a pipe having gone away: end of input.
enum class IoStatus { ok, broken_pipe, failed };

/// What a path names, as far as the source kinds care.
enum class PathKind { missing, regular, directory, pipe_or_device };

/// Opens an existing file for reading, sharing reads and writes with others (sources, probes).
NativeHandle open_for_reading(const std::string& path);
/// Creates a file anew for writing (truncating one that exists), sharing reads (outputs).
NativeHandle create_for_writing(const std::string& path);
/// Opens a file for writing at its end, creating it when missing (the log): every write lands
/// at the end as it is then, also with other writers (POSIX), and a pipe or device takes the
/// writes as they come. Windows opens it without sharing. Never waits for a reader: a FIFO
/// without one does not open.
NativeHandle open_for_appending(const std::string& path);
void close_handle(NativeHandle& handle);  ///< closes and sets kClosedHandle; closed is a no-op

/// Reads up to `size` bytes; `got` is 0 at end of file. A pipe whose writer closed reports
/// broken_pipe (POSIX: a pipe or FIFO at end of data reports ok with 0 bytes, like a file).
IoStatus read_file(NativeHandle handle, void* data, size_t size, size_t& got);
/// read_file for a regular file or block device, whose reads never wait for a writer: no
/// readiness wait comes before the read (one system call per read).
IoStatus read_regular_file(NativeHandle handle, void* data, size_t size, size_t& got);
/// Writes `size` bytes, retrying short writes; `written` counts what reached the file.
[[nodiscard]] bool write_file(NativeHandle handle, const void* data, size_t size, size_t& written);
/// Writes `first_size` bytes at `first` and then `second_size` bytes at `second` as write_file
/// would write them one after the other, in one call where the system allows it.
[[nodiscard]] bool write_file_pair(NativeHandle handle, const void* first, size_t first_size,
                                   const void* second, size_t second_size, size_t& written);
/// Moves the file position; `position` receives the new position from the start.
[[nodiscard]] bool seek_file(NativeHandle handle, int64_t offset, SeekOrigin origin,
                             int64_t& position);
/// Size of an open file in bytes.
[[nodiscard]] bool file_size(NativeHandle handle, int64_t& size);
/// True when the handle is a pipe, FIFO or character device (never probed, no start offset).
bool is_pipe_or_device(NativeHandle handle);

PathKind path_kind(const std::string& path);
inline bool path_exists(const std::string& path) { return path_kind(path) != PathKind::missing; }
[[nodiscard]] bool delete_file(const std::string& path);
/// True when both paths name one existing file (by identity, not by spelling).
bool same_file(const std::string& a, const std::string& b);

NativeHandle standard_input();
NativeHandle standard_output();

/// True when `path` names the console ("CON": standard input as a source, standard output as an
/// output): exactly those three letters, compared without case on Windows. "CONCERT.ts" is a
/// file.
bool names_console(std::string_view path);

/// The native path of the named pipe `\\.\pipe\NAME` (POSIX: a FIFO named NAME in the temporary
/// directory).
std::string named_pipe_path(const std::string& pipe_name);

/// The calling thread's last OS error code, and a short text for it.
int last_error();
std::string error_text(int code);
/// True for the error of a write whose bytes could not be read from memory: a buffer that lies in
/// a view of a file whose pages another program cut away while the write ran.
bool is_unreadable_memory_error(int code);

/// Longest path the platform accepts (Windows 259 characters; POSIX: no fixed limit).
size_t max_path_length();

}  // namespace qv::platform
