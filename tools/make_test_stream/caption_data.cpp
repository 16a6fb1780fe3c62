#include "caption_data.h"

#include "arib_text_encoder.h"

namespace qv::test_stream {

namespace {

constexpr uint8_t kManagementGroupId = 0x00;  // group A
constexpr uint8_t kStatementGroupId = 0x01;   // group A, language tag 0
constexpr uint8_t kUnitSeparator = 0x1F;
constexpr uint8_t kStatementBody = 0x20;

Bytes make_data_group(uint8_t data_group_id, const Bytes& data)
{
    Bytes group;
    put_u8(group, static_cast<uint32_t>(data_group_id) << 2);  // data_group_version 0
    put_u8(group, 0);                                           // data_group_link_number
    put_u8(group, 0);                                           // last_data_group_link_number
    put_u16(group, static_cast<uint32_t>(data.size()));
    group.insert(group.end(), data.begin(), data.end());
    put_u16(group, crc16_caption(group.data(), group.size()));
    return group;
}

}  // namespace

Bytes make_management_group()
{
    Bytes data;
    put_u8(data, 0x3F);  // TMD 00 (free), reserved
    put_u8(data, 1);     // num_languages
    put_u8(data, 0x10);  // language_tag 0, reserved, DMF 0 (automatic display)
    data.insert(data.end(), {'j', 'p', 'n'});
    put_u8(data, 0x80);  // Format: horizontal 960x540; TCS 0 (8-unit code); rollup_mode 0
    put_u24(data, 0);    // data_unit_loop_length
    return make_data_group(kManagementGroupId, data);
}

bool make_statement_group(std::string_view text, Bytes& group)
{
    // CS, SWF 7 (horizontal 960x540), ACPS 170;389 (where the line begins), WHF, NSZ: the
    // usual opening of a broadcast statement; the reader keeps none of it but the designations
    // that CS and SWF reset.
    Bytes body = {0x0C, 0x9B, 0x37, 0x20, 0x53, 0x9B, 0x31, 0x37, 0x30, 0x3B,
                  0x33, 0x38, 0x39, 0x20, 0x61, 0x87, 0x8A};
    if (!encode_arib_text(text, TextProfile::caption, body)) {
        return false;
    }
    Bytes data;
    put_u8(data, 0x3F);  // TMD 00 (free), reserved
    put_u24(data, static_cast<uint32_t>(5 + body.size()));
    put_u8(data, kUnitSeparator);
    put_u8(data, kStatementBody);
    put_u24(data, static_cast<uint32_t>(body.size()));
    data.insert(data.end(), body.begin(), body.end());
    group = make_data_group(kStatementGroupId, data);
    return true;
}

Bytes make_caption_pes_data(const Bytes& group)
{
    Bytes data;
    data.reserve(3 + group.size());
    put_u8(data, 0x80);  // data_identifier: synchronised PES data
    put_u8(data, 0xFF);  // private_stream_id
    put_u8(data, 0xF0);  // reserved, PES_data_packet_header_length 0
    data.insert(data.end(), group.begin(), group.end());
    return data;
}

}  // namespace qv::test_stream
