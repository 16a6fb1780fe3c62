// Dynamic libraries on POSIX: dlopen, dlsym, dlclose.
#include "platform/library.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cerrno>

#include "platform/environment.h"

namespace qv::platform {

namespace {

LibraryHandle open_library(const std::string& path)
{
    errno = 0;
    LibraryHandle library = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr && errno == 0) {
        // dlopen reports through dlerror(); a file that was found but could not be loaded (wrong
        // format, missing symbol) leaves no errno behind.
        errno = ENOEXEC;
    }
    return library;
}

}  // namespace

LibraryHandle load_library(const std::string& path)
{
    if (path.empty()) {
        errno = ENOENT;
        return nullptr;
    }
    if (path.find('/') != std::string::npos) {
        return open_library(path);
    }
    // A bare name is looked for as Windows looks for a DLL: beside the executable first, then
    // the loader's own search (LD_LIBRARY_PATH, the cache, the system directories), then the
    // current directory, where setup's checks found the file; dlopen alone never looks there.
    const std::string executable = executable_path();
    const size_t slash = executable.rfind('/');
    if (slash != std::string::npos) {
        const std::string beside = executable.substr(0, slash + 1) + path;
        if (::access(beside.c_str(), F_OK) == 0) {
            return open_library(beside);
        }
    }
    LibraryHandle library = open_library(path);
    const std::string here = "./" + path;
    if (library == nullptr && ::access(here.c_str(), F_OK) == 0) {
        library = open_library(here);
    }
    return library;
}

void* find_symbol(LibraryHandle library, const char* name)
{
    if (library == nullptr || name == nullptr) {
        return nullptr;
    }
    return ::dlsym(library, name);
}

void free_library(LibraryHandle& library)
{
    if (library != nullptr) {
        ::dlclose(library);
        library = nullptr;
    }
}

const char* default_sender_library_name()
{
    return "libSendTSTCP.so";
}

}  // namespace qv::platform
