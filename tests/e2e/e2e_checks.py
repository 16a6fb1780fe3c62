"""Named checks of the end-to-end scripts: each failure is printed as it happens, and the summary
gives the script's exit code."""

import subprocess
import time

results = []


def check(name, condition, detail=""):
    results.append(condition)
    if not condition:
        print("FAILED %s %s" % (name, detail))


def summary():
    """Prints the count of checks and failures; returns 1 when any check failed, else 0."""
    failed = len(results) - sum(1 for r in results if r)
    print("%d checks, %d failed" % (len(results), failed))
    return 1 if failed else 0


def stop_process(process, sig, name, within):
    """Sends `sig` and waits for the process to end: its (stdout, stderr) when it ended within 10
    seconds (and a check that it did so within `within` seconds), else None after killing it."""
    started = time.time()
    process.send_signal(sig)
    try:
        streams = process.communicate(timeout=10)
    except subprocess.TimeoutExpired:
        process.kill()
        process.communicate()
        check(name + ": stop", False, "no end within 10 s of signal %d" % sig)
        return None
    elapsed = time.time() - started
    check(name + ": ends promptly", elapsed < within, "%.2f s" % elapsed)
    return streams
