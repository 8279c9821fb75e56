#!/usr/bin/env python3
"""Per-test coverage: which tests reach nothing that the other tests miss.

Runs every test of the given executables on its own (parameterised cases of
one test together), each with its own GCOV_PREFIX, and records the arc
counters of src/ and platform/ that it left nonzero (read straight from the
.gcda files; gcc 12's format). Then prints, per test, the counters no other
test reaches, and the tests that together reach nothing the rest miss
(taken largest first, so that two tests covering only each other are not
both listed), each with the fewest other tests that cover it.

    cmake -S . -B build/cov -G Ninja -DCMAKE_BUILD_TYPE=Debug -DSPLIT_BUILD_BENCH=OFF \
          -DCMAKE_CXX_FLAGS=--coverage -DCMAKE_C_FLAGS=--coverage
    cmake --build build/cov
    nice python3 scripts/test-coverage.py build/cov test_cli test_models ...

Results are kept in build/cov/test-coverage/ (one file per test; delete one
to run that test again). A covered counter means reached, not checked: a
test listed as covered may still hold the only assertion of what it reaches.
"""
import collections, os, pickle, re, shutil, struct, subprocess, sys
from concurrent.futures import ThreadPoolExecutor

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def nonzero_arcs(path):
    data = open(path, 'rb').read()
    assert struct.unpack_from('<I', data, 0)[0] == 0x67636461, path   # "gcda"
    pos, function, arcs = 16, None, []                                # magic, version, stamp, checksum
    while pos + 8 <= len(data):
        tag, length = struct.unpack_from('<Ii', data, pos)
        pos += 8
        if tag == 0:
            break
        if tag == 0x01000000:                       # a function: its ident first
            function = struct.unpack_from('<I', data, pos)[0] if length else None
        elif tag == 0x01a10000 and length > 0:      # arc counters (a negative length: all zero, none written)
            counts = struct.unpack_from('<%dq' % (length // 8), data, pos)
            arcs += [(function, i) for i, n in enumerate(counts) if n]
        pos += max(length, 0)
    return arcs


def covered(prefix):
    arcs = set()
    for directory, _, files in os.walk(prefix):
        for name in files:
            relative = os.path.join(directory, name)[len(prefix):]
            if name.endswith('.gcda') and relative.split('/')[1] in ('src', 'platform'):
                arcs.update((relative, f, i) for f, i in nonzero_arcs(os.path.join(directory, name)))
    return arcs


def tests_of(executable):
    listing = subprocess.run([executable, '--gtest_list_tests'], capture_output=True, text=True).stdout
    tests, suite = collections.defaultdict(list), None
    for line in listing.splitlines():
        name = line.split('#')[0].strip()
        if not line.startswith(' '):
            suite = name.rstrip('.')
        elif name:
            tests[suite.split('/')[-1] + '.' + name.split('/')[0]].append(suite + '.' + name)
    return tests


def test_lines():
    """Non-blank, non-comment lines of each TEST body, by Suite.Name."""
    lines, start = {}, re.compile(r'^(?:TEST|TEST_F|TEST_P)\s*\(\s*(\w+)\s*,\s*(\w+)')
    for directory, _, files in os.walk(os.path.join(ROOT, 'tests')):
        for name in (f for f in files if f.endswith('.cpp')):
            text = open(os.path.join(directory, name), errors='replace').read().split('\n')
            for at, line in enumerate(text):
                if m := start.match(line):
                    end = next((e for e in range(at, len(text)) if text[e].startswith('}')), len(text) - 1)
                    body = [l for l in text[at:end + 1] if l.strip() and not l.strip().startswith('//')]
                    lines[m.group(1) + '.' + m.group(2)] = len(body)
    return lines


def main(build, executables):
    build = os.path.abspath(build)
    store = os.path.join(build, 'test-coverage')
    os.makedirs(store, exist_ok=True)
    strip = str(len(build.strip('/').split('/')))

    def run(executable, test, cases):
        result = os.path.join(store, test + '.pickle')
        if not os.path.exists(result):
            prefix = os.path.join(store, 'prefix-' + test)
            shutil.rmtree(prefix, ignore_errors=True)
            env = dict(os.environ, GCOV_PREFIX=prefix, GCOV_PREFIX_STRIP=strip)
            status = subprocess.run([os.path.join(build, 'tests', executable), '--gtest_filter=' + ':'.join(cases)],
                                    cwd=os.path.join(build, 'tests'), env=env, capture_output=True).returncode
            pickle.dump((status, covered(prefix)), open(result, 'wb'))
            shutil.rmtree(prefix, ignore_errors=True)
        return test, pickle.load(open(result, 'rb'))

    jobs = [(e, t, c) for e in executables for t, c in tests_of(os.path.join(build, 'tests', e)).items()]
    with ThreadPoolExecutor(2) as pool:
        results = dict(pool.map(lambda job: run(*job), jobs))
    reach = collections.Counter(arc for _, arcs in results.values() for arc in arcs)
    sizes = test_lines()
    for test, (status, arcs) in sorted(results.items()):
        note = '' if status == 0 else '  (failed here: its coverage is incomplete)'
        print(f'{sum(reach[a] == 1 for a in arcs):6} only here  {test}{note}')
    print('\nReaching nothing the others miss (test lines, test <= the fewest tests covering it):')
    removed = set()
    for test in sorted(results, key=lambda t: -sizes.get(t, 0)):
        arcs = results[test][1]
        if results[test][0] != 0 or not all(reach[a] > 1 for a in arcs):
            continue
        for a in arcs:
            reach[a] -= 1
        removed.add(test)
        left, cover = set(arcs), []
        while left:
            best = max((t for t in results if t not in removed), key=lambda t: len(left & results[t][1]))
            cover.append(best)
            left -= results[best][1]
        print(f'{sizes.get(test, 0):6} {test} <= {" + ".join(cover)}')


if __name__ == '__main__':
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    main(sys.argv[1], sys.argv[2:])
