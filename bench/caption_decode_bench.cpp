// Decode throughput of the 8-unit code decoder on the statement bodies of the real caption data
// (MB/s of 8-unit code), and of the data group walk over the whole PES payloads.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "arib/arib_text_decoder.h"
#include "ts/caption_entry.h"
#include "caption/caption_pes.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct Corpus {
    std::vector<Bytes> payloads;    // PES payloads: 80 FF F0, one data group, CRC
    std::vector<Bytes> statements;  // 8-unit code bodies of the statement data units
    size_t payload_bytes = 0;
    size_t statement_bytes = 0;
};

std::filesystem::path corpus_dir()
{
    return std::filesystem::path(__FILE__).parent_path().parent_path() / "tests" / "data" /
           "arib-es";
}

/// The data units of parameter 0x20 in a statement data group body.
void collect_statements(const uint8_t* body, size_t size, Corpus& corpus)
{
    if (size < 4) {
        return;
    }
    const size_t header = (body[0] >> 6) == 1 || (body[0] >> 6) == 2 ? 6 : 1;
    size_t at = header + 3;
    while (at + 5 <= size) {
        const size_t unit_size =
            size_t{body[at + 2]} << 16 | size_t{body[at + 3]} << 8 | body[at + 4];
        if (at + 5 + unit_size > size) {
            return;
        }
        if (body[at + 1] == 0x20 && unit_size != 0) {
            corpus.statements.emplace_back(body + at + 5, body + at + 5 + unit_size);
            corpus.statement_bytes += unit_size;
        }
        at += 5 + unit_size;
    }
}

const Corpus& corpus()
{
    static const Corpus loaded = [] {
        Corpus corpus;
        for (const auto& item : std::filesystem::directory_iterator(corpus_dir())) {
            if (item.path().extension() != ".es") {
                continue;
            }
            std::ifstream in(item.path(), std::ios::binary);
            const Bytes run((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            size_t at = 0;
            while (run.size() - at >= 8) {
                const size_t group = at + 3 + (run[at + 2] & 0x0F);
                if (group + 5 > run.size()) {
                    break;
                }
                const size_t size = size_t{run[group + 3]} << 8 | run[group + 4];
                const size_t end = group + 5 + size + 2;
                if (end > run.size()) {
                    break;
                }
                corpus.payloads.emplace_back(run.begin() + static_cast<ptrdiff_t>(at),
                                             run.begin() + static_cast<ptrdiff_t>(end));
                corpus.payload_bytes += end - at;
                const uint8_t id = run[group] >> 2;
                if (id != 0x00 && id != 0x20) {
                    collect_statements(run.data() + group + 5, size, corpus);
                }
                at = end;
            }
        }
        return corpus;
    }();
    return loaded;
}

void BM_DecodeStatements(benchmark::State& state)
{
    const Corpus& data = corpus();
    if (data.statements.empty()) {
        state.SkipWithError("no caption data found beside the checkout");
        return;
    }
    qv::AribTextState text;
    text.text_profile = qv::kProfileFullService;
    qv::reset_designations(text);
    for (auto _ : state) {
        for (const Bytes& body : data.statements) {
            benchmark::DoNotOptimize(
                qv::decode_arib_text(body.data(), static_cast<uint32_t>(body.size()), text));
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(data.statement_bytes));
    state.counters["statements"] = static_cast<double>(data.statements.size());
}
BENCHMARK(BM_DecodeStatements)->Unit(benchmark::kMillisecond);

void BM_WalkPesPayloads(benchmark::State& state)
{
    const Corpus& data = corpus();
    if (data.payloads.empty()) {
        state.SkipWithError("no caption data found beside the checkout");
        return;
    }
    for (auto _ : state) {
        qv::CaptionEntry entry = qv::make_caption_entry(0x0130, qv::kProfileFullService);
        for (const Bytes& payload : data.payloads) {
            benchmark::DoNotOptimize(
                qv::walk_caption_pes_data(entry, payload.data(), payload.size(), payload.size()));
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(data.payload_bytes));
}
BENCHMARK(BM_WalkPesPayloads)->Unit(benchmark::kMillisecond);

}  // namespace
