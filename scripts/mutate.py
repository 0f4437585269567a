#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Mutants drawn at random: how many small faults, which nobody chose, do the
tests catch?

  scripts/mutate.py [options] TREE [PATH...]

TREE is a checkout with a build in TREE/build (scripts/build.sh release).
PATHs (files or folders, relative to TREE) say where to draw; by default
every C and C++ source of the product (not tests/ or bench/).

Every place in those files where one of these operators applies is a
candidate site:
  relational  a comparison turned into another (< <= > >= == !=)
  logical     && and || swapped
  not         a ! removed
  negated     an if or while condition negated
  forced      an if condition forced true or false, a while condition false
              (a loop forced to run for ever would only test the time limit)
  constant    an integer constant one more or one less (0 becomes 1)
  deleted     a statement that is a call, an assignment or an increment removed
  return      a returned value replaced (true/false swapped, a constant
              becomes 0 or 1, anything else the type's empty value {})
Comments, strings, preprocessor lines, static_assert, Q_ASSERT and
Q_UNUSED lines, reserve() hints, and statements and returns outside a
function body are not sites: their mutants cannot build or change nothing.
The draw is uniform over all candidate sites of all chosen files together
(random.Random(seed).sample), then one replacement is drawn for the site's
operator; the seed is printed and, unless given, is the tree's commit, so
a run is repeated by its seed and commit.

One mutant at a time: the file is changed, the test programs that can see
it are rebuilt with ninja (ccache off: a mutant's object must never reach
the shared cache), and those programs run whole, fastest first, each with a
time limit, until one fails (caught) or all pass (survived). A mutant that
does not build counts neither way. A test program sees a file when the
file, or a header it includes, is compiled into the program or into a
program it runs (the simulator, the CLI, the workbench, the capture
helper); the CLI's end-to-end script sees the programs it names. Each
program first runs once on the unchanged tree: its time orders the runs
and sets the limit, and one that fails there is left out.

The file is put back after each mutant with a new modification time, and
the whole tree is rebuilt at the end, so the build is the good tree again.
Run it alone: a build beside it could read a mutant's file.
docs/test-faults.md has the figures and what each survivor got.
"""
import argparse, bisect, difflib, hashlib, json, math, os, random, re, shlex, signal, subprocess, sys, time

EXTENSIONS = ('.c', '.cpp', '.h')
NOT_PRODUCT = ('tests/', 'bench/', 'build', '.git', 'debian/')

# ---------------------------------------------------------------- the sites

RAW_STRING = re.compile(r'(?:u8|[uUL])?R"([^()\\\s]{0,16})\(')


def mask(src):
    """The source with comments, literals' texts and preprocessor lines
    turned into spaces (line breaks kept): same length, same offsets."""
    out = list(src)
    n = len(src)

    def blank(a, b):
        for k in range(a, b):
            if out[k] != '\n':
                out[k] = ' '

    i = 0
    line_start = True
    while i < n:
        c = src[i]
        if c == '\n':
            line_start = True
            i += 1
            continue
        if c in ' \t\r':
            i += 1
            continue
        if line_start and c == '#':
            j = i
            while True:
                k = src.find('\n', j)
                if k < 0:
                    k = n
                    break
                if src[k - 1] == '\\':
                    j = k + 1
                    continue
                break
            blank(i, k)
            i = k
            continue
        line_start = False
        if src.startswith('//', i):
            k = src.find('\n', i)
            k = n if k < 0 else k
            blank(i, k)
            i = k
            continue
        if src.startswith('/*', i):
            k = src.find('*/', i + 2)
            k = n if k < 0 else k + 2
            blank(i, k)
            i = k
            continue
        m = RAW_STRING.match(src, i)
        if m and (i == 0 or not (src[i - 1].isalnum() or src[i - 1] == '_')):
            end = src.find(')' + m.group(1) + '"', m.end())
            k = n if end < 0 else end + len(m.group(1)) + 2
            blank(i, k)
            i = k
            continue
        # A quote after a digit or letter is a digit separator (1'000).
        if c == '"' or (c == "'" and not (i > 0 and src[i - 1].isalnum())):
            j = i + 1
            while j < n and src[j] != c and src[j] != '\n':
                j += 2 if src[j] == '\\' else 1
            blank(i, min(j + 1, n))
            i = j + 1
            continue
        i += 1
    return ''.join(out)


KEYWORDS = set('''return break continue goto case default if else while for do switch typedef using
namespace class struct enum union template static_assert sizeof alignof decltype new throw try catch
public private protected signals slots Q_OBJECT Q_UNUSED Q_ASSERT Q_ASSERT_X assert operator const
constexpr static auto void int bool char unsigned signed short long float double extern inline
virtual explicit friend mutable volatile register thread_local'''.split())
SKIP_LINE = re.compile(r'\b(static_assert|Q_ASSERT|Q_ASSERT_X|assert|Q_UNUSED|Q_DECLARE_\w+|Q_PROPERTY|'
                       r'Q_ENUM|Q_OBJECT|reserve)\b')
SCOPE_BRACE = re.compile(r'\b(namespace|class|struct|union|enum|extern)\b')
EXPRESSION_STATEMENT = re.compile(
    r'(?:emit\s+)?(?:\*\s*)?([A-Za-z_]\w*)(?:(?:\.|->|::)~?[A-Za-z_]\w*|\[[^\]\n]*\])*\s*'
    r'(?:\(|=(?!=)|\+=|-=|\*=|/=|%=|\|=|&=|\^=|<<=|>>=|\+\+|--)'
    r'|(?:\+\+|--)[A-Za-z_]')
RELATIONAL = ('<', '<=', '>', '>=', '==', '!=')
EMPTY_VALUE = re.compile(r'\{\}|nullptr|std::nullopt|[A-Za-z_][\w:]*(?:<[\w:, *]*>)?(?:\(\)|\{\})')
ARRAY_DECLARATOR = re.compile(r'([A-Za-z_][\w:<>]*)[\s*&]+[A-Za-z_]\w*\s*(?:\[[^\]]*\]\s*)*\[\s*$')
INTEGER = re.compile(r'(?<![\w.])(0[xX][0-9a-fA-F]+|[1-9][0-9]*|0)([uUlL]*)(?![\w.\'])')


def closing(m, i, opening='(', close=')'):
    """Offset of the bracket that closes the one at m[i], or -1."""
    depth = 0
    for k in range(i, len(m)):
        if m[k] == opening:
            depth += 1
        elif m[k] == close:
            depth -= 1
            if depth == 0:
                return k
    return -1


def statement_end(m, i):
    """Offset of the ';' ending the statement that starts at i, or -1 when
    a block opens first (a definition, not a statement)."""
    depth = 0
    for k in range(i, len(m)):
        c = m[k]
        if c in '([':
            depth += 1
        elif c in ')]':
            depth -= 1
        elif c == '{':
            if depth == 0:
                return -1
            depth += 1
        elif c == '}':
            if depth == 0:
                return -1
            depth -= 1
        elif c == ';' and depth == 0:
            return k
    return -1


def block_contexts(m):
    """For each offset, whether the innermost brace around it opens a
    function body or a block inside one (rather than a namespace, class,
    enum, or an initialiser outside any function)."""
    inside = bytearray(len(m))
    stack = []
    last = 0  # start of the text that leads up to the next brace
    for k, c in enumerate(m):
        if c == '{':
            head = m[last:k]
            if stack and stack[-1]:
                kind = True
            else:
                kind = not SCOPE_BRACE.search(head) and bool(re.search(r'\)\s*[\w\s:&*<>,\->]*$', head))
            stack.append(kind)
            last = k + 1
        elif c == '}':
            if stack:
                stack.pop()
            last = k + 1
        elif c == ';':
            last = k + 1
        if stack and stack[-1]:
            inside[k] = 1
    return inside


class Site:
    """A place and an operator; choices are (start, end, replacement)."""
    __slots__ = ('file', 'start', 'line', 'op', 'choices')

    def __init__(self, file, start, line, op, choices):
        self.file, self.start, self.line, self.op, self.choices = file, start, line, op, choices


def constant_choices(text, suffix):
    value = int(text, 16) if text[:2].lower() == '0x' else int(text)
    fmt = (lambda v: '0x%X' % v) if text[:2].lower() == '0x' else str
    values = [value + 1] if value == 0 else [value + 1, value - 1]
    return [fmt(v) + suffix for v in values]


def find_sites(rel, src):
    m = mask(src)
    starts = [0] + [k + 1 for k, c in enumerate(src) if c == '\n']
    lines = m.split('\n')
    inside = block_contexts(m)
    sites = []

    def add(start, end, op, texts, need_block=False):
        line = bisect.bisect_right(starts, start)
        if SKIP_LINE.search(lines[line - 1]) or not texts:
            return
        if need_block and not inside[start]:
            return
        sites.append(Site(rel, start, line, op, [(start, end, t) for t in texts]))

    # A table of constants is one site: one of its entries one more or less.
    in_table = set()
    for x in re.finditer(r'\{', m):
        if x.start() in in_table:
            continue
        close = closing(m, x.start(), '{', '}')
        body = m[x.start():close + 1] if close > 0 else ''
        entries = list(INTEGER.finditer(m, x.start(), close)) if body else []
        if len(entries) < 4 or INTEGER.sub('', body).strip(' \t\r\n,{}-'):
            continue
        in_table.update(range(x.start(), close + 1))
        line = bisect.bisect_right(starts, x.start())
        sites.append(Site(rel, x.start(), line, 'table', [
            (e.start(), e.start() + len(e.group(1)), t) for e in entries for t in constant_choices(e.group(1), '')]))

    for x in re.finditer(r'(?<= )(==|!=|<=|>=|<|>)(?= )', m):
        add(x.start(), x.end(), 'relational', [r for r in RELATIONAL if r != x.group(1)])
    for x in re.finditer(r'(?<= )(&&|\|\|)(?= )', m):
        add(x.start(), x.end(), 'logical', ['||' if x.group(1) == '&&' else '&&'])
    for x in re.finditer(r'(?<![!\w])!(?![=!])', m):
        add(x.start(), x.end(), 'not', [''])
    for x in re.finditer(r'\b(if|while)\s*\(', m):
        open_at = x.end() - 1
        close = closing(m, open_at)
        cond = m[open_at + 1:close].strip()
        if close < 0 or ';' in cond or cond in ('true', 'false', '0', '1'):
            continue
        a, b = open_at + 1, close
        add(a, b, 'negated', ['!(' + src[a:b] + ')'], need_block=True)
        add(a, b, 'forced', ['true', 'false'] if x.group(1) == 'if' else ['false'], need_block=True)
    for x in INTEGER.finditer(m):
        if x.start() in in_table:
            continue
        before = m[starts[bisect.bisect_right(starts, x.start()) - 1]:x.start()]
        if re.search(r'\)\s*(const\s*)?(override\s*)?=\s*$', before):
            continue  # a pure virtual function's "= 0"
        if (ARRAY_DECLARATOR.search(before) and re.match(r'\s*\](\s*\[[^\]]*\])*\s*[=;{]', m[x.end():])
                and ARRAY_DECLARATOR.search(before).group(1) not in ('return', 'case', 'else', 'delete', 'throw')):
            continue  # an array's size where it is declared: bigger changes nothing, smaller does not build
        add(x.start(), x.start() + len(x.group(1)), 'constant', constant_choices(x.group(1), ''))
    for x in re.finditer(r'\breturn\b', m):
        end = statement_end(m, x.end())
        if end < 0:
            continue
        value = m[x.end():end].strip()
        a = x.end() + (len(m[x.end():end]) - len(m[x.end():end].lstrip()))
        b = a + len(value)
        if not value:
            continue
        if value in ('true', 'false'):
            choices = ['false' if value == 'true' else 'true']
        elif re.fullmatch(r'-?\s*\d+[uUlL]*', value):
            choices = ['1' if re.fullmatch(r'0[uUlL]*', value) else '0']
        elif EMPTY_VALUE.fullmatch(value):
            continue
        else:
            choices = ['{}']
        add(a, b, 'return', choices, need_block=True)
    for number, text in enumerate(lines):
        a = starts[number] + len(text) - len(text.lstrip())
        if a >= len(m) or not text.strip():
            continue
        x = EXPRESSION_STATEMENT.match(m, a)
        if not x or (x.group(1) and x.group(1) in KEYWORDS):
            continue
        before = m[:a].rstrip()
        if not before or not (before[-1] in ';{}):' or re.search(r'\b(else|do)$', before)):
            continue
        if before.endswith('::'):
            continue
        end = statement_end(m, a)
        if end < 0:
            continue
        add(a, end + 1, 'deleted', ['{}'], need_block=True)
    sites.sort(key=lambda s: (s.start, s.op))
    return sites


def product_files(tree):
    found = []
    for base, dirs, files in os.walk(tree):
        rel_base = os.path.relpath(base, tree)
        rel_base = '' if rel_base == '.' else rel_base + '/'
        dirs[:] = sorted(d for d in dirs if not (rel_base + d + '/').startswith(NOT_PRODUCT)
                         and not d.startswith(('build', '.')))
        found += [rel_base + f for f in sorted(files) if f.endswith(EXTENSIONS)]
    return found


def chosen_files(tree, paths):
    every = product_files(tree)
    if not paths:
        return every
    chosen = []
    for p in paths:
        p = os.path.normpath(p)
        if os.path.isfile(os.path.join(tree, p)):
            chosen.append(p)
        else:
            chosen += [f for f in every if f.startswith(p.rstrip('/') + '/')]
    return sorted(set(chosen))


def touched_files(tree, commits):
    """Product sources changed by the last COMMITS commits (still there)."""
    out = git(tree, 'log', '-n', str(commits), '--format=', '--name-only')
    every = set(product_files(tree))
    return sorted({f for f in out.split() if f in every})


def git(tree, *args):
    r = subprocess.run(['git', '-C', tree] + list(args), capture_output=True, text=True)
    return r.stdout.strip() if r.returncode == 0 else ''

# ------------------------------------------------------ the tests that see a file


class Runner:
    """One test program run whole, as ctest would run its cases."""

    def __init__(self, name, command, env, cwd, skip_code, cases):
        self.name, self.command, self.env, self.cwd = name, command, env, cwd
        self.skip_code, self.cases = skip_code, cases  # cases: ctest's names
        self.targets = set()   # ninja outputs it needs built
        self.sources = set()   # files whose change it can see
        self.gtest = False
        self.baseline = None   # seconds on the unchanged tree; None: not run yet
        self.usable = True


def ninja(build, *args):
    return subprocess.run(['ninja', '-C', build] + list(args), capture_output=True, text=True).stdout


def load_runners(tree, build):
    shown = subprocess.run(['ctest', '--test-dir', build, '--show-only=json-v1'],
                           capture_output=True, text=True, check=True).stdout
    groups = {}
    for test in json.loads(shown)['tests']:
        if 'command' not in test:
            continue
        props = {p['name']: p['value'] for p in test.get('properties', [])}
        if props.get('DISABLED'):
            continue
        cmd = [a for a in test['command'] if not a.startswith(('--gtest_filter=', '--gtest_also_run_disabled_tests'))]
        env = tuple(props.get('ENVIRONMENT', []))
        key = (tuple(cmd), env)
        g = groups.setdefault(key, {'names': [], 'cwd': props.get('WORKING_DIRECTORY', build),
                                    'skip': props.get('SKIP_RETURN_CODE'),
                                    'gtest': False})
        g['names'].append(test['name'])
        g['gtest'] |= len(cmd) != len(test['command'])
    runners = []
    for (cmd, env), g in groups.items():
        name = g['names'][0] if len(g['names']) == 1 else os.path.basename(cmd[0])
        r = Runner(name, list(cmd), dict(e.split('=', 1) for e in env), g['cwd'], g['skip'], g['names'])
        r.gtest = g['gtest']
        runners.append(r)
    return runners


def ctest_times(build, runners):
    """Each program's time from ctest's last run of every one of its cases
    (a run that passed: ctest lists the ones that failed after '---')."""
    try:
        lines = open(os.path.join(build, 'Testing', 'Temporary', 'CTestCostData.txt'), encoding='utf-8').read().splitlines()
    except OSError:
        return
    costs, failed = {}, set()
    for k, line in enumerate(lines):
        if line == '---':
            failed = set(lines[k + 1:])
            break
        parts = line.rsplit(' ', 2)
        if len(parts) == 3:
            costs[parts[0]] = float(parts[2])
    for r in runners:
        if all(c in costs and c not in failed for c in r.cases):
            r.baseline = max(sum(costs[c] for c in r.cases), 0.1)


def map_sources(tree, build, runners):
    """Fills each runner's targets and the sources it sees, from ninja's graph
    (transitive inputs, order-only ones included: the programs a test runs
    are built before it) and the headers each object was compiled with."""
    build_abs = os.path.abspath(build)
    headers = {}
    current = None
    for line in ninja(build, '-t', 'deps').splitlines():
        if line and not line[0].isspace():
            current = line.split(':', 1)[0]
            headers[current] = []
        elif line.strip() and current:
            headers[current].append(line.strip())
    executables = {}
    for line in ninja(build, '-t', 'targets', 'all').splitlines():
        out, _, rule = line.rpartition(': ')
        if rule.startswith('CXX_EXECUTABLE_LINKER') or rule.startswith('C_EXECUTABLE_LINKER'):
            executables[os.path.normpath(os.path.join(build_abs, out))] = out
    bin_dir = {os.path.basename(p): p for p in executables}
    closure = {}

    def sources_of(target):
        if target not in closure:
            files = set()
            for item in ninja(build, '-t', 'inputs', target).split():
                files.add(item)
                files.update(headers.get(item, ()))
            closure[target] = {os.path.normpath(os.path.join(build_abs, f)) for f in files}
        return closure[target]

    tree_abs = os.path.abspath(tree)
    for r in runners:
        programs = set()
        for arg in r.command:
            a = os.path.normpath(os.path.join(build_abs, arg))
            if a in executables:
                programs.add(executables[a])
            elif arg.endswith('.sh') and os.path.isfile(arg) and not arg.endswith('own-home.sh'):
                text = open(arg, encoding='utf-8', errors='replace').read()
                programs |= {executables[p] for name, p in bin_dir.items()
                             if re.search(r'/' + re.escape(name) + r'\b', text)}
        seen = set()
        for p in list(programs):
            seen |= sources_of(p)
            # programs this one runs (built before it: order-only inputs)
            programs |= {executables[f] for f in closure[p] if f in executables}
        for p in list(programs):
            seen |= sources_of(p)
        r.targets = programs
        r.sources = {os.path.relpath(f, tree_abs) for f in seen if f.startswith(tree_abs + '/')}
        try:
            exe = next(os.path.join(build_abs, t) for t in programs
                       if os.path.normpath(os.path.join(build_abs, t)) in [os.path.normpath(os.path.join(build_abs, c)) for c in r.command])
            r.gtest = r.gtest or b'gtest_fail_fast' in open(exe, 'rb').read()
        except (StopIteration, OSError):
            pass

# ---------------------------------------------------------------- running


FAILED_CASE = re.compile(r'^\[  FAILED  \] ([\w/.]+)|^FAIL!  : (\S+?)\(|^FAIL: (.*)', re.M)


def failed_cases(out):
    """The cases a run's output names as failed (GoogleTest, QtTest, the
    CLI's script)."""
    return sorted({next(g for g in m.groups() if g) for m in FAILED_CASE.finditer(out)})


def run_program(r, limit, nice, whole=False):
    cmd = r.command + (['--gtest_fail_fast'] if r.gtest and not whole else [])
    if nice:
        cmd = ['nice', '-n', '19'] + cmd
    env = dict(os.environ)
    env.update(r.env)
    t = time.time()
    p = subprocess.Popen(cmd, cwd=r.cwd, env=env, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                         stderr=subprocess.STDOUT, start_new_session=True)
    try:
        out, _ = p.communicate(timeout=limit)
        return p.returncode, time.time() - t, out.decode('utf-8', 'replace')
    except subprocess.TimeoutExpired:
        for sig in (signal.SIGTERM, signal.SIGKILL):
            try:
                os.killpg(p.pid, sig)
            except ProcessLookupError:
                break
            try:
                p.communicate(timeout=10)
                break
            except subprocess.TimeoutExpired:
                continue
        return None, time.time() - t, ''


def build_targets(build, targets, nice, mutant):
    env = dict(os.environ)
    # A mutant's object must never reach the shared cache; the good tree's
    # objects may come from it, but nothing is stored while this runs.
    env['CCACHE_DISABLE' if mutant else 'CCACHE_READONLY'] = '1'
    cmd = (['nice', '-n', '19'] if nice else []) + ['ninja', '-C', build] + sorted(targets)
    r = subprocess.run(cmd, env=env, capture_output=True, text=True)
    return r.returncode == 0, r.stdout[-3000:]


def write(path, text, mtime_ns=None):
    with open(path, 'w', encoding='utf-8', newline='') as f:
        f.write(text)
    if mtime_ns:
        os.utime(path, ns=(mtime_ns, mtime_ns))


def mutant_id(site, choice, digest):
    key = '%s:%d:%d:%s:%s:%s' % (site.file, choice[0], choice[1], site.op, choice[2], digest)
    return hashlib.sha1(key.encode()).hexdigest()[:12]


def diff_of(file, src, mutated):
    return ''.join(difflib.unified_diff(src.splitlines(True), mutated.splitlines(True),
                                        'a/' + file, 'b/' + file, n=1))


def summary(records):
    def tally(key):
        rows = {}
        for rec in records:
            row = rows.setdefault(key(rec), [0, 0, 0])
            row[('caught', 'survived', 'did not build').index(rec['result'])] += 1
        return rows

    def show(title, rows):
        print('\n%-46s %6s %8s %9s %6s' % (title, 'caught', 'survived', 'no build', 'score'))
        total = [0, 0, 0]
        for k in sorted(rows):
            c, s, d = rows[k]
            total = [total[0] + c, total[1] + s, total[2] + d]
            print('%-46s %6d %8d %9d %6s' % (k, c, s, d, score_text(c, s)))
        return total

    show('file', tally(lambda r: r['file']))
    total = show('folder', tally(lambda r: os.path.dirname(r['file'])))
    c, s, d = total
    print('%-46s %6d %8d %9d %6s' % ('all', c, s, d, score_text(c, s)))
    return c, s, d


def score_text(c, s):
    return '%d%%' % round(100.0 * c / (c + s)) if c + s else '-'


def score_could_be(c, s, z=1.2816):
    """The highest score a sample of c caught and s survived still leaves
    likely: the upper end of the one-sided 90% Wilson interval."""
    n = c + s
    p = c / n
    spread = z * math.sqrt(p * (1 - p) / n + z * z / (4 * n * n))
    return (p + z * z / (2 * n) + spread) / (1 + z * z / n)


def main():
    ap = argparse.ArgumentParser(description=__doc__.split('\n\n')[0],
                                 formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument('tree')
    ap.add_argument('paths', nargs='*', help='files or folders to draw from (default: the product)')
    ap.add_argument('-n', '--count', type=int, default=20, help='mutants to draw (default 20)')
    ap.add_argument('--seed', help='seed of the draw (default: the tree\'s commit)')
    ap.add_argument('--build', default='build', help='build folder inside TREE (default build)')
    ap.add_argument('--touched-by', type=int, metavar='N',
                    help='draw from the product sources the last N commits changed')
    ap.add_argument('--fail-under', type=float, metavar='PERCENT',
                    help='exit 1 when the sample shows fewer than PERCENT of the mutants that built are caught '
                         '(the upper end of its one-sided 90%% interval is below; one survivor never fails)')
    ap.add_argument('--log', help='append each result to this file (JSON lines); results already in it are reused')
    ap.add_argument('--list', action='store_true', help='count the candidate sites and stop')
    ap.add_argument('--summary', action='store_true',
                    help='print the survivors and figures of the results in --log (of --seed, if given) and stop')
    ap.add_argument('--nice', action='store_true', help='build and test at nice 19')
    ap.add_argument('--baseline', choices=('run', 'ctest'), default='run',
                    help='run: each program once on the unchanged tree (default); ctest: take the times of '
                         'ctest\'s last run of the tree, where every case passed, and run only the others')
    ap.add_argument('--every-case', action='store_true',
                    help='run every program that sees a mutant whole and log every case that failed '
                         '(slow: for finding cases that catch nothing other cases do not)')
    ap.add_argument('--time-budget', type=float, metavar='SECONDS',
                    help='start no mutant after this long (the ones left are counted as not run)')
    ap.add_argument('--allow-dirty', action='store_true', help='draw from files that differ from the commit')
    args = ap.parse_args()

    if args.summary:
        records = [json.loads(line) for line in open(args.log, encoding='utf-8')]
        records = [r for r in records if args.seed is None or r['seed'] == args.seed]
        report(records, args.fail_under)
        return 0
    tree = os.path.abspath(args.tree)
    build = os.path.join(tree, args.build)
    pending = os.path.join(build, 'mutate-pending.json')
    if os.path.exists(pending):  # a run that was killed left its mutant in place
        left = json.load(open(pending, encoding='utf-8'))
        write(os.path.join(tree, left['file']), left['text'])
        os.unlink(pending)
        print('put back %s, left mutated by a run that was stopped' % left['file'])

    files = touched_files(tree, args.touched_by) if args.touched_by else chosen_files(tree, args.paths)
    if args.touched_by and args.paths:
        wanted = set(chosen_files(tree, args.paths))
        files = [f for f in files if f in wanted]
    commit = git(tree, 'rev-parse', 'HEAD') or 'unknown'
    seed = args.seed if args.seed is not None else commit[:12]
    print('tree %s, commit %s, seed %s' % (tree, commit[:12], seed))
    if not files:
        print('no source file to draw from')
        return 0
    if not args.allow_dirty:
        dirty = git(tree, 'status', '--porcelain', '--', *files)
        if dirty:
            print('these files differ from the commit (a mutant left behind? --allow-dirty if not):\n' + dirty)
            return 2

    sources, sites = {}, []
    for f in files:
        sources[f] = open(os.path.join(tree, f), encoding='utf-8').read()
        sites += find_sites(f, sources[f])
    ops = {}
    for s in sites:
        ops[s.op] = ops.get(s.op, 0) + 1
    print('%d candidate sites in %d files (%s)' % (len(sites), len(files),
                                                  ', '.join('%s %d' % kv for kv in sorted(ops.items()))))
    if args.list:
        per_file = {}
        for s in sites:
            per_file[s.file] = per_file.get(s.file, 0) + 1
        for f in files:
            print('%6d  %s' % (per_file.get(f, 0), f))
        return 0

    rng = random.Random(str(seed))
    drawn = [(sites[k], None) for k in rng.sample(range(len(sites)), min(args.count, len(sites)))]
    drawn = [(s, rng.choice(s.choices)) for s, _ in drawn]
    digests = {f: hashlib.sha1(t.encode()).hexdigest()[:12] for f, t in sources.items()}

    previous = {}
    if args.log and os.path.exists(args.log):
        for line in open(args.log, encoding='utf-8'):
            rec = json.loads(line)
            previous[rec['id']] = rec

    runners = load_runners(tree, build)
    map_sources(tree, build, runners)
    by_file = {f: [r for r in runners if f in r.sources] for f in files}

    todo = [(s, rep) for s, rep in drawn if mutant_id(s, rep, digests[s.file]) not in previous]
    if args.baseline == 'ctest':
        ctest_times(build, runners)
    needed = {r for s, _ in todo for r in by_file[s.file] if r.baseline is None}
    if needed:
        print('unchanged tree: building and running %d test programs once' % len(needed))
        ok, log = build_targets(build, set().union(*(r.targets for r in needed)), args.nice, mutant=False)
        if not ok:
            print(log)
            print('the unchanged tree does not build')
            return 2
        for r in sorted(needed, key=lambda r: r.name):
            code, took, out = run_program(r, 600, args.nice)
            r.baseline = took
            if code != 0:
                r.usable = False
                print('  %-34s %s on the unchanged tree: left out' % (
                    r.name, 'timed out' if code is None else 'skipped' if code == r.skip_code else 'FAILED'))
                if code not in (None, r.skip_code):
                    print('\n'.join('    ' + l for l in out.splitlines()[-15:]))
            else:
                print('  %-34s %5.1f s' % (r.name, took))

    records = []
    interrupted = []

    def stop(signum, frame):
        interrupted.append(signum)
        raise KeyboardInterrupt
    signal.signal(signal.SIGTERM, stop)

    started = time.time()
    try:
        for number, (site, rep) in enumerate(drawn, 1):
            mid = mutant_id(site, rep, digests[site.file])
            start, end, text = rep
            src = sources[site.file]
            original = src[start:end]
            line = src.count('\n', 0, start) + 1
            head = '[%d/%d] %s:%d %s %r -> %r' % (number, len(drawn), site.file, line, site.op,
                                                  original if len(original) < 40 else original[:37] + '...',
                                                  text if len(text) < 40 else text[:37] + '...')
            if args.time_budget is not None and time.time() - started > args.time_budget:
                print('time budget of %d s spent: %d mutants not run' % (args.time_budget, len(drawn) - number + 1))
                break
            if mid in previous:
                rec = previous[mid]
                print('%s: %s (from the log)' % (head, rec['result']), flush=True)
                records.append(rec)
                continue
            mutated = src[:start] + text + src[end:]
            path = os.path.join(tree, site.file)
            mtime = os.stat(path).st_mtime_ns
            rec = {'id': mid, 'seed': str(seed), 'commit': commit, 'file': site.file, 'line': line,
                   'op': site.op, 'original': original, 'replacement': text,
                   'diff': diff_of(site.file, src, mutated)}
            seers = [r for r in by_file[site.file] if r.usable]
            t0 = time.time()
            built = False
            if not seers:
                rec.update(result='survived', by='no test program sees this file', build_s=0, test_s=0)
            else:
                json.dump({'file': site.file, 'text': src}, open(pending, 'w', encoding='utf-8'))
                write(path, mutated)
                try:
                    # Each program is built just before it runs, fastest
                    # first: once one fails, the others need no linking.
                    built = True
                    rec.update(result='survived', by='', build_s=0.0, test_s=0.0)
                    for r in sorted(seers, key=lambda r: r.baseline):
                        t1 = time.time()
                        ok, log = build_targets(build, r.targets, args.nice, mutant=True)
                        t2 = time.time()
                        rec['build_s'] += t2 - t1
                        if not ok:
                            rec.update(result='did not build', by='', build_log=log[-1500:])
                            break
                        limit = 3 * r.baseline + 30
                        code, took, out = run_program(r, limit, args.nice, whole=args.every_case)
                        rec['test_s'] += time.time() - t2
                        if code != 0:
                            if args.every_case:
                                rec.setdefault('cases', []).extend(
                                    '%s: %s' % (r.name, c) for c in failed_cases(out) or ['(time limit)' if code is None else '(exit %d)' % code])
                            if rec['result'] != 'caught':
                                rec.update(result='caught', by=r.name + (' (time limit %d s)' % limit if code is None else ''))
                            if not args.every_case:
                                break
                    rec['build_s'], rec['test_s'] = round(rec['build_s'], 1), round(rec['test_s'], 1)
                finally:
                    # A new modification time: whatever was built from the
                    # mutant is older than the file put back, and is rebuilt.
                    write(path, src, None if built else mtime)
                    os.unlink(pending)
            records.append(rec)
            print('%s: %s%s (build %s s, tests %s s)' % (head, rec['result'], ' by ' + rec['by'] if rec['by'] else '',
                                                        rec['build_s'], rec['test_s']), flush=True)
            if args.log:
                with open(args.log, 'a', encoding='utf-8') as f:
                    f.write(json.dumps(rec) + '\n')
    except KeyboardInterrupt:
        print('stopped; the file is put back and the tree rebuilt')
    finally:
        print('rebuilding the unchanged tree', flush=True)
        ok, log = build_targets(build, ['all'], args.nice, mutant=False)
        if not ok:
            print(log)
            print('the unchanged tree did not build again')
            return 2
    if interrupted:
        return 130

    fresh = [r for r in records if r['id'] not in previous]
    if fresh:
        print('\n%d mutants in %d s; per mutant: build %.0f s, tests %.0f s on average' % (
            len(fresh), time.time() - started, sum(r['build_s'] for r in fresh) / len(fresh),
            sum(r['test_s'] for r in fresh) / len(fresh)))
    return report(records, args.fail_under)


def report(records, fail_under):
    survivors = [r for r in records if r['result'] == 'survived']
    if survivors:
        print('\nsurvivors:')
        for r in survivors:
            print('%s:%d %s%s\n%s' % (r['file'], r['line'], r['op'],
                                      ' (' + r['by'] + ')' if r['by'] else '', r['diff']))
    c, s, d = summary(records)
    seeds = sorted({r['seed'] for r in records})
    commits = sorted({r['commit'][:12] for r in records})
    print('\nseed %s, commit %s: caught %d, survived %d, did not build %d; score %s' % (
        ', '.join(seeds), ', '.join(commits), c, s, d, score_text(c, s)))
    # A sample of a dozen cannot tell 70% from 60%, and one stopped by the
    # time budget holds more survivors than its share (each costs the whole
    # suite): it fails only when it shows the score is under the mark, and
    # never for a single survivor.
    if fail_under is not None and s > 1 and 100.0 * score_could_be(c, s) < fail_under:
        print('fewer than %g%% of the mutants that built were caught: at most %.0f%% is likely from this sample'
              % (fail_under, 100.0 * score_could_be(c, s)))
        return 1
    return 0


if __name__ == '__main__':
    sys.exit(main())
