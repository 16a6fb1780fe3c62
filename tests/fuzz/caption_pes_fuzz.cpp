// Caption PES reassembly and the data group walk on arbitrary packet sequences of one caption
// PID. An even first byte takes the input as raw 188-byte packets (sync byte and PID forced); an
// odd one takes it as a PES payload whose data group CRCs are made right, so that the walk gets
// past the CRC check, behind a management group that chooses the Japanese statements.
#include <algorithm>
#include <cstdint>

#include "base/byte_buffer.h"
#include "caption/caption_pes.h"
#include "arib/crc16.h"
#include "support/caption_builders.h"

namespace {

constexpr uint16_t kPid = 0x0130;

void feed_raw_packets(qv::test::CaptionFeed& feed, const uint8_t* data, size_t size,
                      qv::ByteBuffer& sink)
{
    for (size_t at = 0; at < size; at += 188) {
        qv::test::Bytes packet(188, 0xFF);
        std::copy(data + at, data + std::min(size, at + 188), packet.begin());
        packet[0] = 0x47;
        packet[1] = static_cast<uint8_t>((packet[1] & 0xE0) | (kPid >> 8));  // keeps TEI, PUSI
        packet[2] = static_cast<uint8_t>(kPid);
        (void)qv::test::feed_packet(feed, packet, &sink);
    }
}

/// Writes the right CRC-16 behind every data group that fits.
void fix_group_crcs(qv::test::Bytes& payload)
{
    if (payload.size() < 3) {
        return;
    }
    size_t at = 3 + (payload[2] & 0x0F);
    while (at + 5 <= payload.size()) {
        const size_t size = size_t{payload[at + 3]} << 8 | payload[at + 4];
        if (at + 5 + size + 2 > payload.size()) {
            return;
        }
        const uint16_t crc = qv::crc16(payload.data() + at, 5 + size);
        payload[at + 5 + size] = static_cast<uint8_t>(crc >> 8);
        payload[at + 5 + size + 1] = static_cast<uint8_t>(crc);
        at += 5 + size + 2;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0) {
        return 0;
    }
    qv::test::CaptionFeed feed(
        kPid, data[0] & 0x02 ? qv::kProfilePartialService : qv::kProfileFullService);
    qv::ByteBuffer sink;
    if ((data[0] & 0x01) == 0) {
        feed_raw_packets(feed, data + 1, size - 1, sink);
        return 0;
    }
    const uint8_t group_base = data[0] & 0x04 ? 0x20 : 0x00;
    feed_payload(feed, qv::test::pes_data(
                           qv::test::data_group(group_base, qv::test::management_data({"jpn"}))));
    qv::test::Bytes payload(data + 1, data + size);
    if (payload.size() >= 2) {
        payload[0] = data[0] & 0x08 ? 0x81 : 0x80;
        payload[1] = 0xFF;
    }
    fix_group_crcs(payload);
    if (payload.size() <= 0xFFF0) {
        feed_payload(feed, payload, &sink);
    }
    return 0;
}
