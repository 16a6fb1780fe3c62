// The process and its surroundings on Windows: module path, GetTempPathA, FindFirstFileA and the
// executable's version resource.
#include "platform/environment.h"

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/file.h"

namespace qv::platform {

namespace {

// CP932 lead bytes: the byte after one is a trail byte and may look like '\\' or '?'.
bool is_lead_byte(unsigned char c) { return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC); }

size_t character_length(const std::string& text, size_t at)
{
    return is_lead_byte(static_cast<unsigned char>(text[at])) && at + 1 < text.size() ? 2 : 1;
}

char fold_ascii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// Matches `name` against `pattern` character by character (a double-byte character is one), with
// `*` for any run and `?` for exactly one character, ignoring the case of ASCII letters as the file
// system does. FindFirstFileA alone also matches the short 8.3 aliases of names and lets `?`
// match nothing at the end; the sweep of temporary files must not delete what it did not name.
bool wildcard_match(const std::string& pattern, const std::string& name)
{
    size_t p = 0;
    size_t n = 0;
    size_t star_p = std::string::npos;  // position after the last '*' seen
    size_t star_n = 0;                  // where in `name` that '*' resumes
    while (n < name.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            star_p = ++p;
            star_n = n;
            continue;
        }
        if (p < pattern.size()) {
            const size_t pl = character_length(pattern, p);
            const size_t nl = character_length(name, n);
            bool same = false;
            if (pl == 1 && pattern[p] == '?') {
                same = true;
            } else if (pl == nl) {
                same = pl == 1 ? fold_ascii(pattern[p]) == fold_ascii(name[n])
                               : pattern.compare(p, pl, name, n, nl) == 0;
            }
            if (same) {
                p += pl;
                n += nl;
                continue;
            }
        }
        if (star_p == std::string::npos) {
            return false;
        }
        p = star_p;
        star_n += character_length(name, star_n);
        n = star_n;
    }
    while (p < pattern.size() && pattern[p] == '*') {
        ++p;
    }
    return p == pattern.size();
}

bool ends_with_separator(const std::string& path)
{
    if (path.empty()) {
        return false;
    }
    // Walk by characters so that a trail byte 0x5C is not taken for a separator.
    size_t last = 0;
    for (size_t i = 0; i < path.size(); i += character_length(path, i)) {
        last = i;
    }
    return character_length(path, last) == 1 && is_path_separator(path[last]);
}

}  // namespace

std::string executable_path()
{
    std::vector<char> buffer(MAX_PATH);
    for (;;) {
        const DWORD length = GetModuleFileNameA(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) {
            return {};
        }
        if (length < buffer.size()) {
            return std::string(buffer.data(), length);
        }
        buffer.resize(buffer.size() * 2);  // cut short: try again with room to spare
    }
}

std::string temp_directory()
{
    char buffer[MAX_PATH + 1] = {};
    const DWORD length = GetTempPathA(sizeof buffer, buffer);
    if (length == 0 || length >= sizeof buffer) {
        return {};
    }
    std::string directory(buffer, length);
    if (!ends_with_separator(directory)) {
        directory += '\\';
    }
    return directory;
}

bool environment_value(const char* name, std::string& value)
{
    const DWORD needed = GetEnvironmentVariableA(name, nullptr, 0);
    if (needed == 0) {
        return false;
    }
    std::string buffer(needed, '\0');
    const DWORD length = GetEnvironmentVariableA(name, buffer.data(), needed);
    if (length == 0 || length >= needed) {
        return false;
    }
    buffer.resize(length);
    value = buffer;
    return true;
}

char path_separator() { return '\\'; }

bool is_path_separator(char c) { return c == '\\' || c == '/'; }

bool find_in_directory(const std::string& directory, const std::string& pattern,
                       const std::function<void(const DirectoryEntry&)>& found)
{
    if (directory.empty() || pattern.empty()) {
        return false;
    }
    std::string query = directory;
    if (!ends_with_separator(query)) {
        query += '\\';
    }
    query += pattern;
    if (query.size() > max_path_length()) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return false;
    }
    WIN32_FIND_DATAA data{};
    HANDLE search = FindFirstFileA(query.c_str(), &data);
    if (search == INVALID_HANDLE_VALUE) {
        // No match in a directory that exists is an empty result, not a failure.
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_NO_MORE_FILES;
    }
    do {
        const std::string name = data.cFileName;
        if (!wildcard_match(pattern, name)) {
            continue;
        }
        DirectoryEntry entry;
        entry.name = name;
        entry.is_directory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        entry.last_write = (static_cast<uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) |
                           data.ftLastWriteTime.dwLowDateTime;
        entry.size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
        found(entry);
    } while (FindNextFileA(search, &data));
    FindClose(search);
    return true;
}

int exit_status(int32_t total) { return total; }

bool read_version_string(const char* key, std::string& value)
{
    value.clear();
    if (key == nullptr || *key == '\0') {
        return false;
    }
    const std::string module = executable_path();
    if (module.empty()) {
        return false;
    }
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeA(module.c_str(), &ignored);
    if (size == 0) {
        return false;
    }
    std::vector<char> block(size);
    if (!GetFileVersionInfoA(module.c_str(), 0, size, block.data())) {
        return false;
    }
    // The first language and code page pair names the string table to read.
    struct Translation {
        WORD language;
        WORD code_page;
    };
    void* pointer = nullptr;
    UINT length = 0;
    if (!VerQueryValueA(block.data(), "\\VarFileInfo\\Translation", &pointer, &length) ||
        pointer == nullptr || length < sizeof(Translation)) {
        return false;
    }
    Translation first{};
    memcpy(&first, pointer, sizeof first);
    char query[256] = {};
    const int written = snprintf(query, sizeof query, "\\StringFileInfo\\%04x%04x\\%s", first.language,
                                 first.code_page, key);
    if (written <= 0 || static_cast<size_t>(written) >= sizeof query) {
        return false;
    }
    pointer = nullptr;
    length = 0;
    if (!VerQueryValueA(block.data(), query, &pointer, &length) || pointer == nullptr || length == 0) {
        return false;
    }
    // `length` counts the UTF-16 characters of the stored string; its CP932 copy may need more
    // bytes, so the copy is read up to its terminating zero, bounded by the block.
    const char* text = static_cast<const char*>(pointer);
    const char* block_end = block.data() + block.size();
    if (text < block.data() || text >= block_end) {
        return false;
    }
    value.assign(text, strnlen(text, static_cast<size_t>(block_end - text)));
    return !value.empty();
}

}  // namespace qv::platform
