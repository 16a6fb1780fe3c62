#!/usr/bin/env python3
"""Writes the seed inputs of the fuzz targets into tests/fuzz/corpus/<target>/.

Seeds are small cuts (a few KB) of the bundled sample (samples/sample.ts, made by the project's
own generator) and of the real test data under tests/data, each behind the option bytes its
target reads first (see the comment at the top of each tests/fuzz/<target>.cpp). Run it from
anywhere; it rewrites only the seeds it makes, so seeds added by hand stay.

    python3 tools/make_fuzz_seeds.py
"""
import pathlib
import struct

ROOT = pathlib.Path(__file__).resolve().parent.parent
DATA = ROOT / "tests" / "data"
CORPUS = ROOT / "tests" / "fuzz" / "corpus"

# Packets of samples/sample.ts that make a complete small stream: PAT, PCR, PMT, SDT, EIT,
# caption management, audio, TOT, a later PCR, and the first caption statement with the PAT, PMT
# and video start around it.
SAMPLE_PACKETS = [0, 1, 2, 3, 4, 5, 6, 7, 69, 320, 327, 333, 334, 335, 336]


def packets(path, unit=188):
    data = path.read_bytes()
    return [data[at:at + unit] for at in range(0, len(data) - unit + 1, unit)]


def pid_of(packet):
    return (packet[1] & 0x1F) << 8 | packet[2]


def sample_cut():
    whole = packets(ROOT / "samples" / "sample.ts")
    return b"".join(whole[index] for index in SAMPLE_PACKETS)


def head(name, count, unit=188):
    """The first `count` packets (or 192-byte units) of a test stream."""
    return b"".join(packets(DATA / "arib-ts" / name, unit)[:count])


def pes_payloads(path, limit):
    """The first PES payloads of an .es file (data identifier, stream id, header, one group)."""
    data = path.read_bytes()
    payloads = []
    at = 0
    while at + 8 <= len(data) and len(payloads) < limit:
        header = data[at + 2] & 0x0F
        group = at + 3 + header
        size = data[group + 3] << 8 | data[group + 4]
        end = group + 5 + size + 2
        payloads.append(data[at:end])
        at = end
    return payloads


def statement_texts(payload):
    """The 8-unit code bytes of the text data units of a statement data group."""
    group = 3 + (payload[2] & 0x0F)
    if (payload[group] >> 2) & 0x1F == 0:
        return []  # caption management data
    body = group + 5
    time_mode = payload[body] >> 6
    loop = body + 1 + (5 if time_mode in (1, 2) else 0)
    end = loop + 3 + (payload[loop] << 16 | payload[loop + 1] << 8 | payload[loop + 2])
    at = loop + 3
    texts = []
    while at + 5 <= min(end, len(payload)):
        parameter = payload[at + 1]
        size = payload[at + 2] << 16 | payload[at + 3] << 8 | payload[at + 4]
        if parameter == 0x20:
            texts.append(payload[at + 5:at + 5 + size])
        at += 5 + size
    return texts


def write(target, name, data):
    folder = CORPUS / target
    folder.mkdir(parents=True, exist_ok=True)
    (folder / name).write_bytes(data)


def psi_packet(packet, pick):
    """A table packet with the PID choice of psi_si_fuzz (byte 1, low 3 bits) set to `pick`."""
    return packet[:1] + bytes([(packet[1] & 0xF8) | pick]) + packet[2:]


def main():
    sample = sample_cut()
    chibi = head("chibi_maruko_chan.tot.ts", 24)
    aijin = head("aijin.ts192-padff.ts", 24, 192)
    toriko = head("toriko_subs.nopcr.ts", 24)
    pokemon = head("pokemon-2023.wrap.ts", 24)
    drcs = head("libaribcaption_drcs_1.ts", 20)

    # ts_reader_fuzz: read-size seed, block size, PCR PID (0x0111 for the sample, 0x01FF).
    write("ts_reader_fuzz", "sample_cut", bytes([7, 40, 0x01, 0x11]) + sample)
    write("ts_reader_fuzz", "units_192", bytes([3, 0, 0x01, 0xFF]) + aijin)
    write("ts_reader_fuzz", "tot_and_pcr", bytes([200, 255, 0x01, 0xFF]) + chibi)

    # psi_si_fuzz: real PAT, PMT, SDT, EIT and TOT packets on the target's PID choices.
    whole = packets(ROOT / "samples" / "sample.ts")
    picks = {0x0000: 0, 0x0011: 1, 0x0012: 2, 0x0014: 3, 0x01F0: 4}
    tables = b"".join(psi_packet(whole[i], picks[pid_of(whole[i])]) for i in [0, 2, 3, 4, 5, 69])
    write("psi_si_fuzz", "sample_tables", tables)
    real = b"".join(
        psi_packet(p, pick)
        for name, pick in [("ariblib_pat_7e87.ts", 0), ("ariblib_sdt_7e87.ts", 1),
                           ("ariblib_pmt_5c38.ts", 4), ("ariblib_nit_7e87.ts", 4)]
        for p in packets(DATA / "si" / name))
    write("psi_si_fuzz", "broadcast_tables", real)

    # caption_pes_fuzz: raw caption packets (even first byte), or one PES payload (odd).
    captions = b"".join(p for p in packets(DATA / "arib-ts" / "libaribcaption_drcs_1.ts")
                        if pid_of(p) == 0x0130)
    write("caption_pes_fuzz", "drcs_packets", bytes([0x00]) + captions)
    write("caption_pes_fuzz", "sample_packets",
          bytes([0x02]) + b"".join(whole[i] for i in [6, 335]))
    for name in ["libaribcaption_sample_data_1.es", "libaribcaption_sample_data_drcs_1.es"]:
        write("caption_pes_fuzz", name.replace(".es", ""), bytes([0x01]) + (DATA / "caption-pes" / name).read_bytes())
    statements = [p for p in pes_payloads(DATA / "arib-es" / "chibi_maruko_chan.es", 40)
                  if statement_texts(p)]
    write("caption_pes_fuzz", "broadcast_statement", bytes([0x01]) + statements[0])

    # arib_text_fuzz: statement texts of real captions, in the full and partial profiles.
    texts = [t for name in ["chibi_maruko_chan.es", "aibou.es", "one_piss.es"]
             for p in pes_payloads(DATA / "arib-es" / name, 60) for t in statement_texts(p)]
    texts += statement_texts((DATA / "caption-pes" / "libaribcaption_sample_data_drcs_1.es").read_bytes())
    longest = sorted(texts, key=len, reverse=True)
    for index, text in enumerate(longest[:4]):
        write("arib_text_fuzz", f"statement_{index}", bytes([index % 2 * 3 + 30]) + text)

    # packetizer_fuzz: flags, PCR, PTS and DTS values, then a run: a caption PES start packet
    # followed by the payload of the next packets (three packets' worth).
    values = b"".join((v & 0x1FFFFFFFF).to_bytes(5, "big") for v in (324000000, 90000, 0x1FFFFFFFF))
    pes = whole[335] + whole[336][4:] + whole[336][4:]
    write("packetizer_fuzz", "caption_pes_run", bytes([0x87]) + values + pes)
    write("packetizer_fuzz", "pcr_packet", bytes([0x81]) + values + whole[1])

    # options_fuzz: command lines as NUL-separated arguments (even first byte), and the
    # structured form (odd first byte: kind, pick, shape bytes).
    lines = [
        ["-mode", "extract", "in.ts", "-cappath", "out.ts", "-capstr", "-detail"],
        ["-mode", "merge", "main.ts", "-cappath", "cap.ts", "-mergepath", "out.ts",
         "-capmergepatch", "-9000", "-eit", "-SDT", "-tot"],
        ["-duration", "0:10-0:20,30,1:0:0.500-", "-bufsize", "48128", "-loop3", "CON"],
        ["-mode", "convert", "sub.srt", "-piddef", "pmt:0x1F0,caption:0x130",
         "-paramhex", "0aF9zz1", "-wsize", "640x360", "-tvtppath", "p.so"],
        ["-dump", "0x130", "-drop", "-wraparound", "-noprogress", "-nodel", "-pause", "-pid",
         "\\\\.\\pipe\\rec", "-filterpath", "f.ts", "-throughpath", "t.ts", "-logpath", "x.log"],
    ]
    for index, line in enumerate(lines):
        write("options_fuzz", f"command_line_{index}", bytes([0]) + b"\0".join(a.encode() for a in line))
    write("options_fuzz", "structured", bytes([1, 0, 0, 0, 2, 0, 1, 20, 5, 2, 12, 0, 11, 255, 2, 16]))

    # merge_fuzz: flags, -capmergepatch choice, the main stream's length (bytes 2-3), then the
    # main stream and the caption stream. Flag 0x08 takes the same bytes as both streams.
    def merge_seed(flags, patch, main, caption=b""):
        return bytes([flags, patch]) + struct.pack(">H", len(main)) + main + caption

    write("merge_fuzz", "sample_with_itself", merge_seed(0x08, 0, sample))
    write("merge_fuzz", "broadcast_main_sample_captions", merge_seed(0x00, 0, chibi, sample))
    write("merge_fuzz", "tables_into_a_stream_without", merge_seed(0x07, 1, toriko, sample))
    write("merge_fuzz", "ranges_and_negative_patch", merge_seed(0x30, 2, sample, pokemon))

    # pump_fuzz: flags (-detail, -eit, -sdt, -tot, -drop, -wraparound, -dump, start offset) and
    # more (offset choice, -duration, -bufsize, -noprogress), then the stream.
    write("pump_fuzz", "sample_detail", bytes([0x0F, 0x40]) + sample)
    write("pump_fuzz", "sample_dump_and_ranges", bytes([0x41, 0x09]) + sample)
    write("pump_fuzz", "broadcast_tot", bytes([0x31, 0x00]) + chibi)
    write("pump_fuzz", "units_192_offset", bytes([0x81, 0x01]) + aijin)
    write("pump_fuzz", "no_pcr", bytes([0x11, 0x80]) + toriko)
    write("pump_fuzz", "pcr_wrap", bytes([0x21, 0x40]) + pokemon)
    write("pump_fuzz", "drcs", bytes([0x01, 0x00]) + drcs)


if __name__ == "__main__":
    main()
