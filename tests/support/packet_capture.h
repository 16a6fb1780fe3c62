#pragma once
// A packet writer whose output stays in memory: it hands its buffers to a stand-in for the TCP
// sender's add-data entry point, which collects them.
#include <cstdint>
#include <memory>
#include <vector>

#include "ts/packet_writer.h"

namespace qv::test {

class PacketCapture {
public:
    PacketCapture();
    ~PacketCapture();
    PacketCapture(const PacketCapture&) = delete;
    PacketCapture& operator=(const PacketCapture&) = delete;

    PacketWriter& writer() { return *writer_; }
    /// Flushes the writer and returns every byte written so far.
    const std::vector<uint8_t>& bytes();

private:
    static void collect(uint32_t sender_id, const uint8_t* data, uint32_t length);

    std::unique_ptr<PacketWriter> writer_;
    std::vector<uint8_t> bytes_;
};

}  // namespace qv::test
