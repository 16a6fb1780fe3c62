// The IBonDriver2 view of a driver object on Windows. Drivers are built with Microsoft's
// compiler, whose run-time type information MinGW's dynamic_cast cannot read, so it is read here:
// the table of virtual functions is preceded by a pointer to its complete object locator, which
// leads to the class hierarchy descriptor and the list of base classes with their names and
// places in the object. Every read stays inside a section (or the headers) of the module that
// holds the table; anything absent, out of bounds or malformed means no view.
#include "platform/tuner_driver.h"

#include <windows.h>

#include <cstring>
#include <string_view>
#include <vector>

namespace qv::platform {
namespace {

/// Names of the two interfaces in the type descriptors (class or struct).
constexpr std::string_view kInterfaceNames[2][2] = {
    {".?AVIBonDriver@@", ".?AUIBonDriver@@"},
    {".?AVIBonDriver2@@", ".?AUIBonDriver2@@"},
};
constexpr uint32_t kMaxBaseClasses = 64;
constexpr size_t kMaxNameLength = 256;
/// The locator's signature: 1 where it refers by offsets from the image base (64-bit), 0 where
/// it holds pointers (32-bit).
constexpr bool kRelative = sizeof(void*) == 8;

/// The readable parts of one loaded module: its headers and its sections, as address ranges.
class ModuleImage {
public:
    /// The module that holds `address`; false when there is none or its headers are malformed.
    bool load(const void* address)
    {
        HMODULE module = nullptr;
        if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                    GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                                static_cast<LPCSTR>(address), &module) ||
            module == nullptr) {
            return false;
        }
        base_ = reinterpret_cast<uintptr_t>(module);
        ranges_.clear();
        // The headers lie in the first page, which every module has.
        ranges_.push_back({base_, base_ + 4096});
        IMAGE_DOS_HEADER dos;
        if (!copy(base_, &dos, sizeof dos) || dos.e_magic != IMAGE_DOS_SIGNATURE ||
            dos.e_lfanew <= 0) {
            return false;
        }
        const uintptr_t nt = base_ + static_cast<uintptr_t>(dos.e_lfanew);
        DWORD signature = 0;
        IMAGE_FILE_HEADER file;
        if (!copy(nt, &signature, sizeof signature) || signature != IMAGE_NT_SIGNATURE ||
            !copy(nt + 4, &file, sizeof file)) {
            return false;
        }
        const uintptr_t sections = nt + 4 + sizeof file + file.SizeOfOptionalHeader;
        std::vector<std::pair<uintptr_t, uintptr_t>> found;
        for (WORD i = 0; i < file.NumberOfSections; ++i) {
            IMAGE_SECTION_HEADER section;
            if (!copy(sections + i * sizeof section, &section, sizeof section)) {
                return false;
            }
            const DWORD size = section.Misc.VirtualSize > section.SizeOfRawData
                                   ? section.Misc.VirtualSize
                                   : section.SizeOfRawData;
            if ((section.Characteristics & IMAGE_SCN_MEM_READ) != 0 && size > 0) {
                found.push_back(
                    {base_ + section.VirtualAddress, base_ + section.VirtualAddress + size});
            }
        }
        ranges_.insert(ranges_.end(), found.begin(), found.end());
        return true;
    }

    uintptr_t base() const { return base_; }

    /// Copies `size` bytes at `address` when they lie inside one readable range.
    bool copy(uintptr_t address, void* out, size_t size) const
    {
        for (const auto& range : ranges_) {
            if (address >= range.first && address <= range.second &&
                range.second - address >= size) {
                std::memcpy(out, reinterpret_cast<const void*>(address), size);
                return true;
            }
        }
        return false;
    }
    bool u32(uintptr_t address, uint32_t& value) const
    {
        return copy(address, &value, sizeof value);
    }
    bool pointer(uintptr_t address, uintptr_t& value) const
    {
        return copy(address, &value, sizeof value);
    }
    /// A reference in the type information: an offset from the image base (64-bit) or a 32-bit
    /// pointer (32-bit); both are four bytes.
    bool reference(uintptr_t address, uintptr_t& value) const
    {
        uint32_t raw = 0;
        if (!u32(address, raw) || raw == 0) {
            return false;
        }
        value = kRelative ? base_ + raw : static_cast<uintptr_t>(raw);
        return true;
    }
    /// The NUL-terminated name at `address`, when it ends within the bounds.
    bool name(uintptr_t address, std::string_view& text) const
    {
        for (const auto& range : ranges_) {
            if (address >= range.first && address < range.second) {
                const size_t room = range.second - address;
                const char* start = reinterpret_cast<const char*>(address);
                const size_t limit = room < kMaxNameLength ? room : kMaxNameLength;
                const void* end = std::memchr(start, 0, limit);
                if (end == nullptr) {
                    return false;
                }
                text = std::string_view(start, static_cast<const char*>(end) - start);
                return true;
            }
        }
        return false;
    }

private:
    uintptr_t base_ = 0;
    std::vector<std::pair<uintptr_t, uintptr_t>> ranges_;
};

/// Which interface the type descriptor at `descriptor` names: 0, 1, or -1 for neither.
int interface_named(const ModuleImage& image, uintptr_t descriptor)
{
    std::string_view text;
    // The descriptor holds the type_info table pointer and a spare pointer, then the name.
    if (!image.name(descriptor + 2 * sizeof(void*), text)) {
        return -1;
    }
    for (int which = 0; which < 2; ++which) {
        if (text == kInterfaceNames[which][0] || text == kInterfaceNames[which][1]) {
            return which;
        }
    }
    return -1;
}

}  // namespace

IBonDriver2* bon_driver2_view(IBonDriver* driver)
{
    if (driver == nullptr) {
        return nullptr;
    }
    const uintptr_t table = *reinterpret_cast<const uintptr_t*>(driver);
    ModuleImage image;
    uintptr_t locator = 0;
    if (table == 0 || !image.load(reinterpret_cast<const void*>(table)) ||
        !image.pointer(table - sizeof(void*), locator)) {
        return nullptr;
    }
    // Complete object locator: signature, offset of this table's pointer in the complete object,
    // constructor displacement, type descriptor, class hierarchy descriptor (and, 64-bit, its own
    // offset from the image base).
    uint32_t signature = 0;
    uint32_t offset = 0;
    uintptr_t hierarchy = 0;
    if (!image.u32(locator, signature) || signature != (kRelative ? 1u : 0u) ||
        !image.u32(locator + 4, offset) || !image.reference(locator + 16, hierarchy)) {
        return nullptr;
    }
    uint32_t self = 0;
    if (kRelative && (!image.u32(locator + 20, self) || image.base() + self != locator)) {
        return nullptr;
    }
    // Class hierarchy descriptor: signature, attributes, number of bases, array of base class
    // descriptors (the class itself first).
    uint32_t base_count = 0;
    uintptr_t bases = 0;
    if (!image.u32(hierarchy + 8, base_count) || base_count == 0 || base_count > kMaxBaseClasses ||
        !image.reference(hierarchy + 12, bases)) {
        return nullptr;
    }
    bool given_is_base = false;
    bool found_extension = false;
    int32_t extension_place = 0;
    for (uint32_t i = 0; i < base_count; ++i) {
        // Base class descriptor: type descriptor, contained bases, then where the base lies:
        // displacement in the object, and -1 unless it is reached through a virtual base.
        uintptr_t descriptor = 0;
        uintptr_t type = 0;
        int32_t place[2] = {0, 0};
        if (!image.reference(bases + 4 * i, descriptor) || !image.reference(descriptor, type) ||
            !image.copy(descriptor + 8, place, sizeof place)) {
            return nullptr;
        }
        const int which = interface_named(image, type);
        if (which < 0 || place[1] != -1) {
            continue;
        }
        if (which == 0 && place[0] == static_cast<int32_t>(offset)) {
            given_is_base = true;
        } else if (which == 1 && !found_extension) {
            found_extension = true;
            extension_place = place[0];
        }
    }
    // The pointer must be the object's IBonDriver part, and the object must derive from
    // IBonDriver2 without a virtual base.
    if (!given_is_base || !found_extension) {
        return nullptr;
    }
    auto* complete = reinterpret_cast<uint8_t*>(driver) - offset;
    return reinterpret_cast<IBonDriver2*>(complete + extension_place);
}

}  // namespace qv::platform
