#!/usr/bin/env python3
"""How a pass ends besides the end of a file: standard input at the end of a pipe, and Ctrl+C
(SIGINT) or SIGTERM in the middle of a paced pass. The output must be flushed and closed, the
end-of-pass report printed and the exit code must count what was found."""
import os
import signal
import subprocess
import sys
import tempfile
import time

from e2e_checks import check, summary

HERE = os.path.dirname(os.path.abspath(__file__))
STREAM = os.path.join(HERE, "..", "data", "arib-ts", "chibi_maruko_chan.tot.ts")
CAPTION_PID = 0x130

def caption_packets(path):
    with open(path, "rb") as f:
        data = f.read()
    if len(data) % 188:
        return -1
    return sum(1 for i in range(0, len(data), 188)
               if ((data[i + 1] & 0x1F) << 8 | data[i + 2]) == CAPTION_PID)


def pipe_ends_at_end_of_input(program, work):
    reference = os.path.join(work, "file.ts")
    piped = os.path.join(work, "piped.ts")
    file_run = subprocess.run([program, "-mode", "extract", "-noprogress", "-cappath", reference,
                               STREAM], stdout=subprocess.PIPE, timeout=60)
    with open(STREAM, "rb") as source:
        feeder = subprocess.Popen(["cat"], stdin=source, stdout=subprocess.PIPE)
        try:
            pipe_run = subprocess.run([program, "-mode", "extract", "-noprogress", "-cappath",
                                       piped, "CON"], stdin=feeder.stdout,
                                      stdout=subprocess.PIPE, timeout=30)
        except subprocess.TimeoutExpired:
            check("pipe end", False, "still reading standard input after the pipe closed")
            return
        finally:
            feeder.stdout.close()
            feeder.wait()
    check("pipe exit code", pipe_run.returncode == file_run.returncode,
          "%d vs %d" % (pipe_run.returncode, file_run.returncode))
    with open(reference, "rb") as a, open(piped, "rb") as b:
        check("pipe output", a.read() == b.read())


def stop_in_the_middle(program, work, sig, notice):
    out = os.path.join(work, "stopped%d.ts" % sig)
    process = subprocess.Popen([program, "-mode", "extract", "-sync", "-drop", "-cappath", out,
                                STREAM], stdout=subprocess.PIPE)
    time.sleep(2.0)
    check("still running before the signal", process.poll() is None)
    started = time.time()
    process.send_signal(sig)
    try:
        text, _ = process.communicate(timeout=10)
    except subprocess.TimeoutExpired:
        process.kill()
        check("stop", False, "no end within 10 s of signal %d" % sig)
        return
    check("prompt end", time.time() - started < 5)
    found = caption_packets(out) if os.path.exists(out) else -1
    check("flushed output", found > 0, "caption packets in output: %d" % found)
    check("exit code counts what was found", process.returncode == min(found, 255),
          "exit %d, caption packets %d" % (process.returncode, found))
    text = text.decode("utf-8", "replace")
    check("notice", notice in text, repr(text[-300:]))
    check("report", ("－ DROP " + STREAM + "\r\n") in text, repr(text[-300:]))


def main():
    program = sys.argv[1]
    with tempfile.TemporaryDirectory() as work:
        pipe_ends_at_end_of_input(program, work)
        stop_in_the_middle(program, work, signal.SIGINT, "－ CTRL+Cが押されました\n")
        stop_in_the_middle(program, work, signal.SIGTERM, "－ 閉じられます\n")
    return summary()


if __name__ == "__main__":
    sys.exit(main())
