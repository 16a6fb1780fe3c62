#include "support/exported_names.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "support/test_data.h"

namespace qv::test {
namespace {

/// Little-endian reads that fail (return false) past the end of the file.
class Image {
public:
    explicit Image(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) {}
    size_t size() const { return bytes_.size(); }
    bool u16(uint64_t at, uint32_t& value) const { return read(at, 2, value); }
    bool u32(uint64_t at, uint32_t& value) const { return read(at, 4, value); }
    bool u64(uint64_t at, uint64_t& value) const
    {
        uint32_t low = 0;
        uint32_t high = 0;
        if (!read(at, 4, low) || !read(at + 4, 4, high)) {
            return false;
        }
        value = (uint64_t{high} << 32) | low;
        return true;
    }
    bool text(uint64_t at, std::string& value) const
    {
        if (at >= bytes_.size()) {
            return false;
        }
        const auto* start = bytes_.data() + at;
        const auto* end = static_cast<const uint8_t*>(std::memchr(start, 0, bytes_.size() - at));
        if (end == nullptr) {
            return false;
        }
        value.assign(reinterpret_cast<const char*>(start), static_cast<size_t>(end - start));
        return true;
    }
    const uint8_t* data() const { return bytes_.data(); }

private:
    bool read(uint64_t at, unsigned count, uint32_t& value) const
    {
        if (at > bytes_.size() || bytes_.size() - at < count) {
            return false;
        }
        value = 0;
        for (unsigned i = 0; i < count; ++i) {
            value |= uint32_t{bytes_[at + i]} << (8 * i);
        }
        return true;
    }

    std::vector<uint8_t> bytes_;
};

/// Defined global (or weak) functions with default visibility in .dynsym.
bool elf_names(const Image& image, std::vector<std::string>& names)
{
    const bool wide = image.data()[4] == 2;
    uint64_t section_offset = 0;
    uint32_t entry_size = 0;
    uint32_t count = 0;
    if (wide) {
        if (!image.u64(0x28, section_offset) || !image.u16(0x3A, entry_size) ||
            !image.u16(0x3C, count)) {
            return false;
        }
    } else {
        uint32_t offset32 = 0;
        if (!image.u32(0x20, offset32) || !image.u16(0x2E, entry_size) || !image.u16(0x30, count)) {
            return false;
        }
        section_offset = offset32;
    }
    auto section = [&](uint32_t index, uint32_t& type, uint64_t& offset, uint64_t& size,
                       uint32_t& link, uint64_t& item) {
        const uint64_t at = section_offset + uint64_t{index} * entry_size;
        uint32_t value = 0;
        if (wide) {
            return image.u32(at + 4, type) && image.u64(at + 0x18, offset) &&
                   image.u64(at + 0x20, size) && image.u32(at + 0x28, link) &&
                   image.u64(at + 0x38, item);
        }
        bool ok = image.u32(at + 4, type) && image.u32(at + 0x10, value);
        offset = value;
        ok = ok && image.u32(at + 0x14, value);
        size = value;
        ok = ok && image.u32(at + 0x18, link) && image.u32(at + 0x24, value);
        item = value;
        return ok;
    };
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t type = 0;
        uint32_t link = 0;
        uint64_t offset = 0;
        uint64_t size = 0;
        uint64_t item = 0;
        if (!section(i, type, offset, size, link, item)) {
            return false;
        }
        if (type != 11 || item == 0) {  // SHT_DYNSYM
            continue;
        }
        uint32_t string_type = 0;
        uint32_t string_link = 0;
        uint64_t strings = 0;
        uint64_t string_size = 0;
        uint64_t string_item = 0;
        if (!section(link, string_type, strings, string_size, string_link, string_item)) {
            return false;
        }
        for (uint64_t at = offset + item; at + item <= offset + size; at += item) {
            uint32_t name = 0;
            uint32_t info = 0;
            uint32_t other = 0;
            uint32_t index = 0;
            const bool ok =
                wide ? image.u32(at, name) && image.u16(at + 4, info) && image.u16(at + 6, index)
                     : image.u32(at, name) && image.u16(at + 12, info) && image.u16(at + 14, index);
            if (!ok) {
                return false;
            }
            other = (info >> 8) & 0xFF;  // st_other follows st_info
            info &= 0xFF;
            const uint32_t binding = info >> 4;
            const uint32_t kind = info & 0x0F;
            const bool defined = index != 0;
            if (defined && kind == 2 && (binding == 1 || binding == 2) && (other & 3) == 0) {
                std::string text;
                if (!image.text(strings + name, text)) {
                    return false;
                }
                // The start and end routines the link editor adds to every library.
                if (text != "_init" && text != "_fini") {
                    names.push_back(text);
                }
            }
        }
    }
    return true;
}

bool pe_names(const Image& image, std::vector<std::string>& names)
{
    uint32_t header = 0;
    uint32_t magic = 0;
    uint32_t sections = 0;
    uint32_t optional_size = 0;
    if (!image.u32(0x3C, header) || !image.u16(header + 6, sections) ||
        !image.u16(header + 20, optional_size) || !image.u16(header + 24, magic)) {
        return false;
    }
    const uint64_t optional = header + 24;
    const uint64_t directories = optional + (magic == 0x20B ? 112 : 96);
    uint32_t export_rva = 0;
    if (!image.u32(directories, export_rva)) {
        return false;
    }
    if (export_rva == 0) {
        return true;
    }
    const uint64_t section_table = optional + optional_size;
    auto file_offset = [&](uint32_t rva, uint64_t& offset) {
        for (uint32_t i = 0; i < sections; ++i) {
            const uint64_t at = section_table + uint64_t{i} * 40;
            uint32_t virtual_size = 0;
            uint32_t address = 0;
            uint32_t raw = 0;
            if (!image.u32(at + 8, virtual_size) || !image.u32(at + 12, address) ||
                !image.u32(at + 20, raw)) {
                return false;
            }
            if (rva >= address && rva < address + virtual_size) {
                offset = uint64_t{raw} + (rva - address);
                return true;
            }
        }
        return false;
    };
    uint64_t directory = 0;
    uint32_t count = 0;
    uint32_t table_rva = 0;
    uint64_t table = 0;
    if (!file_offset(export_rva, directory) || !image.u32(directory + 24, count) ||
        !image.u32(directory + 32, table_rva) || !file_offset(table_rva, table)) {
        return false;
    }
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t name_rva = 0;
        uint64_t name = 0;
        std::string text;
        if (!image.u32(table + 4 * uint64_t{i}, name_rva) || !file_offset(name_rva, name) ||
            !image.text(name, text)) {
            return false;
        }
        names.push_back(text);
    }
    return true;
}

}  // namespace

bool exported_names(const std::string& path, std::vector<std::string>& names)
{
    names.clear();
    const Image image(read_whole_file(path));
    bool ok = false;
    if (image.size() > 0x40 && std::memcmp(image.data(),
                                           "\x7F"
                                           "ELF",
                                           4) == 0) {
        ok = elf_names(image, names);
    } else if (image.size() > 0x40 && image.data()[0] == 'M' && image.data()[1] == 'Z') {
        ok = pe_names(image, names);
    }
    std::sort(names.begin(), names.end());
    return ok;
}

}  // namespace qv::test
