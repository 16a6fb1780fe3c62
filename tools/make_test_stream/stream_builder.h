#pragma once
// The test-stream multiplexer: a constant-bit-rate transport stream with PAT, PMT, SDT, EIT
// present/following and TOT, and per programme a video-like PES stream carrying the PCR, an
// audio-like PES stream and a caption stream, padded with null packets. The output depends on
// the options alone: the same options give the same bytes on every run and every machine.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "si_sections.h"

namespace qv::test_stream {

inline constexpr uint32_t kMaxPrograms = 8;

/// What to make. The defaults are those of the committed sample stream.
struct StreamOptions {
    int64_t duration_ms = 5000;   ///< length of the stream in stream time
    uint64_t size_bytes = 0;      ///< when non-zero, the stream ends at this size instead
    uint32_t bit_rate = 1000000;  ///< bits per second of the whole multiplex
    uint32_t programs = 1;        ///< 1 to kMaxPrograms
    bool captions = true;         ///< caption streams in the PMTs and their packets
    uint32_t drop_every = 0;      ///< leave out every n-th packet of drop_pid (0: none)
    uint16_t drop_pid = 0x0112;   ///< the PID that loses packets (the first audio stream)
    uint32_t packet_size = 188;   ///< 188, or 192 with a 4-byte arrival time before each packet
    BroadcastTime start = {2025, 4, 1, 21, 10, 0};  ///< Japan time of the first packet
    uint64_t pcr_start = 324000000;  ///< PCR base (90 kHz) of the first packet: 1 hour
};

/// The PIDs and ids of programme `index` (0-based): service 0x0400 + index, PMT PID
/// 0x01F0 + index, video 0x0111, audio 0x0112 and captions 0x0130 moved up by 0x0100 per
/// programme.
ProgramLayout program_layout(uint32_t index, bool captions);

/// The caption texts that the statements of every programme cycle through.
const std::vector<std::string>& caption_texts();

/// False, with a message, when the options cannot make a stream.
[[nodiscard]] bool check_stream_options(const StreamOptions& options, std::string& error);

/// Number of packets the options give.
uint64_t stream_packet_count(const StreamOptions& options);

/// Receives the stream in pieces of whole packets; false stops the generator.
using StreamSink = std::function<bool(const uint8_t* bytes, size_t length)>;

/// Makes the stream and hands it to `sink` packet by packet. False with a message when the
/// options are refused or the sink stops.
[[nodiscard]] bool generate_stream(const StreamOptions& options, const StreamSink& sink,
                                   std::string& error);

}  // namespace qv::test_stream
