#!/usr/bin/env python3
"""Why the slow loops of bench_latency were slow: the scheduler's word on each of them.

    perf record -k mono -a -e sched:sched_switch -e sched:sched_wakeup -o sched.data \\
        bench_latency --loops 2000 --stamps stamps.tsv
    perf script -i sched.data --ns -F comm,tid,cpu,time,event,trace | wake_tail.py stamps.tsv [US]

For every loop whose expert woke more than US (500) microseconds after the tick, finds the
wake-up that let the expert run (the last one before its wake stamp) and sorts the loop by where
the time went: the market-data thread still holding the store (its batch ended late), the
wake-up itself coming late (when an idle processor records it, the wake-up waited for that
processor: a halted virtual processor that its host ran late), or the expert woken in time
but not run (its processor busy with another thread, or taken away by the host).
"""
import bisect
import collections
import re
import sys

LINE = re.compile(r'^\s*(.+?)\s+(\d+)\s+\[(\d+)\]\s+([\d.]+):\s+sched:(\w+):\s+(.*)$')


def events(stream):
    """(ns, cpu, comm, event, pid it names): the woken pid, or the pid switched in."""
    for line in stream:
        m = LINE.match(line)
        if not m:
            continue
        comm, _, cpu, when, event, rest = m.groups()
        key = 'next_pid=' if event == 'sched_switch' else 'pid='
        pid = re.search(r'(?:^|\s)' + key + r'(\d+)', rest)
        if pid:
            yield int(round(float(when) * 1e9)), cpu, comm.strip(), event, pid.group(1)


def main():
    if len(sys.argv) not in (2, 3):
        sys.exit(__doc__)
    limit = float(sys.argv[2]) * 1e3 if len(sys.argv) == 3 else 500e3
    with open(sys.argv[1]) as f:
        names = f.readline().split()
        loops = [dict(zip(names, map(int, line.split()))) for line in f]
    evs = sorted(events(sys.stdin))
    # The expert is the thread switched in just before most wake stamps.
    switches = [(t, pid) for t, _, _, e, pid in evs if e == 'sched_switch']
    times = [t for t, _ in switches]
    votes = collections.Counter()
    for c in loops:
        i = bisect.bisect_right(times, c['wake']) - 1
        if i >= 0 and c['wake'] - times[i] < 200e3:
            votes[switches[i][1]] += 1
    if not votes:
        sys.exit('no switch to any thread near the wake stamps: was perf recording with -k mono?')
    expert = votes.most_common(1)[0][0]
    wakes = [(t, cpu, comm) for t, cpu, comm, e, pid in evs if e == 'sched_wakeup' and pid == expert]
    ins = [t for t, _, _, e, pid in evs if e == 'sched_switch' and pid == expert]
    wake_times = [t for t, _, _ in wakes]
    slow = [c for c in loops if c['wake'] - c['tick'] > limit]
    kinds = collections.Counter()
    for c in slow:
        released = c['released'] or c['applied']
        i = bisect.bisect_right(wake_times, c['wake']) - 1
        j = bisect.bisect_right(ins, c['wake']) - 1
        if i < 0 or j < 0:
            kinds['no wake-up recorded'] += 1
            continue
        woke, cpu, by = wakes[i]
        ran = ins[j]
        if released - c['tick'] > limit / 2:
            kinds['the batch ended late'] += 1
        elif woke - released > limit / 2:
            kinds['the wake-up came late' + (' to an idle processor' if by == 'swapper' else '')] += 1
        elif ran - woke > limit / 2:
            kinds['woken in time, run late'] += 1
        else:
            kinds['other (several wake-ups, the strategy itself)'] += 1
    print(f'expert thread {expert}; {len(loops)} loops, {len(slow)} woke more than '
          f'{limit / 1e3:.0f} us after the tick')
    for kind, n in kinds.most_common():
        print(f'  {n:5d}  {kind}')


if __name__ == '__main__':
    main()
