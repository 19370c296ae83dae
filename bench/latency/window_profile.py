#!/usr/bin/env python3
"""Where a part of bench_latency's loops spends its time: a perf profile cut down to it.

    perf record -k mono -F 20000 -e cpu-clock -g -o cpu.data \\
        bench_latency --loops 800 --stamps stamps.tsv
    perf script -i cpu.data -F tid,time,ip,sym,dso --ns | window_profile.py stamps.tsv [FROM TO]

FROM and TO name the stamps that bound the part (default: wake built, the strategy's part).
Prints the samples' threads, then for the busiest thread the functions by their own samples and
by the samples they were on the stack for (each counted once per sample).
"""
import bisect
import collections
import sys


def windows(path, start, end):
    with open(path) as f:
        names = f.readline().split()
        a, b = names.index(start), names.index(end)
        out = []
        for line in f:
            cols = [int(x) for x in line.split()]
            if cols[a] > 0 and cols[b] >= cols[a]:
                out.append((cols[a], cols[b]))
    out.sort()
    return out


def samples(stream):
    head, stack = None, []
    for line in stream:
        line = line.rstrip('\n')
        if not line.strip():
            if head:
                yield head[0], head[1], stack
            head, stack = None, []
        elif not line.startswith('\t'):
            # perf pads a short thread id with spaces; the stack's lines start with a tab.
            tid, when = line.split()[:2]
            head = (tid, int(round(float(when.rstrip(':')) * 1e9)))
            stack = []
        else:
            parts = line.split(None, 1)
            sym, _, dso = (parts[1] if len(parts) > 1 else '?').rpartition(' (')
            # Code without symbols (a stripped library) is named by its file.
            stack.append(sym.split('+0x')[0] if sym != '[unknown]' else dso.rstrip(')'))
    if head:
        yield head[0], head[1], stack


def main():
    if len(sys.argv) not in (2, 4):
        sys.exit(__doc__)
    start, end = (sys.argv[2], sys.argv[3]) if len(sys.argv) == 4 else ('wake', 'built')
    spans = windows(sys.argv[1], start, end)
    begins = [s for s, _ in spans]
    total_ns = sum(e - s for s, e in spans)
    inside = []
    for tid, when, stack in samples(sys.stdin):
        i = bisect.bisect_right(begins, when) - 1
        if i >= 0 and when <= spans[i][1]:
            inside.append((tid, stack))
    threads = collections.Counter(tid for tid, _ in inside)
    print(f'{len(spans)} loops, {total_ns / max(1, len(spans)) / 1e3:.1f} us each in '
          f'{start}..{end}; samples inside: {len(inside)}')
    for tid, n in threads.most_common(5):
        print(f'  thread {tid}: {n}')
    if not threads:
        return
    busiest = threads.most_common(1)[0][0]
    own, total = collections.Counter(), collections.Counter()
    n = 0
    for tid, stack in inside:
        if tid != busiest or not stack:
            continue
        n += 1
        own[stack[0]] += 1
        for sym in set(stack):
            total[sym] += 1
    print(f'\nthread {busiest}, own samples:')
    for sym, c in own.most_common(25):
        print(f'  {100 * c / n:5.1f}%  {sym[:110]}')
    print('\non the stack:')
    for sym, c in total.most_common(45):
        print(f'  {100 * c / n:5.1f}%  {sym[:110]}')


if __name__ == '__main__':
    main()
