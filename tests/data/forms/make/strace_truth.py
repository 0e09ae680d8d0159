#!/usr/bin/env python3
"""strace_truth.py FILE...: an independent reading of raw strace text.

For each FILE it writes
  FILE.truth    one line per call name: name<TAB>count<TAB>total_us, sorted by
                name; total_us is the sum of the calls' durations (-T), exactly,
                in integer microseconds (a call with no duration adds 0)
  FILE.threads  one line per process/thread: pid<TAB>calls<TAB>with_duration<TAB>
                total_us<TAB>first_time<TAB>last_time ("-" is the process of lines
                that have no pid column; times as printed, -t/-tt ones turned
                into seconds since midnight)
and prints a one-line summary of what it saw.

How a line is read:
  [pid N] or "N " (strace -f) before the time stamp gives the pid; a line with
  neither belongs to one process, named after the file's numeric suffix
  (strace -ff files: NAME.PID) or "-".  strace -f writing to standard error
  leaves the "[pid N]" out while it traces a single process: the lines before
  the first "[pid N]" line are the first process's (the first pid seen that
  no "strace: Process N attached" announced), and a later line without it is
  the one process then alive (seen, and no "+++ exited" yet).  Time stamps: -ttt (seconds.micros),
  -tt (HH:MM:SS.micros) or -t (HH:MM:SS).  With -i an "[address]" follows.
  The rest is the call text.  Quoted strings in it can hold anything, so they
  are skipped by their escapes before anything else is looked for; outside
  them a backslash escapes the next character too (strace -y prints a path's
  '"' as \" in the <...> after a file descriptor).
  The duration is the LAST "<seconds.fraction>" on the line, at its end.
  The call's name is the word before the first "(" of the call text.
  "name(... <unfinished ...>" starts a call on that pid; "<... name resumed>"
  ends it, and the resumed line's duration is the call's duration.  A call is
  counted once: at its resumed line, or at a complete line.  An unfinished
  call that never resumes (the cut ended, the thread died) is counted at the
  end with no duration.  "--- SIG... ---" and "+++ ... +++" lines are not
  calls; lines that are not strace lines (a program's own output on the same
  standard error, "strace: Process N attached") are counted as "other".
"""
import re
import sys
from collections import defaultdict

PREFIX = re.compile(
    r'^(?:\[pid\s+(?P<bpid>\d+)\]\s+|(?P<pid>\d+)\s+)?'
    r'(?P<ts>\d+\.\d+|\d\d:\d\d:\d\d(?:\.\d+)?)\s+'
    r'(?:\[(?P<ip>[0-9a-f?]+)\]\s+)?'
    r'(?P<rest>.*)$')
DURATION = re.compile(r'<(\d+)\.(\d+)>\s*$')
RESUMED = re.compile(r'^<\.\.\.\s+(\S+)\s+resumed>')
UNFINISHED = re.compile(r'<unfinished \.\.\.>\s*$')


def unquote(text):
    """The text with every quoted string's contents removed ("" kept)."""
    out = []
    i, n = 0, len(text)
    while i < n:
        c = text[i]
        if c == '"':
            out.append('""')
            i += 1
            while i < n and text[i] != '"':
                i += 2 if text[i] == '\\' else 1
            i += 1  # the closing quote
        elif c == '\\':
            out.append(text[i:i + 2])  # outside strings too: -y paths print \" and \74
            i += 2
        else:
            out.append(c)
            i += 1
    return ''.join(out)


ATTACHED = re.compile(r'strace: Process \d+ (?:attached|detached)\s*$')
COMPLETE = re.compile(r'(?:\)\s+=\s+\S.*|<unfinished \.\.\.>\s*)$')


def joined(lines, stats, attached):
    """Yields whole strace lines.  When strace writes to standard error, other
    text can land inside one of its lines: its own "strace: Process N
    attached" message, or what the traced program writes there while the
    call runs (write(2, "x\n", 2x\n then ") = 2 <...>" on the next line).
    A line with a pid/time prefix whose call text is not complete (no ") = "
    result, no "<unfinished ...>") is joined with the lines that follow,
    up to the one that completes it; a trailing attach message is dropped."""
    held = None
    for raw in lines:
        line = raw.rstrip('\n')
        if held is not None:
            if PREFIX.match(line) and not line.startswith(' '):
                stats['broken lines never completed'] += 1
                yield held
                held = None
            else:
                a = ATTACHED.search(line)
                if a:
                    stats['attach messages inside lines'] += 1
                    attached.add(re.search(r'\d+', a.group(0)).group(0))
                    line = line[:a.start()]
                held += line
                if COMPLETE.search(unquote(held)):
                    stats['lines joined'] += 1
                    yield held
                    held = None
                continue
        m = PREFIX.match(line)
        if m and not m.group('rest').startswith(('---', '+++')):
            a = ATTACHED.search(line)
            if a:
                stats['attach messages inside lines'] += 1
                attached.add(re.search(r'\d+', a.group(0)).group(0))
                line = line[:a.start()]
            if not COMPLETE.search(unquote(PREFIX.match(line).group('rest'))):
                held = line
                continue
        yield line
    if held is not None:
        stats['broken lines never completed'] += 1
        yield held


def seconds(ts):
    if ':' in ts:
        h, m, s = ts.split(':')
        return int(h) * 3600 + int(m) * 60 + float(s)
    return float(ts)


def duration_ns(m):
    whole, frac = m.group(1), m.group(2)
    frac9 = (frac + '000000000')[:9]
    if len(frac) > 9 and frac[9:].strip('0'):
        raise ValueError('duration finer than a nanosecond: ' + m.group(0))
    return int(whole) * 1000000000 + int(frac9)


def read(path):
    suffix = re.search(r'\.(\d+)$', path)
    default_pid = suffix.group(1) if suffix else '-'
    calls = defaultdict(lambda: [0, 0])      # name -> [count, total_ns]
    threads = {}                               # pid -> [calls, with_dur, ns, first, last]
    pending = {}                               # pid -> name of the unfinished call
    stats = defaultdict(int)
    attached, alive, first = set(), set(), [None]

    def merge_default(into):
        """Lines without a pid column seen so far were the first process's."""
        if default_pid in threads:
            a, b = threads.pop(default_pid), threads.setdefault(into, [0, 0, 0, 0.0, 0.0])
            threads[into] = [a[0] + b[0], a[1] + b[1], a[2] + b[2], a[3], b[4]] if b[0] else a
        if default_pid in pending:
            pending[into] = pending.pop(default_pid)

    with open(path, encoding='utf-8', errors='surrogateescape') as f:
        for line in joined(f, stats, attached):
            m = PREFIX.match(line)
            if not m:
                a = re.match(r'strace: Process (\d+) attached', line)
                if a:
                    attached.add(a.group(1))
                stats['other lines'] += 1
                continue
            pid = m.group('bpid') or m.group('pid')
            if pid is None:
                # strace -f writing to standard error leaves out "[pid N]"
                # while it traces one process only: before the first child,
                # and again once all but one have ended.
                pid = first[0] or default_pid
                if first[0] and len(alive) == 1:
                    pid = next(iter(alive))
            elif m.group('bpid'):
                if first[0] is None and pid not in attached:
                    first[0] = pid
                    merge_default(pid)
                if m.group('rest').startswith('+++'):
                    alive.discard(pid)
                else:
                    alive.add(pid)
            ts = seconds(m.group('ts'))
            rest = m.group('rest')
            th = threads.setdefault(pid, [0, 0, 0, ts, ts])
            th[4] = ts
            if rest.startswith('---') or rest.startswith('+++'):
                stats['signal/exit lines'] += 1
                continue
            bare = unquote(rest)
            d = DURATION.search(bare)
            r = RESUMED.match(bare)
            if r:
                name = r.group(1)
                if pending.get(pid) == name:
                    del pending[pid]
                else:
                    stats['resumed without its start'] += 1
                    if pid in pending:
                        stats['unfinished left open by another call'] += 1
                        del pending[pid]
            else:
                p = bare.find('(')
                if p <= 0:
                    stats['other lines'] += 1
                    continue
                name = bare[:p].split()[-1]
                if UNFINISHED.search(bare):
                    if pid in pending:
                        stats['unfinished left open by another call'] += 1
                    pending[pid] = name
                    continue
            ns = duration_ns(d) if d else 0
            calls[name][0] += 1
            calls[name][1] += ns
            th[0] += 1
            if d:
                th[1] += 1
                th[2] += ns
            else:
                stats['calls without duration'] += 1
    for pid, name in pending.items():
        stats['unfinished never resumed'] += 1
        stats['calls without duration'] += 1
        calls[name][0] += 1
        threads[pid][0] += 1
    return calls, threads, stats


def us(ns):
    return str(ns // 1000) if ns % 1000 == 0 else '%d.%03d' % (ns // 1000, ns % 1000)


def main():
    for path in sys.argv[1:]:
        calls, threads, stats = read(path)
        with open(path + '.truth', 'w') as out:
            for name in sorted(calls):
                out.write('%s\t%d\t%s\n' % (name, calls[name][0], us(calls[name][1])))
        with open(path + '.threads', 'w') as out:
            for pid in sorted(threads, key=lambda p: (p == '-', int(p) if p.isdigit() else 0)):
                c, wd, ns, first, last = threads[pid]
                out.write('%s\t%d\t%d\t%s\t%.6f\t%.6f\n' % (pid, c, wd, us(ns), first, last))
        total = sum(c for c, _ in calls.values())
        total_ns = sum(ns for _, ns in calls.values())
        extra = ', '.join('%s %d' % kv for kv in sorted(stats.items()))
        print('%s: %d calls, %d names, %d threads, total %s us%s' % (
            path, total, len(calls), len(threads), us(total_ns), (', ' + extra) if extra else ''))


if __name__ == '__main__':
    main()
