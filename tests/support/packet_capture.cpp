#include "support/packet_capture.h"

#include <cstddef>

namespace qv::test {
namespace {

/// Live captures by sender id (the id is the index).
std::vector<std::vector<uint8_t>*>& captures()
{
    static std::vector<std::vector<uint8_t>*> list;
    return list;
}

}  // namespace

PacketCapture::PacketCapture() : writer_(std::make_unique<PacketWriter>())
{
    auto& list = captures();
    size_t id = 0;
    while (id < list.size() && list[id] != nullptr) {
        ++id;
    }
    if (id == list.size()) {
        list.push_back(nullptr);
    }
    list[id] = &bytes_;
    writer_->sender_id = static_cast<int32_t>(id);
    writer_->send_data = collect;
}

PacketCapture::~PacketCapture()
{
    captures()[static_cast<size_t>(writer_->sender_id)] = nullptr;
}

const std::vector<uint8_t>& PacketCapture::bytes()
{
    (void)flush_packets(*writer_);
    return bytes_;
}

void PacketCapture::collect(uint32_t sender_id, const uint8_t* data, uint32_t length)
{
    auto& list = captures();
    if (sender_id < list.size() && list[sender_id] != nullptr) {
        list[sender_id]->insert(list[sender_id]->end(), data, data + length);
    }
}

}  // namespace qv::test
