#!/usr/bin/env bash
# The Wine test environment of one build folder: its own prefix, a persistent
# wineserver for the length of a test run, and pseudo-terminal pairs that the
# prefix sees as COM ports (driver end COM1n, display end COM2n, n = 1..4).
#
#   test-env.sh lock    BUILD    hold the environment for the calling process
#   test-env.sh unlock  BUILD    give it back (also when the caller exits)
#   test-env.sh prepare BUILD    create or repair the prefix (idempotent)
#   test-env.sh start   BUILD    lock, prepare, start wineserver and the port pairs
#   test-env.sh stop    BUILD    stop the port pairs and wineserver, unlock
#   test-env.sh manage  BUILD    (internal) serve unplug/replug requests
#
# One run at a time: starting stops whatever runs in the prefix, so every
# command works under a lock on BUILD/env.lock and waits while another run
# (`make test`, `make demo`, a bare ctest, ...) holds it. The caller that
# locked, or any process below it (ctest under run-tests.sh, the fixtures
# env.start/env.stop under ctest), uses the environment without waiting.
#
# A test unplugs pair n by creating ports/ctl/unplug-n.req and waits for
# ports/ctl/unplug-n.done; replug-n.req starts the pair again.
set -eu
. "$(dirname "${BASH_SOURCE[0]}")/machine.sh"
vk_use_wine
BUILD=$(mkdir -p "${2:-build}" && cd "${2:-build}" && pwd)
export WINEPREFIX=$BUILD/wineprefix
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
PORTS=$BUILD/ports
PAIRS=4
LOCK=$BUILD/env.lock
OWNER=$BUILD/env.owner
LOG=$BUILD/test-env.log

fail() {
    echo "test-env: $*" >&2
    exit 1
}

# step WHAT COMMAND...: runs a set-up command, its output kept in $LOG; on
# failure stops with the reason and the end of that output.
step() { step_logged "$LOG" "$@"; }

step_logged() {
    local log=$1 what=$2 rc=0
    shift 2
    echo "== $what: $*" >>"$log"
    "$@" </dev/null >>"$log" 2>&1 || rc=$?
    [ $rc -eq 0 ] && return 0
    echo "test-env: $what failed (exit $rc) in $WINEPREFIX; the end of its output ($log):" >&2
    tail -n 20 "$log" | sed 's/^/    /' >&2
    exit 1
}

# --- The lock -----------------------------------------------------------------
# flock(1) on $LOCK. The lock outlives this script: a small holder process
# (tail, which exits with the owner) keeps the locked file open, and $OWNER
# says who holds it: "OWNER_PID HOLDER_PID SINCE" and the owner's command.

# A process that has exited (a zombie not yet reaped) holds nothing.
alive() {
    [ -n "${1:-}" ] && [ -e "/proc/$1" ] && ! grep -q '^State:.*Z' "/proc/$1/status" 2>/dev/null
}

# is_mine PID: PID is this script's caller or one of the caller's ancestors.
is_mine() {
    local p=$PPID
    while [ "$p" -gt 1 ]; do
        [ "$p" = "$1" ] && return 0
        p=$(awk '/^PPid:/ { print $2 }' "/proc/$p/status" 2>/dev/null) || return 1
        [ -n "$p" ] || return 1
    done
    return 1
}

read_owner() {
    owner_pid= holder_pid= since= owner_cmd=
    [ -f "$OWNER" ] || return 0
    { read -r owner_pid holder_pid since; read -r owner_cmd; } <"$OWNER" || true
}

held_by_caller() {
    read_owner
    alive "$holder_pid" && is_mine "$owner_pid"
}

describe_owner() {
    read_owner
    if alive "$holder_pid"; then
        echo "'${owner_cmd:-?}' (pid $owner_pid, since $since)"
    else
        echo "another run"
    fi
}

# acquire FOR_PID [nowait]: hold the lock until release or until FOR_PID exits.
acquire() {
    local for_pid=$1 mode=${2:-wait}
    held_by_caller && return 0
    exec 9>>"$LOCK"
    if ! flock -n 9; then
        [ "$mode" = nowait ] && { exec 9>&-; return 1; }
        echo "test-env: the test environment of $BUILD is in use by $(describe_owner);" \
             "waiting until it is done (Ctrl-C to give up)" >&2
        flock 9
        echo "test-env: the test environment of $BUILD is free; going on" >&2
    fi
    setsid tail -s 0.2 --pid="$for_pid" -f /dev/null </dev/null >/dev/null 2>&1 &
    printf '%s %s %s\n%s\n' "$for_pid" "$!" "$(date +%T)" \
        "$(ps -o args= -p "$for_pid" 2>/dev/null | cut -c1-100)" >"$OWNER"
    # Only the holder keeps the lock: nothing started from here inherits it.
    exec 9>&-
}

# release FOR_PID: give the lock back if FOR_PID took it.
release() {
    read_owner
    [ "$owner_pid" = "$1" ] || return 0
    rm -f "$OWNER"
    if alive "$holder_pid"; then
        kill "$holder_pid" 2>/dev/null || true
        while alive "$holder_pid"; do sleep 0.01; done
    fi
}

# --- The prefix ----------------------------------------------------------------
# The marker is written once Wine's own set-up has finished; our settings are
# checked and applied separately, so a run interrupted while applying them
# leaves a prefix that is repaired, not created again.

# Prints why the prefix cannot be used; nothing when it can.
prefix_problem() {
    [ -d "$WINEPREFIX" ] || { echo "it does not exist"; return 0; }
    [ -f "$WINEPREFIX/.vk-ready" ] || { echo "its creation did not finish"; return 0; }
    wine_files_problem
}

# The 32-bit system folder is needed only where 32-bit programs run: a prefix
# made by the 64-bit loader alone has none. Such a prefix is made again when
# 32-bit programs can run after all.
wine_files_problem() {
    local f folders=system32
    vk_can_run_32bit && folders+=" syswow64"
    for f in system.reg user.reg; do
        head -n 1 "$WINEPREFIX/$f" 2>/dev/null | grep -q '^WINE REGISTRY Version' ||
            { echo "its registry file $f is missing or damaged"; return 0; }
    done
    for f in $folders; do
        [ -f "$WINEPREFIX/drive_c/windows/$f/kernel32.dll" ] ||
            { echo "its system folder windows/$f is incomplete"; return 0; }
    done
}

# Headless windows, and the COM ports of the pairs (their paths follow the
# build folder, so they are checked, not assumed).
settings_applied() {
    grep -qF '"Graphics"="null"' "$WINEPREFIX/user.reg" || return 1
    local i
    for i in $(seq 1 $PAIRS); do
        grep -qF "\"COM1$i\"=\"$PORTS/drv$i\"" "$WINEPREFIX/system.reg" || return 1
        grep -qF "\"COM2$i\"=\"$PORTS/sim$i\"" "$WINEPREFIX/system.reg" || return 1
    done
}

prepare() {
    local problem i
    problem=$(prefix_problem)
    if [ -n "$problem" ]; then
        [ -d "$WINEPREFIX" ] && echo "The Wine prefix $WINEPREFIX is unusable ($problem)"
        echo "Creating the Wine prefix $WINEPREFIX"
        rm -rf "$WINEPREFIX"
        step "creating the prefix" wineboot -i
        step "creating the prefix" wineserver -w
        problem=$(wine_files_problem)
        if [ -n "$problem" ]; then
            echo "test-env: wineboot -i left an unusable prefix ($problem); the end of its output ($LOG):" >&2
            tail -n 20 "$LOG" | sed 's/^/    /' >&2
            exit 1
        fi
        touch "$WINEPREFIX/.vk-ready"
    fi
    settings_applied && return 0
    echo "Setting up the Wine prefix $WINEPREFIX for the tests"
    step "setting up the prefix" wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f
    for i in $(seq 1 $PAIRS); do
        step "declaring the COM ports" wine reg add 'HKLM\Software\Wine\Ports' /v "COM1$i" /d "$PORTS/drv$i" /f
        step "declaring the COM ports" wine reg add 'HKLM\Software\Wine\Ports' /v "COM2$i" /d "$PORTS/sim$i" /f
    done
    step "saving the prefix's registry" wineserver -w
    settings_applied || fail "the settings of $WINEPREFIX did not reach its registry files (see $LOG)"
}

link_ports() {
    mkdir -p "$WINEPREFIX/dosdevices"
    for i in $(seq 1 $PAIRS); do
        ln -sfn "$PORTS/drv$i" "$WINEPREFIX/dosdevices/com1$i"
        ln -sfn "$PORTS/sim$i" "$WINEPREFIX/dosdevices/com2$i"
    done
}

# --- The port pairs -----------------------------------------------------------
# The manager owns the socat processes as its children, so that it can reap
# them: a pulled pair is really gone when the request is answered.
declare -A PAIR_PID

start_pair() {
    local i=$1
    rm -f "$PORTS/drv$i" "$PORTS/sim$i"
    socat "pty,raw,echo=0,link=$PORTS/drv$i" "pty,raw,echo=0,link=$PORTS/sim$i" </dev/null &
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
    # A long-lived loop where a pair already gone is not an error.
    set +e
    trap 'stop_all_pairs; exit 0' TERM INT
    for i in $(seq 1 $PAIRS); do start_pair "$i" || { stop_all_pairs; exit 1; }; done
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

# --- Starting and stopping --------------------------------------------------------

stop_env() {
    if [ -f "$PORTS/manager.pid" ]; then
        pid=$(cat "$PORTS/manager.pid")
        kill "$pid" 2>/dev/null || true
        for _ in $(seq 1 200); do
            alive "$pid" || break
            sleep 0.01
        done
        rm -f "$PORTS/manager.pid"
    fi
    rm -f "$PORTS"/drv* "$PORTS"/sim*
    if [ -d "$WINEPREFIX" ]; then
        wineserver -k >/dev/null 2>&1 || true
        # wineserver -k returns before its processes are gone.
        wineserver -w >/dev/null 2>&1 || true
    fi
}

start() {
    stop_env
    prepare
    mkdir -p "$PORTS/ctl"
    rm -f "$PORTS"/ctl/*
    link_ports
    # wineserver and the services stay and keep their output: a log of their
    # own, begun again at each start (the server lists its objects on exit).
    : >"$BUILD/wineserver.log"
    step_logged "$BUILD/wineserver.log" "starting wineserver" wineserver -p
    # Start the prefix's services now, detached: started by the first test they
    # would hold that test's output open and CTest would wait for them.
    step_logged "$BUILD/wineserver.log" "starting the prefix's services" wineboot
    setsid "$0" manage "$BUILD" </dev/null >"$PORTS/manager.log" 2>&1 &
    echo $! >"$PORTS/manager.pid"
    for _ in $(seq 1 500); do
        [ -e "$PORTS/ctl/ready" ] && return 0
        alive "$(cat "$PORTS/manager.pid")" || break
        sleep 0.01
    done
    echo "test-env: the port pairs did not come up; the manager said ($PORTS/manager.log):" >&2
    tail -n 20 "$PORTS/manager.log" | sed 's/^/    /' >&2
    exit 1
}

stop() {
    if held_by_caller; then
        stop_env
        release "$PPID"
    elif acquire $$ nowait; then
        # Nobody holds it: clear what a run that died left behind.
        trap 'release $$' EXIT
        stop_env
    else
        fail "not stopping the test environment of $BUILD: it is in use by $(describe_owner)"
    fi
}

need() {
    local missing=() c
    for c in "$@"; do command -v "$c" >/dev/null || missing+=("$c"); done
    [ ${#missing[@]} -eq 0 ] || fail "missing ${missing[*]} (scripts/install-deps.sh installs them)"
}

case "${1:-}" in
    lock) need flock setsid; acquire "$PPID" ;;
    unlock) release "$PPID" ;;
    prepare)
        need flock setsid wine wineboot wineserver
        acquire $$ && trap 'release $$' EXIT
        : >"$LOG"
        prepare ;;
    start)
        need flock setsid wine wineboot wineserver socat
        acquire "$PPID"
        # A start that fails gives the environment back.
        trap '[ $? -eq 0 ] || release "$PPID"' EXIT
        : >"$LOG"
        start ;;
    stop) need flock setsid; stop ;;
    manage) manage ;;
    *) echo "usage: $0 lock|unlock|prepare|start|stop BUILD" >&2; exit 2 ;;
esac
