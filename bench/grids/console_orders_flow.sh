#!/bin/bash
# The console's user-interface (main) thread on the bundled simulator while orders flow:
# 7 000 own orders placed and filled (about 14 000 orders-log rows), then an order every 50 ms
# (every twentieth burst filled) on a market of 2 000 events a second. Prints how busy the
# thread was over 20 s and leaves perf's samples of it in ROOT/perf.data
# (perf report -i ROOT/perf.data --children --sort symbol).
#   bench/grids/console_orders_flow.sh [BUILD_DIR [ROOT [PORT]]]
# BUILD_DIR: a build with vorlen-console and the simulator's gateway folder (build/release);
# ROOT: a scratch folder, emptied first; PORT and PORT+1: the router's ports.
set -u
BUILD=$(realpath "${1:-build/release}")
ROOT=${2:-/tmp/vorlen-orders-flow}
PORT=${3:-47311}
CTRL=$((PORT + 1))
rm -rf "$ROOT" && mkdir -p "$ROOT/data" || exit 1
cp -r "$BUILD/gateway/bin" "$BUILD/gateway/scheme" "$ROOT/"
rm -f "$ROOT/bin/router.log" "$ROOT/bin/router.ports" "$ROOT/bin/cgate.log"
printf '[router]\nhost=127.0.0.1\nport=%s\ncontrol_port=%s\nrate=200\nseed=20261218\nlog=router.log\nports_file=router.ports\n' \
    "$PORT" "$CTRL" >"$ROOT/client_router.ini"
printf 'Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Moscow Exchange\\SPECTRA Client'"'"'s Gate]\r\n"InstallDir"="%s/"\r\n' \
    "$ROOT" >"$ROOT/machine.reg"
# The dialog's defaults, on this router's port (line 19 of a settings file).
sed "19s/.*/$PORT\r/" "$(dirname "$0")/../../fuzz/corpus/saved_settings/default.sav" >"$ROOT/run.sav"

ctl() {
    exec 3<>"/dev/tcp/127.0.0.1/$CTRL" || return 1
    echo "$1" >&3
    read -r -t 5 line <&3
    exec 3>&-
    echo "$line"
}
export VORLEN_REGISTRY=$ROOT/machine.reg VORLEN_DATA_DIR=$ROOT/data
"$BUILD/src/main/console/vorlen-console" --settings "$ROOT/run.sav" --seconds 75 \
    --dump "$ROOT/dump" >"$ROOT/out.txt" 2>"$ROOT/err.txt" &
CPID=$!
for _ in $(seq 1 60); do
    sleep 1
    grep -q "на связи" "$ROOT/out.txt" 2>/dev/null && break
done
sleep 3
ctl "rest 2070001 7000"
ctl "fill now"
ctl "rate 2000"
sleep 8
(for i in $(seq 1 600); do
    ctl "rest 2070001 1" >/dev/null
    [ $((i % 20)) = 0 ] && ctl "fill now" >/dev/null
    sleep 0.05
done) &
FLOW=$!
sleep 2
ticks() { awk '{print $14 + $15}' "/proc/$CPID/task/$CPID/stat"; }
t0=$(ticks)
s0=$(date +%s.%N)
perf record -F 199 --call-graph dwarf,16384 -t "$CPID" -o "$ROOT/perf.data" -- sleep 20 \
    >"$ROOT/perf.log" 2>&1
t1=$(ticks)
s1=$(date +%s.%N)
echo "ui thread busy: $(echo "($t1 - $t0) / $(getconf CLK_TCK) / ($s1 - $s0) * 100" | bc -l | cut -c1-6) % of a core"
kill "$FLOW" 2>/dev/null
wait "$CPID"
echo "console exit $?; orders-log rows dumped: $(($(wc -l <"$ROOT/dump/orders_log.tsv") - 1))"
