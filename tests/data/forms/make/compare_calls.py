#!/usr/bin/env python3
"""compare_calls.py TRUTH JSON: compares spanmill's JSON report of an strace
capture (spanmill -t strace) with the FILE.truth that strace_truth.py wrote:
per call name, the count and the summed duration (us), and prints the names
that differ and a total."""
import json, sys
from collections import defaultdict

truth = {}
for line in open(sys.argv[1]):
    name, count, total = line.rstrip('\n').split('\t')
    truth[name] = (int(count), float(total))
rep = json.load(open(sys.argv[2]))
got = defaultdict(lambda: [0, 0.0])
for tid, t in rep['threads'].items():
    for start, dur, pc in t['trace']:
        name = rep['sections'][rep['pc'][pc][1]]
        got[name][0] += 1
        got[name][1] += float(dur)
same = 0
for name in sorted(set(truth) | set(got)):
    tc, tt = truth.get(name, (0, 0.0))
    gc, gt = got.get(name, (0, 0.0))
    if tc == gc and abs(tt - gt) < 0.5 + 0.001 * tc:
        same += 1
    else:
        print('%-24.24s truth %5d %12.3f  report %5d %12.3f' % (name, tc, tt, gc, gt))
print('names: truth %d, report %d, same count and total %d; calls: truth %d, report %d' % (
    len(truth), len(got), same, sum(c for c, _ in truth.values()), sum(c for c, _ in got.values())))
