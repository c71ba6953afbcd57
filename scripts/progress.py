"""Runs a build command and shows its progress in a few short lines instead of its log.

    python scripts/progress.py --log build/logs/demo.log -- pip install -v .

Ninja's "[N/M] ..." lines become "build step N of M", printed at least every 10 s
(with the time spent so far while a long step runs); compiler warnings and errors
pass through. The whole output goes to the log; when the command fails, the end of
the log is printed as well. Exits with the command's own status.
"""

from __future__ import annotations

import argparse
import pathlib
import queue
import re
import subprocess
import sys
import threading
import time

STEP = re.compile(r"^\s*\[(\d+)/(\d+)\]")  # pip -v indents the build tool's lines
SHOWN = re.compile(r"(warning|error):|^FAILED:|^CMake Error|^ninja: build stopped")
HEARTBEAT_S = 10.0
TAIL_LINES = 60


def main() -> int:
    parser = argparse.ArgumentParser()
    parser.add_argument(
        "--log", type=pathlib.Path, required=True, help="where the full output goes"
    )
    parser.add_argument("--label", default="build", help="the word that starts each line")
    parser.add_argument("command", nargs=argparse.REMAINDER)
    args = parser.parse_args()
    command = args.command[1:] if args.command[:1] == ["--"] else args.command
    if not command:
        parser.error("no command given")
    args.log.parent.mkdir(parents=True, exist_ok=True)

    start = time.monotonic()
    lines: queue.Queue[str | None] = queue.Queue()
    proc = subprocess.Popen(
        command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, errors="replace"
    )

    def reader() -> None:
        assert proc.stdout is not None
        for line in proc.stdout:
            lines.put(line)
        lines.put(None)

    threading.Thread(target=reader, daemon=True).start()
    done = total = 0
    last_shown = start
    tail: list[str] = []
    with args.log.open("w") as log:
        while True:
            try:
                line = lines.get(timeout=1.0)
            except queue.Empty:
                line = ""
            if line is None:
                break
            now = time.monotonic()
            if line:
                log.write(line)
                tail = [*tail[-(TAIL_LINES - 1) :], line]
                step = STEP.match(line)
                if step:
                    done, total = int(step[1]), int(step[2])
                    print(
                        f"  {args.label}: step {done} of {total} ({now - start:.0f} s)", flush=True
                    )
                    last_shown = now
                elif SHOWN.search(line):
                    print("  " + line.rstrip(), flush=True)
            if now - last_shown >= HEARTBEAT_S:
                where = f"step {done} of {total}" if total else "configuring"
                print(f"  {args.label}: {where}, working ({now - start:.0f} s)", flush=True)
                last_shown = now
    status = proc.wait()
    elapsed = time.monotonic() - start
    if status != 0:
        print(f"{args.label}: failed after {elapsed:.0f} s; the end of {args.log}:", flush=True)
        sys.stdout.write("".join(tail))
    else:
        print(f"  {args.label}: done in {elapsed:.0f} s (full log: {args.log})", flush=True)
    return status


if __name__ == "__main__":
    sys.exit(main())
