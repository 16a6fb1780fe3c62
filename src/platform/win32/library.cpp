// Dynamic libraries on Windows: LoadLibraryA, GetProcAddress, FreeLibrary.
#include "platform/library.h"

#include <windows.h>

#include "platform/file.h"

namespace qv::platform {

LibraryHandle load_library(const std::string& path)
{
    if (path.empty()) {
        SetLastError(ERROR_INVALID_NAME);
        return nullptr;
    }
    if (path.size() > max_path_length()) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return nullptr;
    }
    // No "cannot find DLL" message box from the system: a missing driver is reported by the
    // caller on the console.
    const UINT previous = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    HMODULE module = LoadLibraryA(path.c_str());
    const DWORD error = GetLastError();
    SetErrorMode(previous);
    SetLastError(error);
    return reinterpret_cast<LibraryHandle>(module);
}

void* find_symbol(LibraryHandle library, const char* name)
{
    if (library == nullptr || name == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

void free_library(LibraryHandle& library)
{
    if (library != nullptr) {
        FreeLibrary(static_cast<HMODULE>(library));
    }
    library = nullptr;
}

const char* default_sender_library_name() { return "SendTSTCP.dll"; }

}  // namespace qv::platform
