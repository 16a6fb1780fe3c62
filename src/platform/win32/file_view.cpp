// File views on Windows: not used. The reader reads the file, as it reads pipes; a mapped view
// would have to guard against in-page errors with structured exception handling around every
// packet walk.
#include "platform/file_view.h"

#include <windows.h>

namespace qv::platform {

size_t file_view_alignment() { return 0; }

bool map_file_view(NativeHandle, int64_t, size_t, FileView& view)
{
    view = FileView{};
    return false;
}

void unmap_file_view(FileView& view) { view = FileView{}; }

void populate_file_view(const uint8_t*, size_t) {}

bool file_view_damaged(const FileView&) { return false; }

int file_view_damage_error() { return ERROR_READ_FAULT; }

}  // namespace qv::platform
