#!/usr/bin/env python3
"""compare_spans.py TRUTH JSON [TOL_US]: compares spanmill's JSON report of an
ftrace capture with the truth file that spans.c wrote.

Per thread it matches spans by (name, location) and duration within TOL_US
(default 50 us: on a busy machine a thread can be preempted between its clock
read and its write(2)), and prints how many truth spans were found, missed,
and how many reported spans match none. The report's times are not compared (the
report's start times are offsets from the start of the trace)."""
import json, sys
from collections import defaultdict

truth_path, json_path = sys.argv[1], sys.argv[2]
tol = float(sys.argv[3]) if len(sys.argv) > 3 else 50.0
truth = defaultdict(list)
for line in open(truth_path):
    tid, name, loc, depth, start, dur = line.rstrip('\n').split('\t')
    truth[tid].append((name, '' if loc == '-' else loc, float(dur)))
rep = json.load(open(json_path))
sections, pcs = rep['sections'], rep['pc']
got = defaultdict(list)
for tid, t in rep['threads'].items():
    for start, dur, pc in t['trace']:
        loc, sec = pcs[pc]
        got[tid].append((sections[sec], loc, float(dur)))
tot_t = tot_found = tot_extra = 0
for tid in sorted(set(truth) | set(got)):
    want = list(truth.get(tid, []))
    have = list(got.get(tid, []))
    found = 0
    rest = []
    for h in have:
        for i, w in enumerate(want):
            if w[0] == h[0] and w[1] == h[1] and abs(w[2] - h[2]) <= tol:
                del want[i]
                found += 1
                break
        else:
            rest.append(h)
    tot_t += len(truth.get(tid, []))
    tot_found += found
    tot_extra += len(rest)
    print(f"thread {tid}: truth {len(truth.get(tid, []))}, reported {len(have)}, matched {found}, "
          f"unmatched reported {len(rest)}" + (f" e.g. {rest[:3]}" if rest else ""))
print(f"all: truth {tot_t}, matched {tot_found}, missed {tot_t - tot_found}, unmatched reported {tot_extra}")
