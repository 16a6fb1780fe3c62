#!/usr/bin/env python3
"""The bundled sample does what samples/README.md promises: display mode shows its three captions
(and, with -detail, its service and events), and extract mode finds its caption packets."""
import os
import subprocess
import sys
import tempfile

from e2e_checks import check, summary

HERE = os.path.dirname(os.path.abspath(__file__))
SAMPLE = os.path.join(HERE, "..", "..", "samples", "sample.ts")
CAPTION_PID = 0x130

def lines_in_order(text, wanted):
    """True when every wanted line appears as a whole line of text, in this order."""
    lines = text.split("\r\n")
    position = 0
    for line in wanted:
        try:
            position = lines.index(line, position) + 1
        except ValueError:
            return False
    return True


def display_shows_the_captions(program):
    run = subprocess.run([program, SAMPLE, "-noprogress"], stdout=subprocess.PIPE, timeout=60)
    text = run.stdout.decode("utf-8", "replace")
    check("display text", text.startswith("こんにちは\r\n字幕のテスト\r\nＡＢＣ １２３\r\n"),
          repr(text))
    check("display exit code", run.returncode == 3, "exit %d" % run.returncode)


def detail_shows_service_and_events(program):
    run = subprocess.run([program, SAMPLE, "-noprogress", "-detail"], stdout=subprocess.PIPE,
                         timeout=60)
    text = run.stdout.decode("utf-8", "replace")
    check("service and events", lines_in_order(text, [
        "0x0400 試験放送 字幕テスト １ ",
        "2025/04/01 21:00:00", "0:30:00", "字幕の試験番組", "日本語の字幕を表示します",
        "2025/04/01 21:30:00", "1:00:00", "次の番組", "確認のための番組",
        "こんにちは"]), repr(text[:400]))
    check("caption time stamps", "CAPTION PID 0x0130 PTS" in text, repr(text[:400]))


def extract_finds_the_caption_packets(program, work):
    out = os.path.join(work, "captions.ts")
    run = subprocess.run([program, "-mode", "extract", SAMPLE, "-cappath", out, "-noprogress"],
                         stdout=subprocess.PIPE, timeout=60)
    with open(SAMPLE, "rb") as f:
        sample = f.read()
    expected = sum(1 for i in range(0, len(sample), 188)
                   if ((sample[i + 1] & 0x1F) << 8 | sample[i + 2]) == CAPTION_PID)
    check("extract exit code", run.returncode == expected,
          "exit %d, caption packets in the sample %d" % (run.returncode, expected))
    check("caption TS written", os.path.exists(out) and os.path.getsize(out) % 188 == 0)


def main():
    program = sys.argv[1]
    display_shows_the_captions(program)
    detail_shows_service_and_events(program)
    with tempfile.TemporaryDirectory() as work:
        extract_finds_the_caption_packets(program, work)
    return summary()


if __name__ == "__main__":
    sys.exit(main())
