#!/bin/sh
# The program on a real Wayland compositor: a headless sway of its own starts, the
# program opens the test card there natively, its one window maps with the picture's
# name in its title, and closed through the compositor it exits cleanly (status 0).
# Skipped (77) where no compositor can be had: sway or Qt's Wayland plugin missing, or,
# as root (sway refuses to run as root), no plain user "vistrelwl" to run it as.
set -eu
build=$1
skip() { echo "SKIP: $*"; exit 77; }
fail() { echo "FAIL: $*" >&2; [ -f "$tmp/app.log" ] && cat "$tmp/app.log" >&2; exit 1; }

command -v sway >/dev/null || skip "no sway"
command -v swaymsg >/dev/null || skip "no swaymsg"
ls /usr/lib/*/qt6/plugins/platforms/libqwayland-generic.so >/dev/null 2>&1 || skip "no qt6-wayland"
as_user=""
if [ "$(id -u)" -eq 0 ]; then
    id vistrelwl >/dev/null 2>&1 || skip "no user vistrelwl to run sway as"
    as_user="runuser -u vistrelwl --"
fi

in_session() {
    # shellcheck disable=SC2086
    $as_user env -i HOME="$tmp/home" PATH=/usr/bin:/bin LANG=C.UTF-8 XDG_RUNTIME_DIR="$tmp/run" "$@"
}

tmp=$(mktemp -d)
sway_pid=""
socket=""
app=""
cleanup() {
    # A program still running is ended first (it runs under runuser too).
    if [ -n "$app" ] && kill -0 "$app" 2>/dev/null; then
        for child in $(ps -o pid= --ppid "$app" 2>/dev/null); do kill "$child" 2>/dev/null || true; done
        kill "$app" 2>/dev/null || true
    fi
    # The compositor asked to end, then whatever of it is left: it runs under runuser.
    if [ -n "$socket" ]; then in_session env SWAYSOCK="$socket" swaymsg exit >/dev/null 2>&1 || true; fi
    if [ -n "$sway_pid" ]; then
        for child in $(ps -o pid= --ppid "$sway_pid" 2>/dev/null); do kill "$child" 2>/dev/null || true; done
        kill "$sway_pid" 2>/dev/null || true
        wait "$sway_pid" 2>/dev/null || true
    fi
    rm -rf "$tmp"
}
trap cleanup EXIT
# Everything the compositor's user reads is copied where it can read it.
mkdir -p "$tmp/run" "$tmp/home" "$tmp/bin"
cp "$build/vistrel" "$build/vistrel-decoder" "$build/30861.jpg" "$tmp/bin/"
cat >"$tmp/sway.conf" <<'CONF'
output HEADLESS-1 resolution 1600x1000 position 0 0
for_window [app_id=".*"] floating enable
xwayland disable
CONF
chmod 755 "$tmp" "$tmp/bin" "$tmp/home"
chmod 700 "$tmp/run"
[ -n "$as_user" ] && chown -R vistrelwl "$tmp/run" "$tmp/home"
: >"$tmp/app.log"
chmod 666 "$tmp/app.log"

in_session env WLR_BACKENDS=headless WLR_LIBINPUT_NO_DEVICES=1 WLR_RENDERER=pixman \
    sway -c "$tmp/sway.conf" >"$tmp/sway.log" 2>&1 &
sway_pid=$!
for _ in $(seq 100); do
    socket=$(ls "$tmp"/run/sway-ipc.*.sock 2>/dev/null | head -1 || true)
    [ -n "$socket" ] && break
    sleep 0.1
done
[ -n "$socket" ] || skip "sway did not start here: $(tail -3 "$tmp/sway.log")"
display=$(ls "$tmp/run" | grep -E '^wayland-[0-9]+$' | head -1)

in_session env WAYLAND_DISPLAY="$display" QT_QPA_PLATFORM=wayland "$tmp/bin/vistrel" "$tmp/bin/30861.jpg" \
    >>"$tmp/app.log" 2>&1 &
app=$!
mapped=""
for _ in $(seq 200); do
    if in_session env SWAYSOCK="$socket" swaymsg -t get_tree 2>/dev/null | grep -q '"name": "Vistrel - 30861.jpg"'; then
        mapped=yes
        break
    fi
    kill -0 "$app" 2>/dev/null || fail "the program ended before its window mapped"
    sleep 0.1
done
[ -n "$mapped" ] || fail "no window named 'Vistrel - 30861.jpg' within 20 seconds"

in_session env SWAYSOCK="$socket" swaymsg '[title="^Vistrel - 30861.jpg"] kill' >/dev/null
for _ in $(seq 100); do
    kill -0 "$app" 2>/dev/null || break
    sleep 0.1
done
kill -0 "$app" 2>/dev/null && fail "the program did not end within 10 seconds of its window being closed"
status=0
wait "$app" || status=$?
[ "$status" -eq 0 ] || fail "the program ended with status $status"
echo "PASS"
