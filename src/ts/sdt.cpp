// The SDT handler: service ids and the provider and service names of the first six services.
#include <string>

#include "base/console_output.h"
#include "arib/arib_text_decoder.h"
#include "ts/section_assembly.h"
#include "ts/si_tables.h"

namespace qv {
namespace {

// table_id through the reserved byte after original_network_id (ARIB STD-B10 Part 2 5.2.6).
constexpr size_t kSdtHeaderSize = 11;
constexpr uint8_t kServiceDescriptorTag = 0x48;

/// Decodes one name field into its slot from a fresh designation state; an empty result leaves
/// the slot as it was.
void take_name(AribTextState& slot, ByteCursor field)
{
    size_t length = remaining(field);
    if (length == 0) {
        return;
    }
    reset_designations(slot);
    std::string text = decode_arib_text(field.pos, static_cast<uint32_t>(length), slot);
    if (!text.empty()) {
        slot.track_changes = true;
        store_text(slot, text);
    }
}

void take_service_descriptors(ServiceTable& services, size_t index, ByteCursor descriptors)
{
    while (remaining(descriptors) >= 2 && stop_requested.load() == 0) {
        uint8_t tag = read_u8(descriptors);
        uint8_t length = read_u8(descriptors);
        ByteCursor body = take_cursor(descriptors, length);
        if (!descriptors.ok) {
            return;
        }
        if (tag != kServiceDescriptorTag || length <= 2) {
            continue;
        }
        read_u8(body);  // service_type
        ByteCursor provider = take_cursor(body, read_u8(body));
        if (!body.ok) {
            continue;
        }
        take_name(services.provider_names[index], provider);
        ByteCursor name = take_cursor(body, read_u8(body));
        if (body.ok) {
            take_name(services.service_names[index], name);
        }
    }
}

}  // namespace

bool parse_sdt(StreamContext& context, PidState& state, const uint8_t* packet, ByteBuffer* copy)
{
    if (state.pid != kSdtPid) {
        return false;
    }
    SectionStatus status = collect_section(state, packet, kSdtActualTableId);
    if (status == SectionStatus::in_progress) {
        return true;
    }
    if (status != SectionStatus::complete) {
        return false;
    }
    if (copy != nullptr) {
        copy->track_changes = true;
        store_bytes(*copy, state.section_buffer.data(), state.section_buffer.size());
    }

    ServiceTable& services = context.services;
    services.service_count = 0;
    ByteCursor body = section_body(state);
    skip_bytes(body, kSdtHeaderSize);
    while (remaining(body) > 0 && stop_requested.load() == 0) {
        uint16_t service_id = read_u16(body);
        read_u8(body);  // EIT flags
        uint16_t loop_length = read_u16(body) & 0x0FFF;
        ByteCursor descriptors = take_cursor(body, loop_length);
        if (!body.ok) {
            break;  // the service runs into the CRC_32
        }
        if (services.service_count >= kMaxServices) {
            continue;
        }
        size_t index = services.service_count;
        services.service_ids[index] = service_id;
        take_service_descriptors(services, index, descriptors);
        services.service_count += 1;
    }
    reset_section(state);
    return true;
}

}  // namespace qv
