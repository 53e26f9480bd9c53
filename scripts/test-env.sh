#!/usr/bin/env bash
# The Wine test environment of one build folder: its own prefix, a persistent
# wineserver for the length of a test run, and pseudo-terminal pairs that the
# prefix sees as COM ports (driver end COM1n, display end COM2n, n = 1..4).
#
#   test-env.sh prepare BUILD    create the prefix once (idempotent)
#   test-env.sh start   BUILD    prepare, start wineserver and the port pairs
#   test-env.sh stop    BUILD    stop the port pairs and wineserver
#   test-env.sh manage  BUILD    (internal) serve unplug/replug requests
#
# A test unplugs pair n by creating ports/ctl/unplug-n.req and waits for
# ports/ctl/unplug-n.done; replug-n.req starts the pair again.
set -u
BUILD=$(mkdir -p "${2:-build}" && cd "${2:-build}" && pwd)
export WINEPREFIX=$BUILD/wineprefix
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
PORTS=$BUILD/ports
PAIRS=4

prepare() {
    [ -f "$WINEPREFIX/.vk-ready" ] && return 0
    rm -rf "$WINEPREFIX"
    echo "Creating the Wine prefix $WINEPREFIX"
    wineboot -i >/dev/null 2>&1
    wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
    for i in $(seq 1 $PAIRS); do
        wine reg add 'HKLM\Software\Wine\Ports' /v "COM1$i" /d "$PORTS/drv$i" /f >/dev/null 2>&1
        wine reg add 'HKLM\Software\Wine\Ports' /v "COM2$i" /d "$PORTS/sim$i" /f >/dev/null 2>&1
    done
    wineserver -w
    touch "$WINEPREFIX/.vk-ready"
}

link_ports() {
    mkdir -p "$WINEPREFIX/dosdevices"
    for i in $(seq 1 $PAIRS); do
        ln -sfn "$PORTS/drv$i" "$WINEPREFIX/dosdevices/com1$i"
        ln -sfn "$PORTS/sim$i" "$WINEPREFIX/dosdevices/com2$i"
    done
}

# The manager owns the socat processes as its children, so that it can reap
# them: a pulled pair is really gone when the request is answered.
declare -A PAIR_PID

start_pair() {
    local i=$1
    rm -f "$PORTS/drv$i" "$PORTS/sim$i"
    socat "pty,raw,echo=0,link=$PORTS/drv$i" "pty,raw,echo=0,link=$PORTS/sim$i" </dev/null >/dev/null 2>&1 &
    PAIR_PID[$i]=$!
    for _ in $(seq 1 200); do
        [ -e "$PORTS/drv$i" ] && [ -e "$PORTS/sim$i" ] && return 0
        sleep 0.01
    done
    echo "socat pair $i did not come up" >&2
    return 1
}

stop_pair() {
    local pid=${PAIR_PID[$1]:-}
    if [ -n "$pid" ]; then
        kill "$pid" 2>/dev/null
        wait "$pid" 2>/dev/null
        unset "PAIR_PID[$1]"
    fi
    rm -f "$PORTS/drv$1" "$PORTS/sim$1"
}

stop_all_pairs() {
    for i in "${!PAIR_PID[@]}"; do stop_pair "$i"; done
}

manage() {
    trap 'stop_all_pairs; exit 0' TERM INT
    for i in $(seq 1 $PAIRS); do start_pair "$i"; done
    touch "$PORTS/ctl/ready"
    while :; do
        for req in "$PORTS"/ctl/*.req; do
            [ -e "$req" ] || continue
            name=$(basename "$req" .req)
            case "$name" in
                unplug-*) stop_pair "${name#unplug-}" ;;
                replug-*) stop_pair "${name#replug-}"; start_pair "${name#replug-}" ;;
            esac
            rm -f "$req"
            touch "$PORTS/ctl/$name.done"
        done
        sleep 0.02
    done
}

stop() {
    if [ -f "$PORTS/manager.pid" ]; then
        pid=$(cat "$PORTS/manager.pid")
        kill "$pid" 2>/dev/null
        for _ in $(seq 1 200); do
            [ -e "/proc/$pid" ] || break
            grep -q '^State:.*Z' "/proc/$pid/status" 2>/dev/null && break
            sleep 0.01
        done
        rm -f "$PORTS/manager.pid"
    fi
    rm -f "$PORTS"/drv* "$PORTS"/sim*
    [ -d "$WINEPREFIX" ] && wineserver -k >/dev/null 2>&1
    # wineserver -k returns before its processes are gone.
    [ -d "$WINEPREFIX" ] && wineserver -w >/dev/null 2>&1
    return 0
}

start() {
    prepare || return 1
    stop
    mkdir -p "$PORTS/ctl"
    rm -f "$PORTS"/ctl/*
    link_ports
    wineserver -p </dev/null >/dev/null 2>&1
    # Start the prefix's services now, detached: started by the first test they
    # would hold that test's output open and CTest would wait for them.
    wineboot </dev/null >/dev/null 2>&1
    setsid "$0" manage "$BUILD" </dev/null >/dev/null 2>&1 &
    echo $! > "$PORTS/manager.pid"
    for _ in $(seq 1 500); do [ -e "$PORTS/ctl/ready" ] && return 0; sleep 0.01; done
    echo "the port pairs did not come up" >&2
    return 1
}

case "${1:-}" in
    prepare) prepare ;;
    start) start ;;
    stop) stop ;;
    manage) manage ;;
    *) echo "usage: $0 prepare|start|stop BUILD" >&2; exit 2 ;;
esac
