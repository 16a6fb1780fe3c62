#!/usr/bin/env python3
"""The installed program with the installed stand-ins: `cmake --install` into a scratch prefix
puts the program, the sender and tuner libraries, the listener and the manual page in place; the
installed program finds the sender library by its default name, reads a tuner through the
installed driver, and the Debian package holds the same files."""
import os
import re
import shutil
import subprocess
import sys
import tempfile

from e2e_checks import check, summary

HERE = os.path.dirname(os.path.abspath(__file__))
SAMPLE = os.path.join(HERE, "..", "..", "samples", "sample.ts")


def install(build, prefix):
    run = subprocess.run(["cmake", "--install", build, "--prefix", prefix],
                         stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=120)
    check("install", run.returncode == 0, run.stdout.decode("utf-8", "replace")[-500:])
    for path in ["bin/quilvaren", "bin/tcp_sink", "lib/libSendTSTCP.so",
                 "lib/quilvaren/libfile_tuner.so", "lib/quilvaren/libfile_tuner_basic.so",
                 "share/man/man1/quilvaren.1", "share/doc/quilvaren/README.md"]:
        check("installed " + path, os.path.exists(os.path.join(prefix, path)))


def check_run_path(program):
    """No empty entry in the program's run path: the loader would read it as the current
    directory and take libraries (libc, a sender named by its bare name) from wherever the
    program is started."""
    if shutil.which("readelf") is None:
        print("run path of %s: skipped, readelf missing" % program)
        return
    dynamic = subprocess.run(["readelf", "-d", program], stdout=subprocess.PIPE, text=True).stdout
    for paths in re.findall(r"\((?:RUNPATH|RPATH)\)\s+Library r(?:un)?path: \[(.*)\]", dynamic):
        check("run path of %s has no empty entry" % os.path.basename(program),
              all(entry for entry in paths.split(":")), paths)


def send_to_installed_sink(prefix, work):
    """filter (whose sender path is not checked beforehand) with no library named: the default
    libSendTSTCP.so comes from the installed library folder."""
    saved = os.path.join(work, "received.ts")
    sink = subprocess.Popen([os.path.join(prefix, "bin", "tcp_sink"), "--port", "0", "--save",
                             saved, "--once"], stdout=subprocess.PIPE, text=True)
    line = sink.stdout.readline()
    check("sink listens", line.startswith("listening on "), line)
    port = line.split()[-1] if line.startswith("listening on ") else "0"
    expected = os.path.join(work, "filtered.ts")
    program = os.path.join(prefix, "bin", "quilvaren")
    subprocess.run([program, "-mode", "filter", "-noprogress", "-filterpath", expected, SAMPLE],
                   stdout=subprocess.PIPE, timeout=60)
    run = subprocess.run([program, "-mode", "filter", "-filterpath",
                          "\\\\.\\sendtstcp\\127.0.0.1:" + port, SAMPLE],
                         stdout=subprocess.PIPE, timeout=60)
    text = run.stdout.decode("utf-8", "replace")
    check("default sender library found", "－ SendTSTCP.dll 開始成功 127.0.0.1:" + port in text,
          repr(text[:300]))
    try:
        sink.wait(timeout=10)
    except subprocess.TimeoutExpired:
        sink.kill()
    with open(expected, "rb") as a:
        want = a.read()
    got = open(saved, "rb").read() if os.path.exists(saved) else b""
    check("sink received the filtered stream", got == want, "%d of %d bytes" % (len(got), len(want)))


def play_installed_tuner(prefix, work):
    drivers = os.path.join(prefix, "lib", "quilvaren")
    shutil.copy(SAMPLE, os.path.join(drivers, "sample.ts"))
    with open(os.path.join(drivers, "libfile_tuner.channels"), "w") as channels:
        channels.write("0 13 sample.ts x8\n")
    driver = os.path.join(drivers, "libfile_tuner.so")
    run = subprocess.run([os.path.join(prefix, "bin", "quilvaren"), "-noprogress", "-duration",
                          "4.5", "\\\\.\\bondriver\\0\\13\\" + driver],
                         stdout=subprocess.PIPE, timeout=60)
    text = run.stdout.decode("utf-8", "replace")
    check("tuner plays the sample's captions", "字幕のテスト" in text and run.returncode == 3,
          "exit %d: %r" % (run.returncode, text[:300]))


def package(build, work):
    if shutil.which("cpack") is None or shutil.which("dpkg-deb") is None:
        print("package: skipped, cpack or dpkg-deb missing")
        return
    run = subprocess.run(["cpack", "-G", "DEB", "-B", work, "--config",
                          os.path.join(build, "CPackConfig.cmake")],
                         stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=300)
    debs = [name for name in os.listdir(work) if name.endswith(".deb")]
    check("package made", run.returncode == 0 and len(debs) == 1,
          run.stdout.decode("utf-8", "replace")[-500:])
    if debs:
        listing = subprocess.run(["dpkg-deb", "-c", os.path.join(work, debs[0])],
                                 stdout=subprocess.PIPE, text=True).stdout
        for path in ["./usr/bin/quilvaren", "./usr/lib/libSendTSTCP.so",
                     "./usr/share/man/man1/quilvaren.1"]:
            check("package holds " + path, path in listing, listing[:500])


def main():
    build = os.path.dirname(os.path.abspath(sys.argv[1]))
    with tempfile.TemporaryDirectory() as work:
        prefix = os.path.join(work, "prefix")
        install(build, prefix)
        check_run_path(os.path.join(build, "quilvaren"))
        check_run_path(os.path.join(prefix, "bin", "quilvaren"))
        send_to_installed_sink(prefix, work)
        play_installed_tuner(prefix, work)
        package(build, os.path.join(work, "package"))
    return summary()


if __name__ == "__main__":
    sys.exit(main())
