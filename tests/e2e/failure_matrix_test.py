#!/usr/bin/env python3
"""Every writing mode against what can go wrong around it, one table: a stop (Ctrl+C or SIGTERM)
in the middle with each output kind (file, standard output, TCP sender), an output that takes
nothing (/dev/full), a truncated and a garbage source, and outputs that would destroy an input.
Each run must end promptly with its output flushed as whole packets, its reports printed, an
exit code that counts what was written, and a message for whatever it could not do."""
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

from e2e_checks import check, stop_process, summary

HERE = os.path.dirname(os.path.abspath(__file__))
STREAM = os.path.join(HERE, "..", "data", "arib-ts", "chibi_maruko_chan.tot.ts")
CAPTION_PID = 0x130
NOTICES = {signal.SIGINT: "－ CTRL+Cが押されました\n", signal.SIGTERM: "－ 閉じられます\n"}


def packets(data):
    return [data[i:i + 188] for i in range(0, len(data) - len(data) % 188, 188)]


def caption_packets(data):
    return sum(1 for p in packets(data) if ((p[1] & 0x1F) << 8 | p[2]) == CAPTION_PID)


def subtitles(path, entries):
    with open(path, "w", encoding="utf-8", newline="") as f:
        for i in range(entries):
            start = 1000 + i * 500
            f.write("%d\r\n%s --> %s\r\n字幕 %d\r\n\r\n" % (i + 1, clock(start), clock(start + 400), i))


def clock(ms):
    return "%02d:%02d:%02d,%03d" % (ms // 3600000, ms // 60000 % 60, ms // 1000 % 60, ms % 1000)


class Setup:
    def __init__(self, program, work):
        self.program = program
        self.work = work
        self.caption = os.path.join(work, "cap.ts")
        subprocess.run([program, "-mode", "extract", "-noprogress", "-cappath", self.caption,
                        STREAM], stdout=subprocess.PIPE, timeout=60)
        self.srt = os.path.join(work, "long.srt")
        subtitles(self.srt, 400000)  # long enough to be stopped in the middle
        folder = os.path.dirname(os.path.abspath(program))
        self.sender = os.path.join(folder, "libSendTSTCP.so")
        self.sink = os.path.join(folder, "tcp_sink")

    def arguments(self, mode, output):
        """The command line of `mode` writing to `output`, paced so that it can be stopped."""
        if mode == "convert":
            return [self.program, "-mode", "convert", "-cappath", output, self.srt]
        option = {"extract": "-cappath", "filter": "-filterpath", "through": "-throughpath",
                  "merge": "-mergepath"}[mode]
        extra = ["-cappath", self.caption] if mode == "merge" else []
        return [self.program, "-mode", mode, "-sync", "-drop", option, output] + extra + [STREAM]


def stop_in_the_middle(setup, mode, kind, sig):
    """One row of the stop table: the output must hold whole packets, the notice and the drop
    report must show, the exit code must count what was written."""
    name = "%s to %s, %s" % (mode, kind, signal.Signals(sig).name)
    output = os.path.join(setup.work, "out.ts")
    if os.path.exists(output):
        os.remove(output)
    sink = None
    if kind == "file":
        target = output
    elif kind == "CON":
        target = "CON"
    else:
        if not os.path.exists(setup.sink) or not os.path.exists(setup.sender):
            print("%s: skipped, the stand-in sender is not built" % name)
            return
        sink = subprocess.Popen([setup.sink, "--port", "0", "--save", output, "--once"],
                                stdout=subprocess.PIPE, text=True)
        port = sink.stdout.readline().split()[-1]
        target = "\\\\.\\sendtstcp\\127.0.0.1:%s\\%s" % (port, setup.sender)
    process = subprocess.Popen(setup.arguments(mode, target), stdout=subprocess.PIPE,
                               stderr=subprocess.PIPE)
    time.sleep(0.5 if mode == "convert" else 1.2)
    check(name + ": running", process.poll() is None)
    streams = stop_process(process, sig, name, 2.0)
    if streams is None:
        return
    out, err = streams
    if sink is not None:
        try:
            sink.wait(timeout=10)
        except subprocess.TimeoutExpired:
            sink.kill()
    data = out if kind == "CON" else (open(output, "rb").read() if os.path.exists(output) else b"")
    check(name + ": whole packets written", len(data) > 0 and len(data) % 188 == 0, str(len(data)))
    console = (err if kind == "CON" else out).decode("utf-8", "replace")
    check(name + ": notice", NOTICES[sig] in console, repr(console[-200:]))
    if mode != "convert":
        check(name + ": drop report", "－ DROP " + STREAM + "\r\n" in console, repr(console[-200:]))
    if mode == "extract":
        found = caption_packets(data)
        check(name + ": exit code counts what was written", process.returncode == min(found, 255),
              "exit %d, caption packets %d" % (process.returncode, found))
    elif mode in ("filter", "through", "convert"):
        check(name + ": exit code", process.returncode == 0, str(process.returncode))


def full_output(setup, mode):
    """/dev/full takes nothing: one write-failure message, and the pass ends."""
    run = subprocess.run(setup.arguments(mode, "/dev/full")[:1] + [
        a for a in setup.arguments(mode, "/dev/full")[1:] if a != "-sync"],
        stdout=subprocess.PIPE, timeout=60)
    text = run.stdout.decode("utf-8", "replace")
    check(mode + " to /dev/full: one message",
          text.count("－ 出力ファイルに書き込めません /dev/full\n") == 1, repr(text[-300:]))


def broken_sources(setup, mode):
    """A source cut in the middle of a packet ends cleanly with whole packets; a garbage source
    is refused by its check."""
    cut = os.path.join(setup.work, "cut.ts" if mode != "convert" else "cut.srt")
    garbage = os.path.join(setup.work, "garbage.ts" if mode != "convert" else "garbage.srt")
    if mode == "convert":
        with open(setup.srt, "rb") as f:
            head = f.read(10007)
        expected_refusal = "－ 字幕ファイルが認識できません "
    else:
        with open(STREAM, "rb") as f:
            head = f.read(188 * 500 + 77)
        expected_refusal = "－ tsファイルではありません "
    with open(cut, "wb") as f:
        f.write(head)
    with open(garbage, "wb") as f:
        f.write(bytes((i * 37 + 11) % 256 for i in range(100000)))
    output = os.path.join(setup.work, "broken.ts")
    for source, refused in ((cut, False), (garbage, True)):
        arguments = [a for a in setup.arguments(mode, output) if a != "-sync"]
        arguments[-1] = source
        run = subprocess.run(arguments, stdout=subprocess.PIPE, timeout=60)
        text = run.stdout.decode("utf-8", "replace")
        label = "%s of a %s source" % (mode, "garbage" if refused else "truncated")
        if refused:
            check(label + ": refused", expected_refusal + source + "\n" in text, repr(text[-200:]))
        else:
            size = os.path.getsize(output) if os.path.exists(output) else 0
            check(label + ": whole packets", size % 188 == 0 and run.returncode >= 0, str(size))


def destroying_outputs(setup, mode):
    """An output that is an input of the pass (the source, merge's caption TS, the log) is
    refused and the input stays as it was."""
    source = os.path.join(setup.work, "keep.ts" if mode != "convert" else "keep.srt")
    shutil.copy(STREAM if mode != "convert" else os.path.join(setup.work, "short.srt"), source)
    log = os.path.join(setup.work, "keep.log")
    with open(log, "w") as f:
        f.write("log\n")
    inputs = [source, log] + ([setup.caption] if mode == "merge" else [])
    for victim in inputs:
        before = open(victim, "rb").read()
        arguments = [a for a in setup.arguments(mode, victim) if a != "-sync"]
        arguments[-1] = source
        run = subprocess.run(arguments[:1] + ["-logpath", log] + arguments[1:],
                             stdout=subprocess.PIPE, timeout=60)
        text = run.stdout.decode("utf-8", "replace")
        label = "%s onto %s" % (mode, os.path.basename(victim))
        check(label + ": refused", "－ 出力ファイルが入力ファイルと同じです " + victim + "\n" in text,
              repr(text[-200:]))
        # The log gets the refusal appended; nothing of what it held is lost.
        check(label + ": input kept", open(victim, "rb").read().startswith(before))


def main():
    program = sys.argv[1]
    modes = ["extract", "filter", "through", "merge", "convert"]
    with tempfile.TemporaryDirectory() as work:
        setup = Setup(program, work)
        subtitles(os.path.join(work, "short.srt"), 3)
        kinds = ["file", "CON", "sender"]
        for row, mode in enumerate(modes):
            for column, kind in enumerate(kinds):
                sig = signal.SIGINT if (row + column) % 2 == 0 else signal.SIGTERM
                stop_in_the_middle(setup, mode, kind, sig)
            full_output(setup, mode)
            broken_sources(setup, mode)
            destroying_outputs(setup, mode)
    return summary()


if __name__ == "__main__":
    sys.exit(main())
