// Fuzz target: arbitrary packet sequences on the PSI/SI PIDs (PAT, SDT, EIT, TOT) and two PMT
// PIDs, dispatched the way a worker does, through both the parse-only and the rebuild paths of
// the PMT handler. Each 188-byte chunk of the input becomes one packet; a chunk may ask for its
// section to get a correct CRC_32 so that the table walks behind the CRC check are reached.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "base/byte_buffer.h"
#include "ts/crc32_mpeg2.h"
#include "ts/packetizer.h"
#include "ts/pat_pmt.h"
#include "ts/si_tables.h"
#include "ts/stream_context.h"

namespace {

constexpr uint16_t kPids[] = {0x0000, 0x0011, 0x0012, 0x0014, 0x01F0, 0x1FC8, 0x0026, 0x0027};
constexpr uint8_t kTableIds[] = {0x00, 0x42, 0x4E, 0x73, 0x02, 0x02, 0x4E, 0x4E};

/// Turns a chunk into a packet. Byte 1 picks the PID (low 3 bits) and the unit start (bit 6);
/// byte 4's top bit asks for a self-contained section with table_id, pointer_field 0 and CRC.
std::vector<uint8_t> make_packet(const uint8_t* chunk, size_t length)
{
    std::vector<uint8_t> packet(188, 0xFF);
    std::copy_n(chunk, std::min<size_t>(length, 188), packet.begin());
    size_t pick = packet[1] & 0x07;
    uint16_t pid = kPids[pick];
    packet[0] = 0x47;
    packet[1] = static_cast<uint8_t>((packet[1] & 0x40) | (pid >> 8));
    packet[2] = static_cast<uint8_t>(pid);
    if (packet[4] & 0x80) {
        packet[1] |= 0x40;
        packet[3] = static_cast<uint8_t>(0x10 | (packet[3] & 0x0F));
        packet[4] = 0;
        packet[5] = kTableIds[pick];
        size_t section_length = std::max<size_t>(packet[7] % 180, 9);
        packet[6] = static_cast<uint8_t>(0xB0 | (section_length >> 8));
        packet[7] = static_cast<uint8_t>(section_length);
        size_t end = 5 + 3 + section_length;
        uint32_t crc = qv::crc32_mpeg2(packet.data() + 5, packet.data() + end - 4);
        for (size_t n = 0; n < 4; ++n) {
            packet[end - 4 + n] = static_cast<uint8_t>(crc >> (24 - 8 * n));
        }
    }
    return packet;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    qv::StreamContext context;
    qv::ProgramEntry spare_program{1, 0x01F0, {}};
    qv::PacketWriter writer;  // no destination: rebuilt packets are made but go nowhere
    qv::PidCounter counter;
    qv::ByteBuffer replacement;
    qv::ByteBuffer section_copy;
    qv::ByteBuffer packet_copy;
    if (size > 0) {
        // Replacement ES entries taken from the tail of the input.
        size_t count = std::min<size_t>(size, data[0] % 32);
        replacement.data.assign(data + size - count, data + size);
    }

    for (size_t at = 0, index = 0; at < size; at += 188, ++index) {
        std::vector<uint8_t> packet = make_packet(data + at, size - at);
        qv::PidState* state = qv::parse_packet(context, packet.data());
        if (state == nullptr) {
            continue;
        }
        qv::check_continuity(context, *state);
        qv::update_stream_clocks(context, *state);
        uint16_t pid = state->pid;
        if (pid == qv::kPatPid) {
            (void)qv::parse_pat(context, *state, packet.data());
        } else if (pid == qv::kSdtPid) {
            (void)qv::parse_sdt(context, *state, packet.data(), &section_copy);
        } else if (qv::is_eit_pid(pid)) {
            (void)qv::parse_eit(context, *state, packet.data(),
                                index % 2 ? &section_copy : nullptr);
        } else if (pid == qv::kTotPid) {
            (void)qv::parse_tot(context, *state, packet.data(), &packet_copy);
        } else {
            qv::ProgramEntry* program = qv::find_program_by_pmt_pid(context, pid);
            if (program == nullptr) {
                spare_program.pmt_pid = pid;
                program = &spare_program;
            }
            qv::PmtRewriteRequest request;
            switch (index % 4) {
                case 1:
                    request = {qv::kRemoveCaptionEntries, nullptr, &writer, &counter};
                    break;
                case 2:
                    request = {0x0130, &replacement, &writer, &counter};
                    break;
                case 3:
                    request = {static_cast<uint32_t>(packet[9]), nullptr, &writer, &counter};
                    break;
                default:
                    break;
            }
            (void)qv::parse_pmt(context, *program, *state, packet.data(), request);
        }
    }
    return 0;
}
