"""Named checks of the end-to-end scripts: each failure is printed as it happens, and the summary
gives the script's exit code."""

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
