#!/usr/bin/env python3
"""Mutation campaign: hostile program files run by kova.

Makes mutated copies of valid program files (bit flips, overwritten words,
counts of the information record set to 0 / 0xFFFFFFFF / small values,
truncations, appended tails, sections spliced from another file) and runs
`kova -q -z -t 200` on each, best under an AddressSanitizer build, with a
time limit. Every run must end in one of three ways:

  refused   the loader refused the file and said why
  failed    the run ended through a run-time failure message (or the
            program's own exit or assertion status)
  ran       the run ended normally

and never as an assertion abort, a sanitizer report, a signal or a hang.
The counts are printed; the exit status is 1 when any run ended badly, and
each such file is kept in the output folder with what kova printed.

    python3 tests/fuzz/mutation_campaign.py --kova build-sanitize/zebu_interpreter/kova \\
        --seeds build/tests/tmp build/examples --count 3000
"""

import argparse
import collections
import concurrent.futures
import os
import pathlib
import random
import re
import shutil
import struct
import subprocess
import sys
import tempfile

HEADER_AND_INFO = 224
INFO_COUNTS = 24 + 128  # offset of the first count of the information record
N_COUNTS = 18
BOUNDARIES = [0, 1, 2, 3, 7, 8, 35, 36, 0x7F, 0xFF, 0xFFFF, 0x7FFFFFFF, 0x80000000,
              0xFFFFFFFE, 0xFFFFFFFF, 1000, 3199, 3200]
BAD = ("abort", "sanitizer", "signal", "hang")


def word(data, at):
    return struct.unpack_from("<I", data, at)[0]


def set_word(data, at, value):
    struct.pack_into("<I", data, at, value & 0xFFFFFFFF)


def mutate(rng, data, other):
    data = bytearray(data)
    kind = rng.choice(["flip", "word", "count", "truncate", "tail", "splice"])
    if kind == "flip":
        for _ in range(rng.randint(1, 8)):
            at = rng.randrange(len(data))
            data[at] ^= 1 << rng.randrange(8)
    elif kind == "word" and len(data) > HEADER_AND_INFO + 4:
        for _ in range(rng.randint(1, 3)):
            at = HEADER_AND_INFO + 4 * rng.randrange((len(data) - HEADER_AND_INFO) // 4)
            set_word(data, at, rng.choice(BOUNDARIES))
    elif kind == "count":
        at = INFO_COUNTS + 4 * rng.randrange(N_COUNTS)
        old = word(data, at)
        set_word(data, at, rng.choice([0, 0xFFFFFFFF, 1, 2, old + 1, old - 1, old // 2]))
    elif kind == "truncate":
        del data[rng.randrange(len(data)):]
    elif kind == "tail":
        data += bytes(rng.randrange(256) for _ in range(rng.randint(1, 64)))
    else:  # splice: a stretch of another file at the same place
        limit = min(len(data), len(other))
        if limit > 8:
            start = rng.randrange(limit) & ~7
            length = min(limit - start, rng.randint(8, 512))
            data[start:start + length] = other[start:start + length]
    return kind, bytes(data)


def classify(result, timed_out):
    if timed_out:
        return "hang"
    out = result.stdout.decode("latin-1")
    err = result.stderr.decode("latin-1")
    if "Sanitizer" in err or "runtime error:" in err:
        return "sanitizer"
    if result.returncode < 0:
        return "abort" if result.returncode == -6 else "signal"
    if result.returncode == 0:
        return "ran"
    if "invalid Kova AST file !" in out or "using old Kova AST file" in out:
        return "refused"
    return "failed"


def run_one(kova, path, timeout):
    env = dict(os.environ)
    env.setdefault("ASAN_OPTIONS", "abort_on_error=0:detect_leaks=1")
    env.setdefault("UBSAN_OPTIONS", "halt_on_error=1:print_stacktrace=1")
    with tempfile.TemporaryDirectory(prefix="kova-mut-") as cwd:
        try:
            result = subprocess.run([kova, "-q", "-z", "-t", "200", str(path)], cwd=cwd,
                                    env=env, capture_output=True, timeout=timeout,
                                    stdin=subprocess.DEVNULL)
            return classify(result, False), result
        except subprocess.TimeoutExpired as expired:
            stub = subprocess.CompletedProcess(expired.cmd, -9, expired.stdout or b"",
                                               expired.stderr or b"")
            return "hang", stub


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--kova", required=True, help="the kova executable")
    parser.add_argument("--seeds", nargs="+", required=True,
                        help="program files, or folders searched for *.ast files")
    parser.add_argument("--count", type=int, default=3000)
    parser.add_argument("--timeout", type=float, default=30.0, help="seconds per run")
    parser.add_argument("--jobs", type=int, default=2)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--out", default="mutation-campaign", help="where bad runs are kept")
    args = parser.parse_args()

    seeds = []
    for name in args.seeds:
        p = pathlib.Path(name)
        seeds += sorted(p.rglob("*.ast")) if p.is_dir() else [p]
    seeds = [s.read_bytes() for s in seeds if s.stat().st_size >= HEADER_AND_INFO]
    if not seeds:
        sys.exit("no program files among the seeds")
    print(f"{len(seeds)} seed programs, {args.count} mutated files")

    rng = random.Random(args.seed)
    out = pathlib.Path(args.out)
    if out.exists():
        shutil.rmtree(out)
    files = out / "files"
    files.mkdir(parents=True)
    jobs = []
    for i in range(args.count):
        kind, data = mutate(rng, rng.choice(seeds), rng.choice(seeds))
        path = files / f"m{i:05d}.ast"
        path.write_bytes(data)
        jobs.append((i, kind, path))

    counts = collections.Counter()
    reasons = collections.Counter()
    with concurrent.futures.ThreadPoolExecutor(args.jobs) as pool:
        futures = {pool.submit(run_one, args.kova, path, args.timeout): (i, kind, path)
                   for i, kind, path in jobs}
        for future in concurrent.futures.as_completed(futures):
            i, kind, path = futures[future]
            outcome, result = future.result()
            counts[outcome] += 1
            lines = result.stdout.decode("latin-1").splitlines()
            if outcome == "refused":
                marker = [k for k, l in enumerate(lines) if "Kova AST file" in l]
                reason = lines[marker[0] + 1] if marker and marker[0] + 1 < len(lines) else ""
                if not reason or reason.startswith("EXIT"):
                    reason = "(refused by the reader)"
                reasons[re.sub(r"[0-9]+", "N", reason.split(": ", 1)[-1])] += 1
            if outcome in BAD:
                keep = out / f"{outcome}-m{i:05d}"
                keep.mkdir()
                shutil.copy(path, keep / "program.ast")
                (keep / "stdout").write_bytes(result.stdout)
                (keep / "stderr").write_bytes(result.stderr)
                (keep / "mutation").write_text(kind + "\n")
            else:
                path.unlink()

    for outcome in ("refused", "failed", "ran") + BAD:
        print(f"{outcome:10} {counts[outcome]}")
    print("most frequent refusals:")
    for reason, n in reasons.most_common(10):
        print(f"  {n:6} {reason}")
    bad = sum(counts[o] for o in BAD)
    print(f"{sum(counts.values())} runs, {bad} bad")
    sys.exit(1 if bad else 0)


if __name__ == "__main__":
    main()
