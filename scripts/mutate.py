"""Mutation sampler for Tarvi's tests.

Takes the tree committed at HEAD into build-mutate/tree (the working tree is never
written), finds the places in src/ where a small change should make a test fail,
picks some of them with a seeded generator, and for each one builds the changed
tree in build-mutate/build and runs the test programs that link the changed file.
A change the tests do not notice is printed with its file and line.
"""

import argparse
import io
import json
import os
import re
import shutil
import signal
import subprocess
import sys
import tarfile
import tempfile
import threading
import time
from concurrent.futures import ThreadPoolExecutor
from dataclasses import dataclass, field
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
WORK = ROOT / "build-mutate"
TREE = WORK / "tree"
BUILD = WORK / "build"
RUNS = WORK / "run"
LOGS = WORK / "logs"
FOLDERS = ("app", "camera", "image", "platform", "telescope", "view")

# -O1 without debug information: a mutant costs one small compile and a few quick
# links, and the tests run at nearly the release build's speed. Asserts stay on.
CMAKE_ARGS = ["-G", "Ninja", "-DCMAKE_BUILD_TYPE=Debug", "-DCMAKE_CXX_FLAGS_DEBUG=-O1",
              "-DTARVI_TESTS=ON", "-DTARVI_WERROR=OFF", "-DTARVI_SANITIZE=OFF"]


def head_commit():
    return subprocess.run(["git", "-C", str(ROOT), "rev-parse", "HEAD"], check=True,
                          capture_output=True, text=True).stdout.strip()


def write_atomic(path, content, mode=None):
    """Replaces a file so that a crash leaves the old or the new content, never half."""
    path.parent.mkdir(parents=True, exist_ok=True)
    fd, temporary = tempfile.mkstemp(dir=path.parent, prefix=".mutate-")
    try:
        with os.fdopen(fd, "wb") as out:
            out.write(content)
        if mode is not None:
            os.chmod(temporary, mode)
        os.replace(temporary, path)
    except BaseException:
        os.unlink(temporary)
        raise


def sync_snapshot(commit):
    """Makes TREE hold exactly `commit`, rewriting only the files that differ.

    Unchanged files keep their times, so the build directory is reused; a file a
    crashed run left changed is put back here.
    """
    archive = subprocess.run(["git", "-C", str(ROOT), "archive", "--format=tar", commit],
                             check=True, capture_output=True).stdout
    wanted = set()
    with tarfile.open(fileobj=io.BytesIO(archive)) as tar:
        for member in tar.getmembers():
            path = TREE / member.name
            if member.isdir():
                path.mkdir(parents=True, exist_ok=True)
                continue
            if not member.isfile():
                continue
            wanted.add(path)
            content = tar.extractfile(member).read()
            if path.is_symlink() or not path.is_file() or path.read_bytes() != content:
                write_atomic(path, content, member.mode & 0o777)
    for path in sorted(TREE.rglob("*"), reverse=True):
        if path.is_file() and path not in wanted:
            path.unlink()


RAW_STRING = re.compile(r'(?:u8|[uUL])?R"([^()\\\s]{0,16})\(')


def mask(text):
    """Blanks comments and the insides of string and character literals.

    Every character keeps its column, and a literal keeps its quotes, so a line can
    still be seen to hold a string.
    """
    out = list(text)
    i, n = 0, len(text)

    def blank(start, end):
        for k in range(start, end):
            if out[k] != "\n":
                out[k] = " "

    while i < n:
        c = text[i]
        word_before = i > 0 and (text[i - 1].isalnum() or text[i - 1] == "_")
        raw = None if word_before else RAW_STRING.match(text, i)
        if text.startswith("//", i):
            end = text.find("\n", i)
            end = n if end < 0 else end
            blank(i, end)
            i = end
        elif text.startswith("/*", i):
            end = text.find("*/", i + 2)
            end = n if end < 0 else end + 2
            blank(i, end)
            i = end
        elif raw:
            end = text.find(")" + raw.group(1) + '"', raw.end())
            end = n if end < 0 else end + len(raw.group(1)) + 1
            blank(raw.end() - len(raw.group(1)) - 1, end)
            i = end + 1
        elif c == "'" and word_before and re.search(r"(?<![\w'])[0-9][\w']*$", text[max(0, i - 40):i]):
            i += 1  # a digit separator, as in 1'000
        elif c in "\"'":
            k = i + 1
            while k < n and text[k] != c and text[k] != "\n":
                k += 2 if text[k] == "\\" else 1
            blank(i + 1, min(k, n))
            i = k + 1
        else:
            i += 1
    return "".join(out)


@dataclass(frozen=True, order=True)
class Site:
    file: str       # relative to the tree, e.g. src/app/settings.cpp
    line: int       # 1-based
    column: int     # 0-based start of the replaced text
    end: int        # 0-based end of the replaced text
    replacement: str
    kind: str

    @property
    def folder(self):
        return self.file.split("/")[1]

    def mutate_line(self, original):
        return original[:self.column] + self.replacement + original[self.end:]


FLIPS = {"<": ">=", ">=": "<", ">": "<=", "<=": ">", "==": "!=", "!=": "=="}
COMPARISON = re.compile(r"(?<=\s)(<=|>=|==|!=|<|>)(?=\s)")
ARITHMETIC = re.compile(r"(?<=\s)([+-])(=?)(?=\s)")
LOGICAL = re.compile(r"(?<=\s)(&&|\|\|)(?=\s)")
INTEGER = re.compile(r"(?<![\w.'])(0[xX][0-9a-fA-F]+|[0-9]+)([uU]?[lL]{0,2}|[lL]{1,2}[uU])(?![\w.'])")
ARRAY_DECLARATION = re.compile(r"^\s*(?:(?:static|const|constexpr|inline|thread_local)\s+)*"
                               r"([\w:<>,]+)(?:\s+|\s*[*&]+\s*)\w+\s*$")
CALL = re.compile(r"^(\s*)([A-Za-z_]\w*(?:(?:\.|->|::)[A-Za-z_]\w*)*)\s*\(.*\)\s*;\s*$")
RETURN = re.compile(r"^(\s*return\s+)(.+?)\s*;\s*$")
SIMPLE_CALL = re.compile(r"^!?[A-Za-z_]\w*(?:(?:\.|->|::)[A-Za-z_]\w*)*\s*\(.*\)$")
FUNCTION_HEAD = re.compile(r"^\s*(?:(?:static|inline|constexpr|virtual|explicit|\[\[nodiscard\]\])\s+)*"
                           r"([A-Za-z_][\w:<>,]*(?:\s*[*&]+)?)\s+[*&]*[A-Za-z_~][\w:~]*\s*\(")
KEYWORDS = {"return", "if", "while", "for", "switch", "sizeof", "static_assert", "delete", "throw",
            "new", "case", "else", "do", "goto", "using", "typedef", "co_return", "co_await", "co_yield",
            "decltype", "alignof", "typeid", "assert", "Q_ASSERT", "Q_UNUSED", "Q_OBJECT", "Q_EMIT", "emit"}


def balanced_call(code):
    """True when the first parenthesis of `code` closes at its last one."""
    depth = 0
    start = code.index("(")
    last = code.rindex(")")
    for k in range(start, last + 1):
        if code[k] == "(":
            depth += 1
        elif code[k] == ")":
            depth -= 1
            if depth == 0 and k != last:
                return False
    return depth == 0


def top_level(expression):
    """The expression with everything inside parentheses and brackets blanked."""
    out, depth = [], 0
    for c in expression:
        if c in "([{":
            depth += 1
        out.append(c if depth == 0 else " ")
        if c in ")]}":
            depth -= 1
    return "".join(out)


def boolean_return(expression, in_bool_function):
    if expression in ("true", "false"):
        return True
    if SIMPLE_CALL.match(expression) and balanced_call(expression.lstrip("!")):
        return in_bool_function
    outer = top_level(expression)
    return "?" not in outer and (COMPARISON.search(outer) or LOGICAL.search(outer)) is not None


def sites_in_file(relative, text):
    lines = text.split("\n")
    code_lines = mask(text).split("\n")
    sites = []
    previous_code = ";"
    continued_directive = False
    return_type = ""
    for number, (line, code) in enumerate(zip(lines, code_lines), start=1):
        stripped = code.strip()
        directive = continued_directive or stripped.startswith("#")
        continued_directive = directive and code.rstrip().endswith("\\")
        if directive or not stripped or "static_assert" in code:
            if stripped and not directive:
                previous_code = stripped
            continue
        head = FUNCTION_HEAD.match(code)
        if head and head.group(1) not in KEYWORDS and not stripped.endswith(";"):
            return_type = head.group(1)

        def add(start, end, replacement, kind):
            sites.append(Site(relative, number, start, end, replacement, kind))

        for match in COMPARISON.finditer(code):
            add(match.start(), match.end(), FLIPS[match.group(1)], "comparison")
        if '"' not in code:
            # Strings are added, never subtracted: a swap there only fails to compile.
            for match in ARITHMETIC.finditer(code):
                swapped = "-" if match.group(1) == "+" else "+"
                add(match.start(), match.end(), swapped + match.group(2), "arithmetic")
        for match in LOGICAL.finditer(code):
            add(match.start(), match.end(), "||" if match.group(1) == "&&" else "&&", "logical")
        for match in INTEGER.finditer(code):
            start, end = match.span(1)
            if code[start - 1:start] == "<" or code[match.end():match.end() + 1] == ">":
                continue  # a template argument, often an array's size
            bracket = code.rfind("[", 0, start)
            if bracket >= 0 and "]" not in code[bracket:start]:
                declaration = ARRAY_DECLARATION.match(code[:bracket])
                if declaration and declaration.group(1) not in KEYWORDS:
                    continue
            digits = match.group(1)
            if digits.lower().startswith("0x"):
                bumped = "0x%X" % (int(digits, 16) + 1)
            elif len(digits) > 1 and digits.startswith("0"):
                continue  # octal
            else:
                bumped = str(int(digits) + 1)
            add(start, end, bumped, "constant")
        call = CALL.match(code)
        if (call and call.group(2).split(".")[0].split("->")[0] not in KEYWORDS
                and balanced_call(stripped)
                and (previous_code.endswith((";", "{", "}", ")", ":")) or previous_code in ("else", "do"))):
            add(len(call.group(1)), len(code.rstrip()), ";", "call removed")
        returned = RETURN.match(code)
        if returned:
            start = len(returned.group(1))
            end = start + len(returned.group(2))
            if boolean_return(code[start:end], return_type == "bool"):
                add(start, end, "!(" + line[start:end] + ")", "return inverted")
        previous_code = stripped
    return sites


def find_sites():
    sites = []
    for path in sorted(TREE.glob("src/**/*.cpp")):
        relative = path.relative_to(TREE).as_posix()
        if relative == "src/main.cpp" or relative.startswith("src/sim/"):
            continue
        sites.extend(sites_in_file(relative, path.read_text(encoding="utf-8")))
    return sorted(sites)


class SplitMix64:
    """A generator of our own so that a seed picks the same mutants on every Python."""

    def __init__(self, seed):
        self.state = seed & 0xFFFFFFFFFFFFFFFF

    def next(self):
        self.state = (self.state + 0x9E3779B97F4A7C15) & 0xFFFFFFFFFFFFFFFF
        z = self.state
        z = ((z ^ (z >> 30)) * 0xBF58476D1CE4E5B9) & 0xFFFFFFFFFFFFFFFF
        z = ((z ^ (z >> 27)) * 0x94D049BB133111EB) & 0xFFFFFFFFFFFFFFFF
        return z ^ (z >> 31)

    def below(self, bound):
        limit = (1 << 64) - (1 << 64) % bound
        while True:
            value = self.next()
            if value < limit:
                return value % bound


def sample(sites, seed, count):
    """One site from each of `count` equal slices of the sorted list.

    The list is sorted by folder, file and line, so every folder and every file gets
    mutants in proportion to its sites, and they spread over each file.
    """
    generator = SplitMix64(seed)
    total = len(sites)
    count = min(count, total)
    picked = []
    for i in range(count):
        low, high = i * total // count, (i + 1) * total // count
        picked.append(sites[low + generator.below(high - low)])
    return picked


def run_quiet(command, **kwargs):
    return subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, **kwargs)


def configure():
    if (BUILD / "build.ninja").exists():
        result = run_quiet(["ninja", "-C", str(BUILD), "build.ninja"])
    else:
        result = run_quiet(["cmake", "-S", str(TREE), "-B", str(BUILD), *CMAKE_ARGS])
    if result.returncode != 0:
        sys.exit("mutate: cmake failed:\n" + result.stdout)


def test_programs():
    """Maps each test program to the src/ files compiled into it."""
    targets = run_quiet(["ninja", "-C", str(BUILD), "-t", "targets", "all"], check=True).stdout
    names = sorted(set(re.findall(r"^(tests/tarvi_\w+_tests):", targets, re.M)))
    programs = {}
    for name in names:
        commands = run_quiet(["ninja", "-C", str(BUILD), "-t", "commands", name], check=True).stdout
        sources = set()
        for source in re.findall(r" -c (\S+\.cpp)", commands):
            path = Path(source)
            if path.is_absolute() and TREE in path.parents:
                sources.add(path.relative_to(TREE).as_posix())
        programs[name] = sources
    return programs


def build(targets):
    return run_quiet(["ninja", "-C", str(BUILD), "-j", str(os.cpu_count() or 2), *targets])


class Stopped(Exception):
    pass


class Processes:
    """The test programs running now, so that Ctrl-C can stop them all."""

    def __init__(self):
        self.lock = threading.Lock()
        self.running = set()
        self.stopping = False

    def start(self, *args, **kwargs):
        with self.lock:
            if self.stopping:
                raise Stopped()
            process = subprocess.Popen(*args, start_new_session=True, **kwargs)
            self.running.add(process)
        return process

    def finish(self, process):
        with self.lock:
            self.running.discard(process)

    def stop_all(self):
        with self.lock:
            self.stopping = True
            for process in self.running:
                kill_group(process)


def kill_group(process):
    """Kills a test program and whatever it started, unless it was already reaped
    (its id could belong to someone else by then)."""
    if process.returncode is None:
        try:
            os.killpg(process.pid, signal.SIGKILL)
        except ProcessLookupError:
            pass


PROCESSES = Processes()


def test_environment():
    environment = dict(os.environ)
    environment.update(QT_QPA_PLATFORM="offscreen", GTEST_COLOR="no")
    if not environment.get("XDG_RUNTIME_DIR"):
        runtime = WORK / "runtime"
        runtime.mkdir(mode=0o700, exist_ok=True)
        environment["XDG_RUNTIME_DIR"] = str(runtime)
    for name in ("ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS", "GTEST_TOTAL_SHARDS", "GTEST_SHARD_INDEX"):
        environment.pop(name, None)
    return environment


def failed_test(log_path):
    """The test that failed, or the one that was running when the program died."""
    text = Path(log_path).read_text(errors="replace")
    failed = re.search(r"^\[  FAILED  \] (\S+) \(", text, re.M)
    if failed:
        return failed.group(1)
    started = re.findall(r"^\[ RUN      \] (\S+)", text, re.M)
    return started[-1] if started else None


def test_times(log_path):
    text = Path(log_path).read_text(errors="replace")
    return {name: int(ms) / 1000 for name, ms in re.findall(r"^\[       OK \] (\S+) \((\d+) ms\)", text, re.M)}


# A program this slow on the unchanged tree is split into shards that run side by
# side: its tests mostly wait on the simulated devices' real-time pacing, not the CPU.
SLOW_PROGRAM = 5.0
SHARD_SECONDS = 10.0


@dataclass
class Shard:
    program: str    # e.g. tests/tarvi_gui_tests
    tests: tuple    # the tests to run; empty for all of them
    expected: float  # seconds on the unchanged tree

    def arguments(self, path, tests=None):
        tests = self.tests if tests is None else tests
        return [str(path), "--gtest_fail_fast"] + (["--gtest_filter=" + ":".join(tests)] if tests else [])


def plan_stages(order, times):
    """The quick programs first, all at once; then the slow ones, in shards that
    each take about SHARD_SECONDS (longest tests first, each to the lightest shard)."""
    quick, slow = [], []
    for name in order:
        total = sum(times[name].values())
        if total < SLOW_PROGRAM:
            quick.append(Shard(name, (), total))
            continue
        bins = [[0.0, []] for _ in range(max(1, round(total / SHARD_SECONDS)))]
        for test, seconds in sorted(times[name].items(), key=lambda item: (-item[1], item[0])):
            lightest = min(bins, key=lambda b: b[0])
            lightest[0] += seconds
            lightest[1].append(test)
        slow += [Shard(name, tuple(sorted(tests)), seconds) for seconds, tests in bins if tests]
    return [stage for stage in (quick, slow) if stage]


def run_alone(path, arguments, directory, log_path, limit, environment):
    """Runs one test program to its end; returns its exit status, None on timeout."""
    with open(log_path, "w") as log:
        process = PROCESSES.start(arguments, cwd=directory, stdout=log, stderr=subprocess.STDOUT,
                                  stdin=subprocess.DEVNULL, env=environment)
        try:
            return process.wait(timeout=max(limit, 0.1))
        except subprocess.TimeoutExpired:
            return None
        finally:
            kill_group(process)
            process.wait()
            PROCESSES.finish(process)


def run_stage(shards, paths, work, prefix, deadline, environment, result):
    """Runs the shards side by side until one fails for sure or one hangs.

    Returns None when all pass, else (status, detail). A failure counts when the
    failing test fails again on its own or its shard fails again: a test that
    fails once under load says nothing about the mutant.
    """
    running = []

    def launch(number, shard, suspect=None):
        tag = "%d%s" % (number, "-again" if suspect else "")
        directory = work / tag
        directory.mkdir(parents=True, exist_ok=True)
        log_path = LOGS / ("%s-%s-%s.log" % (prefix, Path(shard.program).name, tag))
        with open(log_path, "w") as log:
            process = PROCESSES.start(shard.arguments(paths[shard.program]), cwd=directory, stdout=log,
                                      stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL, env=environment)
        limit = min(deadline, time.monotonic() + 5 * shard.expected + 15)
        running.append((process, number, shard, log_path, limit, suspect))

    try:
        for number, shard in enumerate(shards):
            launch(number, shard)
        while running:
            time.sleep(0.05)
            for entry in list(running):
                process, number, shard, log_path, limit, suspect = entry
                name = Path(shard.program).name
                code = process.poll()
                if code is None:
                    if time.monotonic() > limit:
                        return "timed out", "%s: %s" % (name, failed_test(log_path) or "?")
                    continue
                running.remove(entry)
                PROCESSES.finish(process)
                if code == 0:
                    log_path.unlink()
                    if suspect:
                        result.flaky.append("%s: %s" % (name, suspect))
                    continue
                test = failed_test(log_path)
                if suspect or test is None:
                    return "killed", "%s: %s" % (name, test or "exit status %d" % code)
                alone = run_alone(paths[shard.program], shard.arguments(paths[shard.program], (test,)),
                                  work / str(number), log_path.with_suffix(".alone"),
                                  min(deadline, time.monotonic() + 5 * shard.expected + 15) - time.monotonic(),
                                  environment)
                if alone != 0:
                    return "killed", "%s: %s" % (name, test)
                launch(number, shard, suspect=test)
        return None
    finally:
        for process, _, _, log_path, *_ in running:
            kill_group(process)
            process.wait()
            PROCESSES.finish(process)
            log_path.unlink()  # stopped by us: it says nothing


def stage_programs(names, slot):
    """Copies the built programs out of the build directory, which the next
    mutant's build rewrites while these run."""
    directory = RUNS / ("slot%d" % slot)
    shutil.rmtree(directory, ignore_errors=True)
    directory.mkdir(parents=True)
    paths = {}
    for name in names:
        paths[name] = directory / Path(name).name
        shutil.copy2(BUILD / name, paths[name])
    return paths, directory / "cwd"


def baseline(commit, programs, environment):
    """Builds and tests the unchanged tree once per commit: the tests must pass
    before a mutant can be judged, and their times plan and limit the runs."""
    cache = WORK / "baseline.json"
    if cache.exists():
        saved = json.loads(cache.read_text())
        if saved.get("commit") == commit and set(saved["times"]) == set(programs):
            return saved["times"]
    print("mutate: building and testing the unchanged tree", flush=True)
    result = build(sorted(programs))
    if result.returncode != 0:
        sys.exit("mutate: the unchanged tree does not build:\n" + result.stdout[-4000:])
    paths, work = stage_programs(sorted(programs), 0)
    work.mkdir()
    times = {}
    for name in sorted(programs):
        log_path = LOGS / ("baseline-%s.log" % Path(name).name)
        started = time.monotonic()
        code = run_alone(paths[name], [str(paths[name])], work, log_path, 900, environment)
        times[name] = test_times(log_path)
        for test in re.findall(r"^\[  FAILED  \] (\S+) \(", log_path.read_text(errors="replace"), re.M):
            again = log_path.with_suffix(".again")
            if run_alone(paths[name], [str(paths[name]), "--gtest_filter=" + test], work, again, 300,
                         environment) != 0:
                sys.exit("mutate: %s fails on the unchanged tree (see %s)" % (test, again))
            print("mutate: %s failed once and passed on its own" % test, flush=True)
            times[name].update(test_times(again))
            code = 0
        if code != 0 or not times[name]:
            sys.exit("mutate: %s fails on the unchanged tree (see %s)" % (name, log_path))
        print("mutate: %-30s %6.1f s" % (name, time.monotonic() - started), flush=True)
    cache.write_text(json.dumps({"commit": commit, "times": times}, indent=1, sort_keys=True))
    return times


@dataclass
class Result:
    site: Site
    original: str
    mutated: str
    status: str = ""     # killed, survived, timed out, did not compile
    detail: str = ""
    build_seconds: float = 0.0
    test_seconds: float = 0.0
    flaky: list = field(default_factory=list)


def test_mutant(result, index, stages, paths, work, timeout, environment):
    started = time.monotonic()
    deadline = started + timeout
    outcome = None
    for number, shards in enumerate(stages):
        outcome = run_stage(shards, paths, work / str(number), "%03d" % index, deadline, environment, result)
        if outcome:
            break
    result.test_seconds = time.monotonic() - started
    result.status, result.detail = outcome or ("survived", "")
    return result


def main():
    parser = argparse.ArgumentParser(prog="scripts/mutate", description=__doc__.splitlines()[0])
    parser.add_argument("--seed", type=int, required=True, help="picks the mutants")
    parser.add_argument("--count", type=int, required=True, help="how many mutants")
    parser.add_argument("--jobs", type=int, default=1,
                        help="mutants in flight: with 2, one builds while another is tested")
    parser.add_argument("--timeout", type=float, default=None,
                        help="seconds of tests per mutant (default: three times the unchanged tree's, "
                             "at least 60)")
    parser.add_argument("--report", type=Path, default=WORK / "report.txt", help="also write the report here")
    parser.add_argument("--list", action="store_true", help="print the picked mutants and stop")
    options = parser.parse_args()
    if options.count < 1 or options.jobs < 1:
        parser.error("--count and --jobs must be at least 1")
    options.report = options.report.resolve()

    started = time.monotonic()
    commit = head_commit()
    WORK.mkdir(exist_ok=True)
    sync_snapshot(commit)
    sites = find_sites()
    results = []
    for site in sample(sites, options.seed, options.count):
        original = (TREE / site.file).read_text(encoding="utf-8").split("\n")[site.line - 1]
        results.append(Result(site, original, site.mutate_line(original)))
    if options.list:
        counts = {folder: sum(1 for s in sites if s.folder == folder) for folder in FOLDERS}
        print("%d sites: %s" % (len(sites), ", ".join("%s %d" % item for item in counts.items())))
        for result in results:
            print(survivor_line(result), "[%s]" % result.site.kind)
        return 0

    signal.signal(signal.SIGTERM, signal.default_int_handler)
    pool = ThreadPoolExecutor(max_workers=options.jobs)
    try:
        configure()
        programs = test_programs()
        environment = test_environment()
        shutil.rmtree(LOGS, ignore_errors=True)
        LOGS.mkdir(parents=True)
        times = baseline(commit, programs, environment)
        mutants_started = time.monotonic()
        order = sorted(programs, key=lambda name: (sum(times[name].values()), name))
        stages = plan_stages(order, times)
        expected = sum(max(shard.expected for shard in stage) for stage in stages)
        timeout = options.timeout if options.timeout else max(60.0, 3 * expected)
        print("mutate: %d sites; the tests take %.0f s in %d processes; %.0f s at most per mutant" % (
            len(sites), expected, sum(len(stage) for stage in stages), timeout), flush=True)
        run_mutants(results, programs, stages, timeout, environment, pool, options.jobs)
    except KeyboardInterrupt:
        PROCESSES.stop_all()
        pool.shutdown(wait=True, cancel_futures=True)
        sync_snapshot(commit)
        print("\nmutate: interrupted; the snapshot in %s is as committed" % TREE, file=sys.stderr)
        return 130
    pool.shutdown()

    now = time.monotonic()
    report = make_report(results, options, commit, timeout, now - started, now - mutants_started)
    print(report, end="")
    options.report.parent.mkdir(parents=True, exist_ok=True)
    options.report.write_text(report)
    return 0


def run_mutants(results, programs, stages, timeout, environment, pool, jobs):
    """Builds one mutant at a time; up to `jobs` of them are built or being tested."""
    free_slots = list(range(1, jobs + 1))
    slots_changed = threading.Condition()

    def release(slot):
        with slots_changed:
            free_slots.append(slot)
            slots_changed.notify()

    def test_in_slot(result, index, mine, paths, work, slot):
        try:
            test_mutant(result, index, mine, paths, work, timeout, environment)
            report_progress(result, results)
        finally:
            release(slot)

    futures = []
    for index, result in enumerate(results, start=1):
        with slots_changed:
            while not free_slots:
                slots_changed.wait()
            slot = free_slots.pop(0)
        site = result.site
        needed = sorted(name for name in programs if site.file in programs[name])
        mine = [stage for stage in ([s for s in stage if s.program in needed] for stage in stages) if stage]
        if not mine:
            result.status, result.detail = "survived", "no test program links it"
            report_progress(result, results)
            release(slot)
            continue
        path = TREE / site.file
        content = path.read_bytes()
        mode = path.stat().st_mode & 0o777
        building = time.monotonic()
        try:
            write_atomic(path, mutated_content(content, site), mode)
            outcome = build(needed)
        finally:
            write_atomic(path, content, mode)
        result.build_seconds = time.monotonic() - building
        if outcome.returncode != 0:
            result.status = "did not compile"
            (LOGS / ("%03d-build.log" % index)).write_text(outcome.stdout)
            report_progress(result, results)
            release(slot)
            continue
        paths, work = stage_programs(needed, slot)
        futures.append(pool.submit(test_in_slot, result, index, mine, paths, work, slot))
    for future in futures:
        future.result()


def mutated_content(content, site):
    lines = content.decode("utf-8").split("\n")
    lines[site.line - 1] = site.mutate_line(lines[site.line - 1])
    return "\n".join(lines).encode("utf-8")


PROGRESS_LOCK = threading.Lock()


def report_progress(result, results):
    if PROCESSES.stopping:
        return
    with PROGRESS_LOCK:
        done = sum(1 for r in results if r.status)
        print("mutate: [%d/%d] %-15s %s:%d (build %.0f s, tests %.0f s) %s" % (
            done, len(results), result.status, result.site.file, result.site.line,
            result.build_seconds, result.test_seconds, result.detail), flush=True)


def survivor_line(result):
    return "%s:%d: %s -> %s" % (result.site.file, result.site.line, result.original.strip(), result.mutated.strip())


def make_report(results, options, commit, timeout, wall, mutants_wall):
    lines = ["Mutation sample: seed %d, count %d, tree %s" % (options.seed, options.count, commit),
             "Wall time %.0f s: %.0f s for the unchanged tree, then %.1f s per mutant "
             "(tests limited to %.0f s per mutant)" % (
                 wall, wall - mutants_wall, mutants_wall / max(len(results), 1), timeout), "",
             "%-10s %7s %9s %10s %6s %16s" % ("folder", "killed", "survived", "timed out", "total", "did not compile")]
    statuses = ("killed", "survived", "timed out")
    for folder in FOLDERS + ("all",):
        mine = [r for r in results if folder == "all" or r.site.folder == folder]
        counts = [sum(1 for r in mine if r.status == status) for status in statuses]
        lines.append("%-10s %7d %9d %10d %6d %16d" % (folder, *counts, sum(counts),
                                                     sum(1 for r in mine if r.status == "did not compile")))
    judged = [r for r in results if r.status in statuses]
    killed = sum(1 for r in judged if r.status == "killed")
    lines.append("")
    lines.append("Kill ratio: %s (killed / total; mutants that did not compile are left out)" % (
        "%.2f" % (killed / len(judged)) if judged else "none"))
    survivors = [r for r in results if r.status == "survived"]
    lines += ["", "Survivors:" if survivors else "No survivors."]
    lines += [survivor_line(r) for r in survivors]
    lines += ["", "All mutants (build and test seconds; what killed it):"]
    for r in results:
        lines.append("%-15s %s:%d [%s] %.0f+%.0f s %s" % (
            r.status, r.site.file, r.site.line, r.site.kind, r.build_seconds, r.test_seconds, r.detail))
        lines += ["                failed once, then passed: %s" % test for test in r.flaky]
    return "\n".join(lines) + "\n"


if __name__ == "__main__":
    sys.exit(main())
