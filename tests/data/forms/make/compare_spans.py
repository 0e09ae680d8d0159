#!/usr/bin/env python3
"""compare_spans.py TRUTH JSON [TOL_US [FTRACE]]: compares spanmill's JSON
report of an ftrace capture with the truth file that spans.c wrote.

Per thread it matches spans by (name, location) and duration within TOL_US
(default 50 us: on a busy machine a thread can be preempted between its clock
read and its write(2)), and prints how many truth spans were found, missed,
and how many reported spans match none.  Given the FTRACE capture too (with
mono time stamps), the start times must match as well: the report's starts
are offsets from the capture's first marker's time stamp, read from it."""
import json, sys
from collections import defaultdict

truth_path, json_path = sys.argv[1], sys.argv[2]
tol = float(sys.argv[3]) if len(sys.argv) > 3 else 50.0
base = None
if len(sys.argv) > 4:
    import re
    for line in open(sys.argv[4]):
        m = re.search(r'\s(\d+\.\d+): ', line)
        if m and 'tracing_mark_write' in line and not line.startswith('#'):
            base = float(m.group(1)) * 1e6
            break
truth = defaultdict(list)
for line in open(truth_path):
    tid, name, loc, depth, start, dur = line.rstrip('\n').split('\t')
    truth[tid].append((name, '' if loc == '-' else loc, float(dur), float(start)))
rep = json.load(open(json_path))
sections, pcs = rep['sections'], rep['pc']
got = defaultdict(list)
for tid, t in rep['threads'].items():
    for start, dur, pc in t['trace']:
        loc, sec = pcs[pc]
        got[tid].append((sections[sec], loc, float(dur), float(start) * 1e6))
tot_t = tot_found = tot_extra = 0
for tid in sorted(set(truth) | set(got)):
    want = list(truth.get(tid, []))
    have = list(got.get(tid, []))
    found = 0
    rest = []
    for h in have:
        for i, w in enumerate(want):
            if w[0] == h[0] and w[1] == h[1] and abs(w[2] - h[2]) <= tol and (
                    base is None or abs(w[3] - (base + h[3])) <= tol):
                del want[i]
                found += 1
                break
        else:
            rest.append(h)
    tot_t += len(truth.get(tid, []))
    tot_found += found
    tot_extra += len(rest)
    print(f"thread {tid}: truth {len(truth.get(tid, []))}, reported {len(have)}, matched {found}, "
          f"unmatched reported {len(rest)}" + (f" e.g. {[r[:3] for r in rest[:3]]}" if rest else ""))
print(f"all: truth {tot_t}, matched {tot_found}, missed {tot_t - tot_found}, unmatched reported {tot_extra}")
