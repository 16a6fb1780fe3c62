#!/usr/bin/env python3
"""Outputs and stops that depend on the world around the program: an existing output it may not
write, a reader of standard output that stops reading, and standard input that has ended under
-loop. None may lose a file, hang the program or spin."""
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
SAMPLE = os.path.join(HERE, "..", "..", "samples", "sample.ts")  # three captions
NOBODY = 65534


def read_only_output_stays(program, work):
    """An existing output that cannot be written: the pass says so and deletes nothing (the
    extract rule deletes only an empty output it created itself)."""
    os.chmod(work, 0o777)
    source = os.path.join(work, "empty.ts")
    with open(STREAM, "rb") as f:
        head = f.read(188 * 50)
    # A TS without any caption PID: extract counts 0 and would delete its output.
    packets = [head[i:i + 188] for i in range(0, len(head), 188)]
    with open(source, "wb") as f:
        f.write(b"".join(p for p in packets if ((p[1] & 0x1F) << 8 | p[2]) == 0x01FF))
    os.chmod(source, 0o644)
    output = os.path.join(work, "kept.ts")
    with open(output, "wb") as f:
        f.write(b"keep me")
    os.chmod(output, 0o444)
    # Root may write any file: run as nobody then, in a directory nobody may change.
    as_user = {"user": NOBODY, "group": NOBODY} if os.geteuid() == 0 else {}
    run = subprocess.run([program, "-mode", "extract", "-noprogress", "-cappath", output, source],
                         stdout=subprocess.PIPE, timeout=60, **as_user)
    text = run.stdout.decode("utf-8", "replace")
    check("read-only output kept", os.path.exists(output), text)
    if os.path.exists(output):
        with open(output, "rb") as f:
            check("read-only output unchanged", f.read() == b"keep me")
    check("read-only output message", ("－ 出力ファイルが作成できません " + output + "\n") in text,
          repr(text))
    check("read-only output exit code", run.returncode == 0, str(run.returncode))


def stalled_reader_does_not_hold_a_stop(program):
    """Standard output goes to a pipe nobody reads: Ctrl+C still ends the pass within a second,
    and the lost rest is reported as a failed write."""
    reader, writer = os.pipe()
    process = subprocess.Popen([program, "-mode", "through", "-noprogress", "-throughpath", "CON",
                                STREAM], stdout=writer, stderr=subprocess.PIPE)
    os.close(writer)
    time.sleep(1.0)  # the pipe is full long before
    check("stalled: still running", process.poll() is None)
    streams = stop_process(process, signal.SIGINT, "stalled", 1.5)
    os.close(reader)
    if streams is None:
        return
    text = streams[1].decode("utf-8", "replace")
    check("stalled: failure reported", "－ 出力ファイルに書き込めません CON\n" in text, repr(text))


def slow_file_output_keeps_its_data_on_a_stop(program, work):
    """Ctrl+C while a regular file output lags behind (each write held up by 0.4 s, as on a slow
    disk): what was read and handled is written whole, not dropped and reported as a failed
    write."""
    strace = shutil.which("strace")
    if strace is None:
        print("slow file: skipped, no strace to slow the writes down")
        return
    source = os.path.join(work, "long.ts")
    with open(STREAM, "rb") as f:
        stream = f.read()
    with open(source, "wb") as f:
        for _ in range(20):
            f.write(stream)
    output = os.path.join(work, "slow.ts")
    environment = dict(os.environ, QV_IO_THREADS="1")  # the output on its writer thread
    tracer = subprocess.Popen([strace, "-f", "-qq", "-o", os.devnull, "-e", "trace=write",
                               "-e", "inject=write:delay_exit=400000", program, "-mode",
                               "through", "-noprogress", "-throughpath", output, source],
                              stdout=subprocess.PIPE, env=environment)
    time.sleep(2.0)
    children = "/proc/%d/task/%d/children" % (tracer.pid, tracer.pid)
    try:
        with open(children) as f:
            child = int(f.read().split()[0])
    except (OSError, IndexError, ValueError):
        tracer.kill()
        tracer.communicate()
        print("slow file: skipped, strace could not run the program here")
        return
    os.kill(child, signal.SIGINT)
    try:
        out, _ = tracer.communicate(timeout=60)
    except subprocess.TimeoutExpired:
        tracer.kill()
        check("slow file: ends", False, "still running 60 s after the stop")
        return
    text = out.decode("utf-8", "replace")
    check("slow file: no failed write", "－ 出力ファイルに書き込めません" not in text, repr(text))
    with open(output, "rb") as f:
        written = f.read()
    whole = stream * 20
    check("slow file: a whole prefix", len(written) > 0 and len(written) % 188 == 0 and
          whole.startswith(written), str(len(written)))


def loop_over_ended_standard_input_ends(program, work):
    """-loop over CON: once standard input has ended, the run ends instead of spinning."""
    output = os.path.join(work, "looped.ts")
    with open(STREAM, "rb") as source:
        try:
            run = subprocess.run([program, "-loop", "-mode", "extract", "-noprogress",
                                  "-cappath", output, "CON"], stdin=source,
                                 stdout=subprocess.PIPE, timeout=30)
        except subprocess.TimeoutExpired:
            check("loop over CON ends", False, "still running after 30 s")
            return
    single = subprocess.run([program, "-mode", "extract", "-noprogress", "-cappath",
                             os.path.join(work, "single.ts"), STREAM], stdout=subprocess.PIPE,
                            timeout=60)
    check("loop over CON counts one pass", run.returncode == single.returncode,
          "%d vs %d" % (run.returncode, single.returncode))
    # With an offset, or with nothing to read at all, the loop ends as well; an ended standard
    # input is skipped and the sources after it still run, in every cycle.
    shown = subprocess.run([program, "-noprogress", SAMPLE], stdout=subprocess.PIPE, timeout=60)
    cases = [(["-loop", "CON;0"], 0), (["-loop"], 0), (["-loop", ""], 0),
             ([SAMPLE, "CON", "CON", SAMPLE], 2 * shown.returncode),
             (["-loop2", "CON", SAMPLE], 2 * shown.returncode)]
    for arguments, expected in cases:
        try:
            run = subprocess.run([program, "-noprogress"] + arguments, stdin=subprocess.DEVNULL,
                                 stdout=subprocess.PIPE, timeout=30)
        except subprocess.TimeoutExpired:
            check("%s ends" % arguments, False, "still running after 30 s")
            continue
        check("%s counts %d" % (arguments, expected), run.returncode == expected,
              str(run.returncode))


def merge_ends_on_ctrl_c(program, work):
    """Ctrl+C in the middle of a paced merge: both threads end at once, whichever waits for the
    other, the merged stream is flushed and the exit code counts what was done."""
    caption = os.path.join(work, "cap.ts")
    merged = os.path.join(work, "merged.ts")
    subprocess.run([program, "-mode", "extract", "-noprogress", "-cappath", caption, STREAM],
                   stdout=subprocess.PIPE, timeout=60)
    process = subprocess.Popen([program, "-mode", "merge", "-sync", "-cappath",
                                caption, "-mergepath", merged, STREAM], stdout=subprocess.PIPE)
    time.sleep(2.0)
    check("merge: still running", process.poll() is None)
    streams = stop_process(process, signal.SIGINT, "merge", 2.0)
    if streams is None:
        return
    out = streams[0]
    size = os.path.getsize(merged) if os.path.exists(merged) else -1
    check("merge: output flushed", size > 0 and size % 188 == 0, str(size))
    text = out.decode("utf-8", "replace")
    check("merge: notice", "－ CTRL+Cが押されました\n" in text, repr(text[-200:]))
    check("merge: exit code counts", process.returncode > 0, str(process.returncode))


def tuner_ends_on_ctrl_c(program, work):
    """Ctrl+C while a tuner plays: reception ends, the end message comes once, the process ends
    (the library is freed only after the reception thread)."""
    folder = os.path.dirname(os.path.abspath(program))
    library = os.path.join(folder, "libfile_tuner.so")
    if not os.path.exists(library):
        print("tuner: skipped, %s not built" % library)
        return
    copy = os.path.join(work, "libfile_tuner.so")
    shutil.copy(library, copy)
    shutil.copy(STREAM, os.path.join(work, "played.ts"))
    with open(os.path.join(work, "libfile_tuner.channels"), "w") as channels:
        channels.write("0 13 played.ts realtime loop\n")
    process = subprocess.Popen([program, "\\\\.\\bondriver\\0\\13\\" + copy],
                               stdout=subprocess.PIPE)
    time.sleep(1.5)
    check("tuner: still running", process.poll() is None)
    streams = stop_process(process, signal.SIGINT, "tuner", 2.0)
    if streams is None:
        return
    text = streams[0].decode("utf-8", "replace")
    check("tuner: started", ("－ BonDriverチューナー 開始成功 " + copy + "\n") in text, repr(text[:300]))
    check("tuner: ended once", text.count("－ BonDriverチューナー 終了 " + copy + "\n") == 1,
          repr(text[-300:]))
    check("tuner: exit code", process.returncode >= 0, str(process.returncode))


def main():
    program = sys.argv[1]
    with tempfile.TemporaryDirectory() as work:
        read_only_output_stays(program, work)
        merge_ends_on_ctrl_c(program, work)
        tuner_ends_on_ctrl_c(program, work)
        stalled_reader_does_not_hold_a_stop(program)
        slow_file_output_keeps_its_data_on_a_stop(program, work)
        loop_over_ended_standard_input_ends(program, work)
    return summary()


if __name__ == "__main__":
    sys.exit(main())
