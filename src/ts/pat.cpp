// The PAT handler and the lookups into what the PAT and the PMTs recorded.
#include <algorithm>

#include "ts/pat_pmt.h"
#include "ts/section_assembly.h"

namespace qv {
namespace {

// table_id through last_section_number (ISO/IEC 13818-1 Table 2-30).
constexpr size_t kPatHeaderSize = 8;
constexpr uint16_t kPatEndMarker = 0xFFFF;

}  // namespace

bool parse_pat(StreamContext& context, PidState& state, const uint8_t* packet)
{
    if (state.pid != kPatPid) {
        return false;
    }
    SectionStatus status = collect_section(state, packet, kPatTableId);
    if (status == SectionStatus::in_progress) {
        return true;
    }
    if (status != SectionStatus::complete) {
        return false;
    }

    context.programs.clear();
    ByteCursor body = section_body(state);
    skip_bytes(body, kPatHeaderSize);
    while (remaining(body) >= 4) {
        uint16_t program_number = read_u16(body);
        uint16_t pmt_pid = read_u16(body) & 0x1FFF;
        if (program_number == kPatEndMarker) {
            break;
        }
        auto found = std::find_if(
            context.programs.begin(), context.programs.end(),
            [&](const ProgramEntry& program) { return program.program_number == program_number; });
        if (found == context.programs.end()) {
            context.programs.push_back(ProgramEntry{program_number, pmt_pid, {}});
        } else {
            found->pmt_pid = pmt_pid;
        }
    }
    reset_section(state);
    return true;
}

ProgramEntry* find_program_by_pmt_pid(StreamContext& context, uint16_t pid)
{
    if (pid == 0) {
        return nullptr;
    }
    for (ProgramEntry& program : context.programs) {
        if (program.pmt_pid == pid) {
            return &program;
        }
    }
    return nullptr;
}

CaptionEntry* find_caption_entry(StreamContext& context, uint16_t pid)
{
    if (pid == 0) {
        return nullptr;
    }
    for (CaptionEntry& entry : context.captions) {
        if (entry.pid == pid) {
            return &entry;
        }
    }
    return nullptr;
}

bool register_pcr_pid(StreamContext& context, uint16_t pid)
{
    if (pid >= kPidCount) {
        return false;
    }
    for (uint16_t& slot : context.pcr_pid_set) {
        if (slot == pid) {
            return true;
        }
        if (slot == kNoPid) {
            slot = pid;
            return true;
        }
    }
    return false;
}

}  // namespace qv
