# Starts an Xvfb display and a persistent wineserver for a run of tests or the demo,
# and stops both (by their ids) when the calling script exits. Sourced, not run.
# Needs $wine_prefix. Keeps a DISPLAY the user already has.
wine_session_xvfb=
wine_session_stop() {
    WINEPREFIX="$wine_prefix" wineserver -k 2>/dev/null || true
    [ -n "$wine_session_xvfb" ] && kill "$wine_session_xvfb" 2>/dev/null || true
}
wine_session_start() {
    export WINEPREFIX="$wine_prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree=;mshtml="
    if [ -z "${DISPLAY:-}" ]; then
        local fifo
        fifo=$(mktemp -u)
        mkfifo "$fifo"
        Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$fifo" 2>/dev/null &
        wine_session_xvfb=$!
        local num
        read -r num <"$fifo"
        rm -f "$fifo"
        export DISPLAY=":$num"
    fi
    trap wine_session_stop EXIT
    if [ ! -f "$wine_prefix/system.reg" ]; then
        echo "wine: creating the prefix $wine_prefix"
    fi
    # A persistent server keeps later Wine starts at about a second each; it may already run.
    wineserver -p 2>/dev/null || true
    /usr/lib/wine/wine64 wineboot -i >/dev/null 2>&1
}
