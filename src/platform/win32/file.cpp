// Files, named pipes and the standard streams on Windows: the CreateFileA family.
#include "platform/file.h"

#include <windows.h>

#include <algorithm>
#include <limits>

namespace qv::platform {

namespace {

constexpr size_t kMaxPathLength = MAX_PATH - 1;  // 259 characters and the terminating zero
constexpr DWORD kLargestTransfer = 1u << 30;     // one ReadFile/WriteFile call moves at most this
constexpr const char kPipePrefix[] = "\\\\.\\pipe\\";

HANDLE to_handle(NativeHandle handle) { return reinterpret_cast<HANDLE>(handle); }

bool valid(NativeHandle handle) { return handle != kClosedHandle && handle != 0; }

bool has_pipe_prefix(const std::string& path)
{
    // The object manager compares the prefix without regard to case ("\\.\PIPE\x" is a pipe).
    const size_t length = sizeof kPipePrefix - 1;
    if (path.size() <= length) {
        return false;
    }
    for (size_t i = 0; i < length; ++i) {
        char c = path[i];
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
        if (c != kPipePrefix[i]) {
            return false;
        }
    }
    return true;
}

// A path the Windows ANSI file API would cut or refuse: fail early with the same error code, so
// that the caller's message names the real reason.
bool path_usable(const std::string& path)
{
    if (path.empty()) {
        SetLastError(ERROR_INVALID_NAME);
        return false;
    }
    if (path.size() > kMaxPathLength) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return false;
    }
    return true;
}

NativeHandle open_path(const std::string& path, DWORD access, DWORD share, DWORD creation)
{
    if (!path_usable(path)) {
        return kClosedHandle;
    }
    HANDLE handle = CreateFileA(path.c_str(), access, share, nullptr, creation,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return kClosedHandle;
    }
    return reinterpret_cast<NativeHandle>(handle);
}

NativeHandle from_standard(DWORD which)
{
    HANDLE handle = GetStdHandle(which);
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) {
        return kClosedHandle;  // a process without that stream
    }
    return reinterpret_cast<NativeHandle>(handle);
}

bool is_standard_handle(HANDLE handle)
{
    return handle == GetStdHandle(STD_INPUT_HANDLE) || handle == GetStdHandle(STD_OUTPUT_HANDLE) ||
           handle == GetStdHandle(STD_ERROR_HANDLE);
}

}  // namespace

NativeHandle open_for_reading(const std::string& path)
{
    return open_path(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING);
}

NativeHandle create_for_writing(const std::string& path)
{
    // Others may read the output while it grows (and, as before, write to it).
    return open_path(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, CREATE_ALWAYS);
}

NativeHandle open_for_appending(const std::string& path)
{
    NativeHandle handle = open_path(path, GENERIC_WRITE, 0, OPEN_ALWAYS);
    if (handle != kClosedHandle) {
        // Nobody else can write while it is open; a device has no end to move to.
        LARGE_INTEGER end{};
        (void)SetFilePointerEx(reinterpret_cast<HANDLE>(handle), end, nullptr, FILE_END);
    }
    return handle;
}

void close_handle(NativeHandle& handle)
{
    // The standard handles belong to the process, not to whoever was handed them as "CON".
    if (valid(handle) && !is_standard_handle(to_handle(handle))) {
        CloseHandle(to_handle(handle));
    }
    handle = kClosedHandle;
}

IoStatus read_file(NativeHandle handle, void* data, size_t size, size_t& got)
{
    got = 0;
    if (!valid(handle)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return IoStatus::failed;
    }
    const DWORD wanted = static_cast<DWORD>(std::min<size_t>(size, kLargestTransfer));
    DWORD read = 0;
    if (!ReadFile(to_handle(handle), data, wanted, &read, nullptr)) {
        // The writer of a pipe closing its end is the end of that input, not an error.
        return GetLastError() == ERROR_BROKEN_PIPE ? IoStatus::broken_pipe : IoStatus::failed;
    }
    got = read;
    return IoStatus::ok;
}

IoStatus read_regular_file(NativeHandle handle, void* data, size_t size, size_t& got)
{
    return read_file(handle, data, size, got);  // ReadFile waits for nothing else first
}

bool write_file(NativeHandle handle, const void* data, size_t size, size_t& written)
{
    written = 0;
    if (!valid(handle)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    const auto* bytes = static_cast<const uint8_t*>(data);
    while (written < size) {
        const DWORD chunk = static_cast<DWORD>(std::min<size_t>(size - written, kLargestTransfer));
        DWORD done = 0;
        if (!WriteFile(to_handle(handle), bytes + written, chunk, &done, nullptr)) {
            return false;
        }
        if (done == 0) {
            SetLastError(ERROR_WRITE_FAULT);  // a write that moves nothing would loop for ever
            return false;
        }
        written += done;
    }
    return true;
}

bool write_file_pair(NativeHandle handle, const void* first, size_t first_size, const void* second,
                     size_t second_size, size_t& written)
{
    size_t more = 0;
    const bool ok = write_file(handle, first, first_size, written);
    if (!ok) {
        return false;
    }
    const bool ok_second = write_file(handle, second, second_size, more);
    written += more;
    return ok_second;
}

bool seek_file(NativeHandle handle, int64_t offset, SeekOrigin origin, int64_t& position)
{
    if (!valid(handle)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    DWORD method = FILE_BEGIN;
    if (origin == SeekOrigin::current) {
        method = FILE_CURRENT;
    } else if (origin == SeekOrigin::end) {
        method = FILE_END;
    }
    const uint64_t bits = static_cast<uint64_t>(offset);
    LONG high = static_cast<LONG>(static_cast<uint32_t>(bits >> 32));
    SetLastError(NO_ERROR);
    const DWORD low = SetFilePointer(to_handle(handle), static_cast<LONG>(static_cast<uint32_t>(bits)),
                                     &high, method);
    // INVALID_SET_FILE_POINTER is also a valid low half; only the error code tells them apart.
    if (low == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR) {
        return false;
    }
    position = static_cast<int64_t>((static_cast<uint64_t>(static_cast<uint32_t>(high)) << 32) | low);
    return true;
}

bool file_size(NativeHandle handle, int64_t& size)
{
    if (!valid(handle)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    DWORD high = 0;
    SetLastError(NO_ERROR);
    const DWORD low = GetFileSize(to_handle(handle), &high);
    if (low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) {
        return false;
    }
    size = static_cast<int64_t>((static_cast<uint64_t>(high) << 32) | low);
    return true;
}

bool is_pipe_or_device(NativeHandle handle)
{
    if (!valid(handle)) {
        return false;
    }
    const DWORD type = GetFileType(to_handle(handle));
    return type == FILE_TYPE_PIPE || type == FILE_TYPE_CHAR;
}

PathKind path_kind(const std::string& path)
{
    if (!path_usable(path)) {
        return PathKind::missing;
    }
    if (has_pipe_prefix(path)) {
        // Opening a pipe to look at it would take an instance from its real reader; asking
        // whether an instance exists does not.
        if (WaitNamedPipeA(path.c_str(), 1) || GetLastError() == ERROR_SEM_TIMEOUT) {
            return PathKind::pipe_or_device;
        }
        return PathKind::missing;
    }
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        return PathKind::missing;
    }
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return PathKind::directory;
    }
    if ((attributes & FILE_ATTRIBUTE_DEVICE) != 0) {
        return PathKind::pipe_or_device;
    }
    return PathKind::regular;
}

bool delete_file(const std::string& path) { return path_usable(path) && DeleteFileA(path.c_str()); }

bool same_file(const std::string& a, const std::string& b)
{
    // Identity: volume serial number and file index, as the file system keeps them.
    auto identify = [](const std::string& path, BY_HANDLE_FILE_INFORMATION& info) {
        if (!path_usable(path) || has_pipe_prefix(path)) {
            return false;
        }
        HANDLE handle = CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        if (handle == INVALID_HANDLE_VALUE) {
            return false;
        }
        const bool ok = GetFileInformationByHandle(handle, &info) != 0;
        CloseHandle(handle);
        return ok;
    };
    BY_HANDLE_FILE_INFORMATION info_a{};
    BY_HANDLE_FILE_INFORMATION info_b{};
    if (!identify(a, info_a) || !identify(b, info_b)) {
        return false;
    }
    return info_a.dwVolumeSerialNumber == info_b.dwVolumeSerialNumber &&
           info_a.nFileIndexHigh == info_b.nFileIndexHigh &&
           info_a.nFileIndexLow == info_b.nFileIndexLow;
}

NativeHandle standard_input() { return from_standard(STD_INPUT_HANDLE); }

NativeHandle standard_output() { return from_standard(STD_OUTPUT_HANDLE); }

bool names_console(std::string_view path)
{
    return path.size() == 3 && (path[0] | 0x20) == 'c' && (path[1] | 0x20) == 'o' &&
           (path[2] | 0x20) == 'n';
}

std::string named_pipe_path(const std::string& pipe_name) { return kPipePrefix + pipe_name; }

int last_error() { return static_cast<int>(GetLastError()); }

bool is_unreadable_memory_error(int code)
{
    return code == ERROR_NOACCESS || code == ERROR_INVALID_USER_BUFFER;
}

std::string error_text(int code)
{
    char buffer[512] = {};
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                  static_cast<DWORD>(code), 0, buffer, sizeof buffer, nullptr);
    while (length > 0 && (buffer[length - 1] == '\r' || buffer[length - 1] == '\n' ||
                          buffer[length - 1] == ' ' || buffer[length - 1] == '.')) {
        --length;  // the system's text ends in ".\r\n"; callers add their own line end
    }
    if (length == 0) {
        return "error " + std::to_string(code);
    }
    return std::string(buffer, length);
}

size_t max_path_length() { return kMaxPathLength; }

}  // namespace qv::platform
