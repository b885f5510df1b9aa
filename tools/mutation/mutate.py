#!/usr/bin/env python3
"""Mutation testing of the C++ sources: does the suite notice a planted fault?

Each mutant is one small change to one source file: a relational operator
flipped (== !=, < <=, > >=, < >), an integer constant moved by one, an
expression statement dropped, the operands of a non-commutative operator
swapped, or an `if`/`while` condition negated. Comments, string and character
literals, preprocessor lines and assertion macros are never touched.

The tree is mirrored once per invocation into a scratch folder, built
there with ccache; then, for each mutant: apply, incremental rebuild, run the
suite (`ctest --stop-on-failure`, a timeout per test and per mutant), restore.

Outcomes: killed (a test failed), timeout (counted as killed), survived,
build failure (not counted) and equivalent (listed in equivalent.txt beside
this script with a one-line reason, keyed by mutant id; not counted).
Score = killed / (built - equivalent).

Mutant ids are stable: FILE:LINE:COL:RULE, on the unmutated source. The
sample per file is drawn with a seed from all candidates of that file.

    tools/mutation/mutate.py                       # the core files, 25 each
    tools/mutation/mutate.py --sample 10 interpreterLib/buffer.cpp
    tools/mutation/mutate.py --rerun build-mutation/results.txt  # survivors
    tools/mutation/mutate.py --list interpreterLib/read.cpp      # no build
"""

import argparse
import os
import pathlib
import random
import re
import shutil
import subprocess
import sys
import time

ROOT = pathlib.Path(__file__).resolve().parents[2]
HERE = pathlib.Path(__file__).resolve().parent

# The areas whose score is watched, and their files.
CORE = [
    ("scheduler", "interpreterLib/scheduler.cpp"),
    ("scheduler", "interpreterLib/sched_index.cpp"),
    ("process", "interpreterLib/process.cpp"),
    ("statements", "interpreterLib/interp.cpp"),
    ("statements", "interpreterLib/interp_compiled.cpp"),
    ("buffers", "interpreterLib/buffer.cpp"),
    ("console", "zebu_interpreter/interactive.cpp"),
    ("expressions", "parserLib/def_expression.cpp"),
    ("reader", "interpreterLib/read.cpp"),
    ("callbacks", "zebu_interpreter/callbacks.cpp"),
]

ASSERT_MACROS = ("KOVA_ASSERT", "ENV_CHECK", "assert", "static_assert")
STATEMENT_KEYWORDS = {
    "return", "break", "continue", "goto", "case", "default", "using", "typedef", "static",
    "const", "constexpr", "auto", "throw", "namespace", "struct", "class", "enum", "template",
    "if", "for", "while", "do", "switch", "else", "extern", "inline", "friend", "public",
    "private", "protected", "delete", "new", "co_return", "volatile", "unsigned", "signed",
}


# ---------------------------------------------------------------- source text

def mask(text):
    """The text with comments, literals, preprocessor lines and assertion
    macro calls blanked (same length, newlines kept), so that rules only see
    code."""
    out = list(text)
    i, n = 0, len(text)

    def blank(a, b):
        for k in range(a, b):
            if out[k] != "\n":
                out[k] = " "

    at_line_start = True
    while i < n:
        c = text[i]
        if c == "\n":
            at_line_start = True
            i += 1
            continue
        if at_line_start and c in " \t":
            i += 1
            continue
        if at_line_start and c == "#":
            j = i
            while j < n:  # continued preprocessor lines
                e = text.find("\n", j)
                e = n if e < 0 else e
                if e > 0 and text[e - 1] == "\\":
                    j = e + 1
                    continue
                j = e
                break
            blank(i, j)
            i = j
            continue
        at_line_start = False
        if text.startswith("//", i):
            e = text.find("\n", i)
            e = n if e < 0 else e
            blank(i, e)
            i = e
        elif text.startswith("/*", i):
            e = text.find("*/", i + 2)
            e = n if e < 0 else e + 2
            blank(i, e)
            i = e
        elif c == 'R' and text.startswith('R"', i) and (i == 0 or not text[i - 1].isalnum()):
            m = re.match(r'R"([^(\s]*)\(', text[i:])
            if not m:
                i += 1
                continue
            e = text.find(")" + m.group(1) + '"', i)
            e = n if e < 0 else e + len(m.group(1)) + 2
            blank(i, e)
            i = e
        elif c in "\"'":
            if c == "'" and i > 0 and (text[i - 1].isalnum()):
                i += 1  # digit separator
                continue
            j = i + 1
            while j < n and text[j] != c and text[j] != "\n":
                j += 2 if text[j] == "\\" else 1
            blank(i, j + 1)
            i = j + 1
        else:
            i += 1
    masked = "".join(out)
    # Assertion macros: the whole call, however many lines it spans.
    for m in re.finditer(r"\b(" + "|".join(ASSERT_MACROS) + r")\s*\(", masked):
        end = match_paren(masked, m.end() - 1)
        if end is not None:
            blank(m.start(), end + 1)
    return "".join(out)


def match_paren(text, open_at):
    """Index of the parenthesis closing the one at open_at, or None."""
    depth = 0
    for k in range(open_at, len(text)):
        if text[k] == "(":
            depth += 1
        elif text[k] == ")":
            depth -= 1
            if depth == 0:
                return k
    return None


def line_col(text, offset):
    line = text.count("\n", 0, offset) + 1
    col = offset - (text.rfind("\n", 0, offset) + 1) + 1
    return line, col


# ---------------------------------------------------------------- the rules

RELATIONAL = {
    "==": ["!="], "!=": ["=="],
    "<": ["<=", ">"], "<=": ["<"],
    ">": [">=", "<"], ">=": [">"],
}
RULE_NAMES = {"==": "eq", "!=": "ne", "<": "lt", "<=": "le", ">": "gt", ">=": "ge"}
OPERAND = r"[A-Za-z_0-9][\w.]*(?:->\w+)*(?:\[[^\]\n]*\])?"
SWAPPABLE = {"-": "sub", "/": "div", "%": "mod", "<<": "shl", ">>": "shr"}


def candidates(text):
    """All mutants of a source: (offset, length, replacement, rule)."""
    code = mask(text)
    found = []
    # Relational operators: clang-format spaces binary operators and not
    # template brackets, so " < " is a comparison.
    for m in re.finditer(r"(?<=[\w)\]]) (==|!=|<=|>=|<|>) (?=[\w(!\-*&])", code):
        op = m.group(1)
        for repl in RELATIONAL[op]:
            found.append((m.start(1), len(op), repl, f"{RULE_NAMES[op]}-{RULE_NAMES[repl]}"))
    # Integer constants, one up and one down.
    for m in re.finditer(r"(?<![\w.])(0[xX][0-9a-fA-F']+|\d[\d']*)([uUlL]*)(?![\w.'])", code):
        digits = m.group(1).replace("'", "")
        value = int(digits, 16) if digits[:2].lower() == "0x" else int(digits, 10)
        if digits.startswith("0") and len(digits) > 1 and digits[:2].lower() != "0x":
            continue  # octal
        suffix = m.group(2)
        up = (hex(value + 1) if digits[:2].lower() == "0x" else str(value + 1)) + suffix
        found.append((m.start(), m.end() - m.start(), up, "const+1"))
        if value > 0:
            down = (hex(value - 1) if digits[:2].lower() == "0x" else str(value - 1)) + suffix
            found.append((m.start(), m.end() - m.start(), down, "const-1"))
    # Expression statements alone on their line: dropped.
    lines = code.split("\n")
    offset = 0
    previous = ";"
    for line in lines:
        stripped = line.strip()
        if stripped:
            if is_expression_statement(stripped, previous):
                start = offset + line.index(stripped)
                found.append((start, len(stripped), ";", "drop"))
            previous = stripped
        offset += len(line) + 1
    # Operands of a non-commutative operator swapped.
    for m in re.finditer(r"(?<![\w.>\]*/%)])(" + OPERAND + r") (-|/|%|<<|>>) (" + OPERAND +
                         r")(?![\w(\[.]|->)", code):
        left, op, right = m.group(1), m.group(2), m.group(3)
        if left == right or (left.isdigit() and right.isdigit()):
            continue
        found.append((m.start(), m.end() - m.start(), f"{right} {op} {left}",
                      "swap-" + SWAPPABLE[op]))
    # Conditions of if and while negated.
    for m in re.finditer(r"\b(if|while) \(", code):
        open_at = m.end() - 1
        close = match_paren(code, open_at)
        if close is None or code[m.end():].startswith("constexpr"):
            continue
        inner = text[open_at + 1:close]
        if ";" in code[open_at + 1:close]:
            continue  # if with an initializer
        found.append((open_at, close - open_at + 1, f"(!({inner}))", "negate"))
    return found


def is_expression_statement(stripped, previous):
    if not stripped.endswith(";") or previous[-1:] not in (";", "{", "}", ":"):
        return False
    if stripped.count("(") != stripped.count(")"):
        return False
    first = re.match(r"[A-Za-z_]\w*", stripped)
    if stripped.startswith(("++", "--")):
        return True
    if not first or first.group(0) in STATEMENT_KEYWORDS:
        return False
    # A declaration starts with a type followed by a name.
    chain = re.match(r"(?:[A-Za-z_]\w*(?:::|\.|->))*[A-Za-z_]\w*(?:\[[^\]]*\])*", stripped)
    rest = stripped[chain.end():].lstrip()
    return bool(re.match(r"(\(|=[^=]|\+=|-=|\*=|/=|%=|\|=|&=|\^=|<<=|>>=|\+\+|--)", rest))


class Mutant:
    def __init__(self, path, text, offset, length, replacement, rule):
        self.path = path
        self.offset, self.length, self.replacement, self.rule = offset, length, replacement, rule
        self.line, self.col = line_col(text, offset)
        self.id = f"{path}:{self.line}:{self.col}:{rule}"
        start = text.rfind("\n", 0, offset) + 1
        end = text.find("\n", offset + length)
        end = len(text) if end < 0 else end
        self.before = text[start:end].strip()
        self.after = (text[start:offset] + replacement + text[offset + length:end]).strip()

    def apply(self, text):
        return text[:self.offset] + self.replacement + text[self.offset + self.length:]


def mutants_of(path, text):
    return [Mutant(path, text, *c) for c in sorted(candidates(text))]


def sample(mutants, path, size, seed):
    rng = random.Random(f"{seed}:{path}")
    chosen = mutants if len(mutants) <= size else rng.sample(mutants, size)
    return sorted(chosen, key=lambda m: (m.line, m.col, m.rule))


# ---------------------------------------------------------------- the runs

def run(cmd, cwd=None, timeout=None):
    """(status, output); status None on timeout."""
    try:
        done = subprocess.run(cmd, cwd=cwd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                              timeout=timeout, text=True, errors="replace",
                              start_new_session=True)
        return done.returncode, done.stdout
    except subprocess.TimeoutExpired as e:
        return None, (e.output or b"").decode(errors="replace") if isinstance(e.output, bytes) \
            else (e.output or "")


def sync_tree(source, target):
    """Mirrors the repository into target, skipping build folders and the
    history. Only changed files are written (with a new time stamp, so that
    a file an interrupted run left mutated is rebuilt once restored)."""
    def skipped(rel):
        top = rel.parts[0]
        return top.startswith("build") or top in (".git", "out")

    seen = set()
    for folder, dirs, names in os.walk(source):
        rel_folder = pathlib.Path(folder).relative_to(source)
        dirs[:] = [d for d in dirs if not (rel_folder == pathlib.Path(".") and
                                           skipped(pathlib.Path(d)))]
        for name in names:
            rel = rel_folder / name
            seen.add(rel)
            src, dst = pathlib.Path(folder) / name, target / rel
            data = src.read_bytes()
            if dst.exists() and dst.read_bytes() == data:
                continue
            dst.parent.mkdir(parents=True, exist_ok=True)
            dst.write_bytes(data)
            shutil.copymode(src, dst)
    for folder, _, names in os.walk(target):
        for name in names:
            rel = pathlib.Path(folder).relative_to(target) / name
            if rel not in seen:
                (target / rel).unlink()


def prepare(work, source):
    src, build = work / "src", work / "build"
    src.mkdir(parents=True, exist_ok=True)
    sync_tree(source, src)
    if not (build / "CMakeCache.txt").exists():
        # Light optimisation, no debug information, a fast linker: most of a
        # mutant's cost is relinking every test executable.
        generator = ["-G", "Ninja"] if shutil.which("ninja") else []
        linker = ["-DCMAKE_EXE_LINKER_FLAGS=-fuse-ld=lld"] if shutil.which("ld.lld") else []
        status, out = run(["cmake", "-S", str(src), "-B", str(build), *generator,
                           "-DCMAKE_BUILD_TYPE=Debug", "-DCMAKE_CXX_FLAGS_DEBUG=-O1",
                           "-DCMAKE_CXX_COMPILER_LAUNCHER=ccache", *linker])
        if status != 0:
            sys.exit(f"configure failed:\n{out}")
    return src, build


def build_tree(build, jobs):
    status, out = run(["cmake", "--build", str(build), "-j", str(jobs)])
    return status == 0, out


def run_suite(build, jobs, per_test, overall):
    status, out = run(["ctest", "--test-dir", str(build), "--stop-on-failure", "-j", str(jobs),
                       "--timeout", str(per_test)], timeout=overall)
    if status is None:
        return "timeout"
    if "***Timeout" in out:
        return "timeout"
    return "survived" if status == 0 else "killed"


def load_equivalent(path):
    equivalent = {}
    if path.exists():
        for line in path.read_text().splitlines():
            line = line.strip()
            if line and not line.startswith("#"):
                key, _, reason = line.partition(" ")
                equivalent[key] = reason.strip()
    return equivalent


def area_of(path):
    for area, file in CORE:
        if file == path:
            return area
    return path


def report(results, equivalent, out):
    """The table per file; returns the lines written."""
    rows = []
    header = f"{'area':<12} {'file':<34} {'mutants':>7} {'killed':>6} {'survived':>8} " \
             f"{'equiv':>5} {'no build':>8} {'score':>6}"
    rows.append(header)
    rows.append("-" * len(header))
    by_file = {}
    for m, outcome in results:
        by_file.setdefault(m.path, []).append((m, outcome))
    totals = [0, 0, 0, 0, 0]
    for path, entries in by_file.items():
        killed = sum(1 for _, o in entries if o in ("killed", "timeout"))
        survived = sum(1 for _, o in entries if o == "survived")
        equiv = sum(1 for _, o in entries if o == "equivalent")
        broken = sum(1 for _, o in entries if o == "build failure")
        counted = killed + survived
        score = f"{100.0 * killed / counted:.1f}%" if counted else "-"
        rows.append(f"{area_of(path):<12} {path:<34} {len(entries):>7} {killed:>6} "
                    f"{survived:>8} {equiv:>5} {broken:>8} {score:>6}")
        for k, v in enumerate((len(entries), killed, survived, equiv, broken)):
            totals[k] += v
    counted = totals[1] + totals[2]
    score = f"{100.0 * totals[1] / counted:.1f}%" if counted else "-"
    rows.append("-" * len(header))
    rows.append(f"{'total':<12} {'':<34} {totals[0]:>7} {totals[1]:>6} {totals[2]:>8} "
                f"{totals[3]:>5} {totals[4]:>8} {score:>6}")
    for row in rows:
        print(row, file=out)
    return rows


def write_results(path, results, rows):
    with open(path, "w") as f:
        f.write("# mutation results: one line per mutant, id then outcome; survivors\n")
        f.write("# are followed by their line before and after the change.\n")
        for row in rows:
            f.write(f"# {row}\n")
        for m, outcome in results:
            f.write(f"{m.id} {outcome.replace(' ', '-')}\n")
            if outcome == "survived":
                f.write(f"  - {m.before}\n  + {m.after}\n")


def read_ids(path):
    """The ids of a results file to run again: its survivors (or every id of
    a plain list, one per line)."""
    ids = []
    for line in pathlib.Path(path).read_text().splitlines():
        if not line or line.startswith(("#", " ")):
            continue
        parts = line.split()
        if len(parts) == 1 or parts[1] == "survived":
            ids.append(parts[0])
    return ids


class Recorded:
    """A mutant as a results file names it."""
    def __init__(self, mutant_id):
        self.id = mutant_id
        self.path = mutant_id.rsplit(":", 3)[0]


def report_files(paths, equivalent):
    """The table of one or more results files, a later file's outcome of a
    mutant replacing an earlier one's (a campaign, then re-runs of its
    survivors); survivors listed as equivalent since are counted as such."""
    outcomes = {}
    for path in paths:
        for line in pathlib.Path(path).read_text().splitlines():
            if not line or line.startswith(("#", " ")):
                continue
            mutant_id, outcome = line.split()[:2]
            outcomes[mutant_id] = outcome.replace("-", " ")
    results = []
    for mutant_id, outcome in outcomes.items():
        if outcome == "survived" and mutant_id in equivalent:
            outcome = "equivalent"
        results.append((Recorded(mutant_id), outcome))
    report(results, equivalent, sys.stdout)
    for m, outcome in results:
        if outcome == "survived":
            print(f"survived: {m.id}")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("files", nargs="*", help="sources relative to the repository "
                        "(default: the core files)")
    parser.add_argument("--sample", type=int, default=25, help="mutants per file (default 25)")
    parser.add_argument("--seed", default="14", help="sampling seed (default 14)")
    parser.add_argument("--rerun", metavar="RESULTS", help="run only the survivors of a results "
                        "file (or the ids of a list, one per line)")
    parser.add_argument("--work", default=str(ROOT / "build-mutation"),
                        help="scratch folder (default build-mutation)")
    parser.add_argument("--results", help="results file (default WORK/results.txt)")
    parser.add_argument("--equivalent", default=str(HERE / "equivalent.txt"))
    parser.add_argument("--source", default=str(ROOT), help="the tree to mirror and mutate "
                        "(default: this repository; e.g. an export of an older commit, to "
                        "score its tests)")
    parser.add_argument("--jobs", type=int, default=2)
    parser.add_argument("--timeout", type=int, default=0, help="seconds per mutant "
                        "(default: three times the unmutated suite, at least 60)")
    parser.add_argument("--list", action="store_true", help="list the sampled mutants only")
    parser.add_argument("--report", nargs="+", metavar="RESULTS", help="print the table of "
                        "results files (later ones override earlier outcomes); no build")
    args = parser.parse_args()

    equivalent = load_equivalent(pathlib.Path(args.equivalent))
    if args.report:
        report_files(args.report, equivalent)
        return 0
    files = args.files or [file for _, file in CORE]
    wanted = None
    if args.rerun:
        wanted = read_ids(args.rerun)
        files = sorted({i.rsplit(":", 3)[0] for i in wanted}, key=lambda f: (
            [file for _, file in CORE] + [f]).index(f))

    chosen = []
    for path in files:
        text = (pathlib.Path(args.source) / path).read_text()
        every = mutants_of(path, text)
        if wanted is not None:
            ids = set(wanted)
            picked = [m for m in every if m.id in ids]
            missing = ids - {m.id for m in every} - {i for i in ids if not i.startswith(path)}
            for i in sorted(missing):
                print(f"warning: {i} no longer matches {path}", file=sys.stderr)
        else:
            picked = sample(every, path, args.sample, args.seed)
        chosen.extend(picked)
    if args.list:
        for m in chosen:
            mark = "  [equivalent]" if m.id in equivalent else ""
            print(f"{m.id}{mark}\n  - {m.before}\n  + {m.after}")
        return 0

    work = pathlib.Path(args.work).resolve()
    src, build = prepare(work, pathlib.Path(args.source).resolve())
    print(f"building the unmutated tree in {build} ...", flush=True)
    ok, out = build_tree(build, args.jobs)
    if not ok:
        sys.exit(f"the unmutated tree does not build:\n{out[-4000:]}")
    started = time.monotonic()
    status, out = run(["ctest", "--test-dir", str(build), "-j", str(args.jobs)])
    baseline = time.monotonic() - started
    if status != 0:
        sys.exit(f"the unmutated suite fails; fix that first:\n{out[-4000:]}")
    overall = args.timeout or max(60, int(3 * baseline))
    per_test = max(20, overall // 2)
    print(f"suite: {baseline:.0f} s unmutated; timeout {overall} s per mutant, "
          f"{per_test} s per test; {len(chosen)} mutants", flush=True)

    results_path = pathlib.Path(args.results) if args.results else work / "results.txt"
    results = []
    for k, m in enumerate(chosen, 1):
        if m.id in equivalent:
            results.append((m, "equivalent"))
            print(f"[{k}/{len(chosen)}] {m.id}: equivalent", flush=True)
            continue
        target = src / m.path
        original = target.read_text()
        begun = time.monotonic()
        try:
            target.write_text(m.apply(original))
            built, _ = build_tree(build, args.jobs)
            outcome = run_suite(build, args.jobs, per_test, overall) if built else "build failure"
        finally:
            target.write_text(original)
        results.append((m, outcome))
        print(f"[{k}/{len(chosen)}] {m.id}: {outcome} ({time.monotonic() - begun:.0f} s)",
              flush=True)
        if outcome == "survived":
            print(f"  - {m.before}\n  + {m.after}", flush=True)
        # Kept up to date, so that an interrupted campaign leaves what it found.
        with open(os.devnull, "w") as sink:
            write_results(results_path, results, report(results, equivalent, sink))
    # Leave the scratch build matching the tree.
    build_tree(build, args.jobs)

    print()
    rows = report(results, equivalent, sys.stdout)
    write_results(results_path, results, rows)
    print(f"\nresults: {results_path}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
