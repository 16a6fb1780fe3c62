// Files, FIFOs and the standard streams on POSIX: plain file descriptors.
#ifndef _FILE_OFFSET_BITS
#define _FILE_OFFSET_BITS 64  // 64-bit offsets on 32-bit builds as well
#endif
#include "platform/file.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <limits>

#include "platform/environment.h"
#include "platform/posix/console_events.h"

namespace qv::platform {

namespace {

#ifdef O_LARGEFILE
constexpr int kLargeFile = O_LARGEFILE;
#else
constexpr int kLargeFile = 0;
#endif

constexpr mode_t kNewFileMode = 0644;  // the umask takes its share
constexpr int kWaitSliceMs = 100;      // how soon a waiting read or write notices a console event

bool valid(NativeHandle handle)
{
    return handle >= 0 && handle <= std::numeric_limits<int>::max();
}

int to_fd(NativeHandle handle)
{
    return static_cast<int>(handle);
}

NativeHandle open_path(const std::string& path, int flags)
{
    // An open of a FIFO for writing blocks until a reader appears; a console event ends that wait.
    const uint32_t events_before = posix::console_event_count();
    int fd = -1;
    do {
        fd = ::open(path.c_str(), flags | O_CLOEXEC | kLargeFile, kNewFileMode);
    } while (fd < 0 && errno == EINTR && posix::console_event_count() == events_before);
    if (fd < 0) {
        return kClosedHandle;
    }
    // Like the Windows file API, a directory is not a file that can be opened for data.
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        ::close(fd);
        errno = EISDIR;
        return kClosedHandle;
    }
    if ((flags & O_NONBLOCK) != 0) {
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);  // reads block again
    }
    return fd;
}

// Waits until the descriptor has data, end of data or an error to report, in slices, and gives up
// when a console event has been accepted since `events_before`: a worker blocked on a silent pipe
// or terminal would otherwise never see the stop request, whichever thread the signal reached.
bool wait_readable(int fd, uint32_t events_before)
{
    for (;;) {
        if (posix::console_event_count() != events_before) {
            return false;
        }
        struct pollfd input {};
        input.fd = fd;
        input.events = POLLIN;
        const int ready = ::poll(&input, 1, kWaitSliceMs);
        if (ready > 0 || (ready < 0 && errno != EINTR)) {
            return true;  // let read(2) report what there is, errors included
        }
    }
}

}  // namespace

NativeHandle open_for_reading(const std::string& path)
{
    // Without O_NONBLOCK the open of a FIFO would wait for a writer where no stop request can
    // reach it; read_file waits for the writer instead (a FIFO that never had a writer polls as
    // not ready, one whose writer left as hung up).
    return open_path(path, O_RDONLY | O_NONBLOCK);
}

NativeHandle create_for_writing(const std::string& path)
{
    return open_path(path, O_WRONLY | O_CREAT | O_TRUNC);
}

NativeHandle open_for_appending(const std::string& path)
{
    // O_NONBLOCK makes the open of a FIFO without a reader fail (ENXIO) instead of waiting for
    // one; open_path makes the descriptor blocking again for the writes.
    return open_path(path, O_WRONLY | O_CREAT | O_APPEND | O_NONBLOCK);
}

void close_handle(NativeHandle& handle)
{
    // Descriptors 0 to 2 belong to the process, not to whoever was handed them as "CON": closing
    // them would let the next opened file take their number and receive console text.
    if (valid(handle) && handle > STDERR_FILENO) {
        ::close(to_fd(handle));  // not retried on EINTR: Linux has released the descriptor anyway
    }
    handle = kClosedHandle;
}

IoStatus read_file(NativeHandle handle, void* data, size_t size, size_t& got)
{
    got = 0;
    if (!valid(handle)) {
        errno = EBADF;
        return IoStatus::failed;
    }
    const uint32_t events_before = posix::console_event_count();
    for (;;) {
        if (!wait_readable(to_fd(handle), events_before)) {
            return IoStatus::ok;  // stopped: no data, as at the end of the input
        }
        const ssize_t n = ::read(to_fd(handle), data, size);
        if (n >= 0) {
            got = static_cast<size_t>(n);
            return IoStatus::ok;
        }
        // EAGAIN: a descriptor another process made non-blocking had nothing after all.
        if (errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK) {
            return IoStatus::failed;
        }
    }
}

IoStatus read_regular_file(NativeHandle handle, void* data, size_t size, size_t& got)
{
    got = 0;
    if (!valid(handle)) {
        errno = EBADF;
        return IoStatus::failed;
    }
    for (;;) {
        const ssize_t n = ::read(to_fd(handle), data, size);
        if (n >= 0) {
            got = static_cast<size_t>(n);
            return IoStatus::ok;
        }
        if (errno != EINTR) {
            return IoStatus::failed;
        }
    }
}

bool write_file(NativeHandle handle, const void* data, size_t size, size_t& written)
{
    written = 0;
    if (!valid(handle)) {
        errno = EBADF;
        return false;
    }
    const uint32_t events_before = posix::console_event_count();
    const auto* bytes = static_cast<const uint8_t*>(data);
    while (written < size) {
        const ssize_t n = ::write(to_fd(handle), bytes + written, size - written);
        if (n > 0) {
            written += static_cast<size_t>(n);
            continue;
        }
        const bool stopped = posix::console_event_count() != events_before;
        if (n < 0 && errno == EINTR && !stopped) {
            continue;  // a reader that stopped reading must not hold the writer past Ctrl+C
        }
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) && !stopped) {
            // Standard output may share a non-blocking open file with another process: wait
            // for room instead of losing the bytes.
            struct pollfd output {};
            output.fd = to_fd(handle);
            output.events = POLLOUT;
            ::poll(&output, 1, kWaitSliceMs);
            continue;
        }
        if (n == 0) {
            errno = EIO;
        }
        return false;
    }
    return true;
}

bool write_file_pair(NativeHandle handle, const void* first, size_t first_size, const void* second,
                     size_t second_size, size_t& written)
{
    written = 0;
    if (!valid(handle)) {
        errno = EBADF;
        return false;
    }
    ssize_t n = -1;
    if (first_size > 0 && second_size > 0) {
        struct iovec parts[2] = {{const_cast<void*>(first), first_size},
                                 {const_cast<void*>(second), second_size}};
        n = ::writev(to_fd(handle), parts, 2);
    }
    // What one call left (or an interrupted or refused call) goes through write_file, which
    // retries and reports as it always does.
    size_t done = n > 0 ? static_cast<size_t>(n) : 0;
    size_t more = 0;
    if (done < first_size) {
        const bool ok =
            write_file(handle, static_cast<const uint8_t*>(first) + done, first_size - done, more);
        done += more;
        if (!ok) {
            written = done;
            return false;
        }
    }
    const size_t second_done = done - first_size;
    const bool ok = write_file(handle, static_cast<const uint8_t*>(second) + second_done,
                               second_size - second_done, more);
    written = done + more;
    return ok;
}

bool seek_file(NativeHandle handle, int64_t offset, SeekOrigin origin, int64_t& position)
{
    if (!valid(handle)) {
        errno = EBADF;
        return false;
    }
    int whence = SEEK_SET;
    if (origin == SeekOrigin::current) {
        whence = SEEK_CUR;
    } else if (origin == SeekOrigin::end) {
        whence = SEEK_END;
    }
    static_assert(sizeof(off_t) == sizeof(int64_t), "64-bit file offsets are required");
    const off_t result = ::lseek(to_fd(handle), static_cast<off_t>(offset), whence);
    if (result < 0) {
        return false;
    }
    position = static_cast<int64_t>(result);
    return true;
}

bool file_size(NativeHandle handle, int64_t& size)
{
    if (!valid(handle)) {
        errno = EBADF;
        return false;
    }
    struct stat st {};
    if (::fstat(to_fd(handle), &st) != 0) {
        return false;
    }
    if (!S_ISBLK(st.st_mode)) {
        size = static_cast<int64_t>(st.st_size);
        return true;
    }
    // A block device reports no size in its status; its end position is its size.
    const off_t here = ::lseek(to_fd(handle), 0, SEEK_CUR);
    const off_t end = ::lseek(to_fd(handle), 0, SEEK_END);
    if (here < 0 || end < 0 || ::lseek(to_fd(handle), here, SEEK_SET) < 0) {
        return false;
    }
    size = static_cast<int64_t>(end);
    return true;
}

bool is_pipe_or_device(NativeHandle handle)
{
    struct stat st {};
    if (!valid(handle) || ::fstat(to_fd(handle), &st) != 0) {
        return false;
    }
    return S_ISFIFO(st.st_mode) || S_ISCHR(st.st_mode) || S_ISSOCK(st.st_mode);
}

PathKind path_kind(const std::string& path)
{
    struct stat st {};
    if (path.empty() || ::stat(path.c_str(), &st) != 0) {
        return PathKind::missing;
    }
    if (S_ISDIR(st.st_mode)) {
        return PathKind::directory;
    }
    if (S_ISFIFO(st.st_mode) || S_ISCHR(st.st_mode) || S_ISSOCK(st.st_mode)) {
        return PathKind::pipe_or_device;
    }
    return PathKind::regular;
}

bool delete_file(const std::string& path)
{
    return ::unlink(path.c_str()) == 0;
}

bool same_file(const std::string& a, const std::string& b)
{
    struct stat sa {};
    struct stat sb {};
    if (a.empty() || b.empty() || ::stat(a.c_str(), &sa) != 0 || ::stat(b.c_str(), &sb) != 0) {
        return false;
    }
    return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

NativeHandle standard_input()
{
    return STDIN_FILENO;
}

NativeHandle standard_output()
{
    return STDOUT_FILENO;
}

bool names_console(std::string_view path) { return path == "CON"; }

std::string named_pipe_path(const std::string& pipe_name)
{
    return temp_directory() + pipe_name;
}

int last_error()
{
    return errno;
}

bool is_unreadable_memory_error(int code) { return code == EFAULT; }

namespace {

// strerror_r comes in two shapes (XSI returns int, GNU returns the text); take either.
[[maybe_unused]] const char* pick_error_text(int result, const char* buffer)
{
    return result == 0 ? buffer : nullptr;
}
[[maybe_unused]] const char* pick_error_text(const char* result, const char*)
{
    return result;
}

}  // namespace

std::string error_text(int code)
{
    char buffer[256] = {};
    const char* text = pick_error_text(::strerror_r(code, buffer, sizeof buffer), buffer);
    if (text == nullptr || *text == '\0') {
        return "error " + std::to_string(code);
    }
    return text;
}

size_t max_path_length()
{
    return std::numeric_limits<size_t>::max();
}

}  // namespace qv::platform
