#!/usr/bin/env python3
"""Ctrl+C while the program waits for a key: it runs on a pseudo-terminal, gets SIGINT during
the wait, prints the notice on its own line, runs no pass and exits 0."""
import os
import pty
import select
import signal
import sys
import time



def on_terminal(text):
    """What the terminal shows for the program's bytes: it turns every "\n" into "\r\n"."""
    return text.encode().replace(b"\n", b"\r\n")


PROMPT = on_terminal("－ 続行するには何かキーを押してください . . .\r\n")
NOTICE = on_terminal("－ CTRL+Cが押されました\n")
EXIT_LINE = on_terminal("－ 終了します. ( 戻り値 : 0 )\n")


def read_until(fd, wanted, timeout):
    data = b""
    end = time.time() + timeout
    while wanted not in data and time.time() < end:
        ready, _, _ = select.select([fd], [], [], 0.1)
        if ready:
            try:
                chunk = os.read(fd, 4096)
            except OSError:
                break
            if not chunk:
                break
            data += chunk
    return data


def main():
    program = sys.argv[1]
    pid, fd = pty.fork()
    if pid == 0:
        os.execv(program, [program, "-pause", "-detail", "missing-source.ts"])
    out = read_until(fd, PROMPT, 10)
    if PROMPT not in out:
        print("no prompt: %r" % out)
        return 1
    time.sleep(0.3)
    os.kill(pid, signal.SIGINT)
    out += read_until(fd, b")\r\n", 10)
    _, status = os.waitpid(pid, 0)
    expected = PROMPT + NOTICE + EXIT_LINE
    if out != expected:
        print("unexpected output:\n%r\nwanted:\n%r" % (out, expected))
        return 1
    if not os.WIFEXITED(status) or os.WEXITSTATUS(status) != 0:
        print("exit status %r" % status)
        return 1
    print("1 passed, 0 failed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
