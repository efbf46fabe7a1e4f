#!/usr/bin/env python3
"""Mutation check for the core and the layers above it.

Copies the tree into a scratch directory (build-mutate/ by default, kept
between runs so that a second run rebuilds little), builds the fast test
suites of every directory the list touches, checks that they pass, then
applies each mutation of a list (see mutations.txt for the format) on its
own: rebuild, run the fast suites of the mutated file's directory, restore.
Prints one line per mutation -- caught, missed, not-applied (the pattern is
not found exactly once) or no-build (the mutated tree does not compile) --
and the score: mutations caught out of all listed.

    tests/mutation/mutate.py [--list FILE] [--jobs N] [--only TEXT] [--scratch DIR]
"""

import argparse
import filecmp
import os
import re
import shutil
import subprocess
import sys
import time
from pathlib import Path
from typing import NamedTuple, Tuple

ROOT = Path(__file__).resolve().parents[2]



class Suites(NamedTuple):
    """The fast suites for the files of one directory: the targets to build,
    then the tests to run -- by label (each gtest executable labels its tests
    with its own name) or, for tests without one, by name -- less the slow."""
    targets: Tuple[str, ...]
    labels: Tuple[str, ...] = ()
    names: Tuple[str, ...] = ()
    slow: Tuple[str, ...] = ()

    def selection(self):
        chosen = (["-L", "^(" + "|".join(self.labels) + ")$"] if self.labels
                  else ["-R", "^(" + "|".join(self.names) + ")$"])
        return chosen + (["-E", "|".join(self.slow)] if self.slow else [])


# The suites that exercise the core directly. Left out: the tests that take
# more than about three seconds (keep-alive periods, the AT-mode limits,
# fault sequences), which would make the run take far too long.
CORE_LABELS = ("link_tests", "opening_tests", "hardening_tests", "tag_command_tests",
               "settings_tests", "config_tests", "e2e_tests")
CORE = Suites(targets=CORE_LABELS, labels=CORE_LABELS,
              slow=(r"KeepAlive", r"SlowAtRoutine", r"ChangeATMode\.", r"E2eFaults\.EachFault"))

# By the first directory of the mutated file's path. The gateway's suite
# starts brokers, simulators and gateways (about 25 s) and pins the back-off
# of common/; the tool's runs whole sessions; the C++ API is a header that
# the tool and the gateway build on; the Python package runs from the source
# tree, so nothing is rebuilt for it.
SUITES_BY_DIRECTORY = {
    "link": CORE,
    "commands": CORE,
    "gateway": Suites(targets=("gateway_tests",), labels=("gateway_tests",)),
    "common": Suites(targets=("gateway_tests",), labels=("gateway_tests",)),  # the gateway's back-offs
    "tools": Suites(targets=("tools_tests", "tools_session_tests"), labels=("tools_tests", "tools_session_tests")),
    "include": Suites(targets=("cpp_api_tests", "gateway_tests", "tools_session_tests"),
                      labels=("cpp_api_tests", "gateway_tests", "tools_session_tests"),
                      slow=(r"GatewayTest\.", r"CliWatch\.", r"CliActive\.")),
    "python": Suites(targets=("Morvent", "morvent-sim"), names=("python_api",)),
}

TEST_TIMEOUT_S = 60


def parse_list(path):
    mutations = []
    for number, raw in enumerate(path.read_text().splitlines(), 1):
        line = raw.strip()
        if not line or line.startswith("#"):
            continue
        head, sep, replacement = line.partition(" ==> ")
        file_name, colon, pattern = head.partition(": ")
        if not sep or not colon or not pattern.strip():
            sys.exit(f"{path}:{number}: expected '<file>: <pattern> ==> <replacement>'")
        file_name = file_name.strip()
        if file_name.split("/")[0] not in SUITES_BY_DIRECTORY:
            sys.exit(f"{path}:{number}: no suites for {file_name}; directories: {', '.join(SUITES_BY_DIRECTORY)}")
        mutations.append((file_name, pattern.strip(), replacement.strip(), number))
    return mutations


def suites_of(file_name):
    return SUITES_BY_DIRECTORY[file_name.split("/")[0]]


def sync_tree(destination):
    """Copies the working tree's files (tracked and new, not ignored) into
    `destination`; a file already there with the same content is left
    untouched, so that a second run rebuilds only what changed."""
    listed = subprocess.run(
        ["git", "ls-files", "-z", "--cached", "--others", "--exclude-standard"],
        cwd=ROOT, check=True, capture_output=True).stdout.split(b"\0")
    for entry in listed:
        if not entry:
            continue
        relative = entry.decode()
        source = ROOT / relative
        if not source.is_file():
            continue  # deleted in the working tree
        target = destination / relative
        if target.is_file() and filecmp.cmp(source, target, shallow=False):
            continue
        target.parent.mkdir(parents=True, exist_ok=True)
        shutil.copy2(source, target)
        target.touch()  # newer than anything built from an older copy


def run(command, cwd, env, log=None, timeout=None):
    result = subprocess.run(command, cwd=cwd, env=env, stdout=subprocess.PIPE,
                            stderr=subprocess.STDOUT, text=True, timeout=timeout)
    if log is not None:
        log.write(f"$ {' '.join(command)}\n{result.stdout}\n")
        log.flush()
    return result


def build(tree, env, log, jobs, targets):
    return run(["cmake", "--build", "build", "-j", str(jobs), "--target", *targets],
               tree, env, log).returncode == 0


def suite_command(suites, jobs):
    return ["ctest", "--test-dir", "build", *suites.selection(), "-j", str(jobs), "--timeout", str(TEST_TIMEOUT_S),
            "--stop-on-failure", "--repeat", "until-pass:2", "--output-on-failure"]


def failed_tests(output):
    """The names ctest lists under 'The following tests FAILED'."""
    names = []
    listing = output.partition("The following tests FAILED:")[2]
    for line in listing.splitlines():
        match = re.match(r"\s*\d+ - (\S+)", line)
        if match:
            names.append(match.group(1))
    return names


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--list", default=str(ROOT / "tests/mutation/mutations.txt"))
    parser.add_argument("--jobs", type=int, default=max(2, 2 * (os.cpu_count() or 1)),
                        help="tests run at once (default: twice the cores)")
    parser.add_argument("--only", help="apply only the mutations whose line contains TEXT")
    parser.add_argument("--scratch", default=str(ROOT / "build-mutate"),
                        help="where the copy of the tree and its build live (kept between runs)")
    args = parser.parse_args()

    list_path = Path(args.list).resolve()
    mutations = parse_list(list_path)
    if args.only:
        mutations = [m for m in mutations if args.only in f"{m[0]}: {m[1]} ==> {m[2]}"]
    if not mutations:
        sys.exit("no mutations to apply")

    scratch = Path(args.scratch).resolve()
    tree = scratch / "tree"
    tree.mkdir(parents=True, exist_ok=True)
    log_path = scratch / "mutate.log"
    env = dict(os.environ)
    env["CCACHE_BASEDIR"] = str(tree)  # compile results shared with other trees
    env["CCACHE_NOHASHDIR"] = "1"
    build_jobs = os.cpu_count() or 2
    started = time.monotonic()
    print(f"mutate: {len(mutations)} mutations from {list_path.relative_to(ROOT) if list_path.is_relative_to(ROOT) else list_path}; "
          f"scratch tree and log in {scratch}", flush=True)
    results = []
    with open(log_path, "w") as log:
        sync_tree(tree)
        configure = ["cmake", "-S", ".", "-B", "build", "-G", "Ninja",
                     "-DCMAKE_BUILD_TYPE=RelWithDebInfo"]
        if shutil.which("ccache"):
            configure += ["-DCMAKE_C_COMPILER_LAUNCHER=ccache", "-DCMAKE_CXX_COMPILER_LAUNCHER=ccache"]
        used = list(dict.fromkeys(suites_of(m[0]) for m in mutations))
        targets = list(dict.fromkeys(t for suites in used for t in suites.targets))
        if run(configure, tree, env, log).returncode != 0 or not build(tree, env, log, build_jobs, targets):
            sys.exit(f"mutate: the unmutated tree does not build; see {log_path}")
        for suites in used:
            baseline = run(suite_command(suites, args.jobs), tree, env, log)
            if baseline.returncode != 0:
                sys.exit("mutate: the fast suites fail without any mutation: "
                         + ", ".join(failed_tests(baseline.stdout)) + f"; see {log_path}")
        print(f"mutate: baseline built and passed in {time.monotonic() - started:.0f} s", flush=True)

        for index, (file_name, pattern, replacement, number) in enumerate(mutations, 1):
            label = f"{file_name}:{number}  {pattern}  ==>  {replacement}"
            source = tree / file_name
            original = source.read_text() if source.is_file() else None
            occurrences = original.count(pattern) if original is not None else 0
            t0 = time.monotonic()
            if occurrences != 1:
                verdict, detail = "not-applied", f"pattern found {occurrences} times"
            else:
                log.write(f"\n==== mutation {index}: {label}\n")
                source.write_text(original.replace(pattern, replacement, 1))
                try:
                    suites = suites_of(file_name)
                    if not build(tree, env, log, build_jobs, suites.targets):
                        verdict, detail = "no-build", "the mutated tree does not compile"
                    else:
                        suite = run(suite_command(suites, args.jobs), tree, env, log)
                        failed = failed_tests(suite.stdout)
                        if suite.returncode != 0:
                            verdict, detail = "caught", (failed[0] if failed else "suite failed")
                        else:
                            verdict, detail = "missed", ""
                finally:
                    source.write_text(original)
            results.append(verdict)
            print(f"[{index:>3}/{len(mutations)}] {verdict:<11} {label}"
                  + (f"   ({detail}, {time.monotonic() - t0:.0f} s)" if detail else
                     f"   ({time.monotonic() - t0:.0f} s)"), flush=True)

    caught = results.count("caught")
    counts = ", ".join(f"{results.count(v)} {v}" for v in ("caught", "missed", "not-applied", "no-build")
                       if results.count(v))
    print(f"mutate: score {caught}/{len(results)} = {100.0 * caught / len(results):.0f} % caught "
          f"({counts}) in {(time.monotonic() - started) / 60:.1f} min")
    return 0


if __name__ == "__main__":
    sys.exit(main())
