// The process and its surroundings on POSIX: /proc/self/exe, $TMPDIR, directory search with an
// own wildcard matcher, and the contact-block strings compiled in from the build configuration.
#ifndef _FILE_OFFSET_BITS
#define _FILE_OFFSET_BITS 64  // sizes of large files on 32-bit builds as well
#endif
#include "platform/environment.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/posix/wildcard.h"

namespace qv::platform {

namespace {

// Seconds from 1601-01-01 (the FILETIME epoch) to 1970-01-01.
constexpr int64_t kFileTimeEpochOffsetSeconds = 11644473600;
constexpr uint64_t kFileTimeUnitsPerSecond = 10000000u;

uint64_t to_file_time(const struct timespec& when)
{
    const int64_t seconds = static_cast<int64_t>(when.tv_sec) + kFileTimeEpochOffsetSeconds;
    if (seconds < 0) {
        return 0;  // before 1601: no FILETIME for it
    }
    return static_cast<uint64_t>(seconds) * kFileTimeUnitsPerSecond +
           static_cast<uint64_t>(when.tv_nsec) / 100u;
}

}  // namespace

std::string executable_path()
{
    std::vector<char> buffer(256);
    for (;;) {
        const ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (n < 0) {
            return {};
        }
        if (static_cast<size_t>(n) < buffer.size()) {
            return std::string(buffer.data(), static_cast<size_t>(n));
        }
        buffer.resize(buffer.size() * 2);  // the link may have been cut: try again with more room
    }
}

std::string temp_directory()
{
    const char* from_environment = std::getenv("TMPDIR");
    std::string directory =
        from_environment != nullptr && *from_environment != '\0' ? from_environment : "/tmp";
    if (directory.back() != '/') {
        directory += '/';
    }
    return directory;
}

bool environment_value(const char* name, std::string& value)
{
    const char* found = std::getenv(name);
    if (found == nullptr) {
        return false;
    }
    value = found;
    return true;
}

char path_separator()
{
    return '/';
}

bool is_path_separator(char c)
{
    return c == '/';
}

bool find_in_directory(const std::string& directory, const std::string& pattern,
                       const std::function<void(const DirectoryEntry&)>& found)
{
    DIR* listing = ::opendir(directory.empty() ? "." : directory.c_str());
    if (listing == nullptr) {
        return false;
    }
    const int directory_fd = ::dirfd(listing);
    for (;;) {
        errno = 0;
        const dirent* item = ::readdir(listing);
        if (item == nullptr) {
            break;
        }
        if (!posix::wildcard_match(pattern, item->d_name)) {
            continue;
        }
        DirectoryEntry entry;
        entry.name = item->d_name;
        // The entry as a program sees it through the name: a link to a directory is a directory.
        // A dangling link is reported as itself.
        struct stat st {};
        if (::fstatat(directory_fd, item->d_name, &st, 0) == 0 ||
            ::fstatat(directory_fd, item->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0) {
            entry.is_directory = S_ISDIR(st.st_mode);
            entry.size = entry.is_directory ? 0 : static_cast<uint64_t>(st.st_size);
            entry.last_write = to_file_time(st.st_mtim);
        } else {
            continue;  // removed between listing and looking: no longer there
        }
        if (found) {
            found(entry);
        }
    }
    ::closedir(listing);
    return true;
}

int exit_status(int32_t total)
{
    constexpr int32_t kLargestStatus = 255;
    return total < 0 || total > kLargestStatus ? kLargestStatus : total;
}

bool read_version_string(const char* key, std::string& value)
{
    if (key == nullptr) {
        return false;
    }
    const char* text = nullptr;
    if (std::strcmp(key, "CompanyName") == 0) {
        text = QV_COMPANY_NAME;
    } else if (std::strcmp(key, "Comments") == 0) {
        text = QV_COMMENTS;
    }
    if (text == nullptr || *text == '\0') {
        return false;
    }
    value = text;
    return true;
}

}  // namespace qv::platform
