"""The pytest suite under AddressSanitizer and UBSan, for a sanitized build.

    sanitized_pytest.py LIBASAN LIBUBSAN PYTEST_ARGS...

Debian's interpreter is not instrumented, so the sanitizer runtimes are
preloaded. The interpreter and numpy keep some memory to the very end by
design, so leaks go to log files instead of failing the run, and only the
leaks whose allocation passes through Lumifold's code (the module or the
command line the tests start) fail it. Any other report fails it as usual.
"""

import glob
import os
import subprocess
import sys
import tempfile


def leak_blocks(text):
    block = []
    for line in text.splitlines():
        if line.startswith(("Direct leak", "Indirect leak")):
            block = [line]
        elif block and line.strip():
            block.append(line)
        elif block:
            yield "\n".join(block)
            block = []
    if block:
        yield "\n".join(block)


def main():
    asan, ubsan, *pytest_args = sys.argv[1:]
    with tempfile.TemporaryDirectory() as logs:
        env = dict(os.environ)
        env["LD_PRELOAD"] = f"{asan}:{ubsan}"
        # Later options win: errors still abort, leaks only go to the log.
        env["ASAN_OPTIONS"] = env.get("ASAN_OPTIONS", "") + f":abort_on_error=1:log_path={logs}/report"
        env["LSAN_OPTIONS"] = env.get("LSAN_OPTIONS", "") + ":exitcode=0"
        env.setdefault("UBSAN_OPTIONS", "print_stacktrace=1:halt_on_error=1")
        status = subprocess.run([sys.executable, "-m", "pytest", *pytest_args], env=env).returncode
        ours = []
        for path in sorted(glob.glob(os.path.join(logs, "report*"))):
            text = open(path, errors="replace").read()
            blocks = list(leak_blocks(text))
            ours += [b for b in blocks if "lumifold" in b]
            if not blocks:
                sys.stderr.write(text)
                status = status or 1
    for block in ours:
        sys.stderr.write(block + "\n\n")
    if ours:
        print(f"sanitized_pytest: {len(ours)} leak(s) through Lumifold's code", file=sys.stderr)
        return 1
    return status


if __name__ == "__main__":
    sys.exit(main())
