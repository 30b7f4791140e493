"""The closing lines of a script test: every problem, then how many of the
items it checked passed. A problem reads "item: what went wrong"."""


def report(problems, items):
    """Prints the problems and the count; the exit code."""
    for p in problems:
        print("FAIL", p)
    failed = len({p.split(":")[0] for p in problems})
    print(f"{items - failed} passed, {failed} failed")
    return 1 if problems else 0
