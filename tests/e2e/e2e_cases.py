"""The case runner every end-to-end script shares. A script keeps its cases
in one list, CASES (functions named case_*), and hands its command line to
cli():

    SCRIPT ARGS... --list       the case names, one a line
    SCRIPT ARGS... [CASE...]    runs the named cases (all when none is named)

CMake asks each script for its list when ctest starts and registers one
CTest entry per case (tests/e2e_cases.cmake), so a failure names its case
and the list is written only here.
"""
import sys
import time


def run_cases(cases, ctx, wanted=()):
    """Runs the cases (those named in `wanted`, when given) with `ctx` as
    their argument, one line each and the closing count; the exit status.
    A name that is no case fails: a renamed case must not pass unseen."""
    names = {case.__name__ for case in cases}
    passed = failed = 0
    for name in sorted(set(wanted) - names):
        failed += 1
        print(f"FAIL {name}: no such case", flush=True)
    for case in cases:
        if wanted and case.__name__ not in wanted:
            continue
        t = time.monotonic()
        try:
            case(ctx)
            passed += 1
            print(f"ok   {case.__name__} ({time.monotonic() - t:.1f} s)", flush=True)
        except Exception as e:
            failed += 1
            print(f"FAIL {case.__name__}: {e!r}", flush=True)
    print(f"{passed} passed, {failed} failed")
    return 1 if failed or not passed else 0


def cli(cases, run=None, argv=None):
    """Lists the cases for --list; otherwise returns run(argv), the script's
    own reading of its arguments and its run of the cases. Without `run`
    the arguments are BIN_DIR [CASE...], BIN_DIR the cases' argument."""
    argv = sys.argv[1:] if argv is None else argv
    if "--list" in argv:
        for case in cases:
            print(case.__name__)
        return 0
    if run is None:
        return run_cases(cases, argv[0], set(argv[1:]))
    return run(argv)
