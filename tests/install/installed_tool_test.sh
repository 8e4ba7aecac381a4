#!/usr/bin/env bash
# Usage: installed_tool_test.sh BUILD_DIR MAN_PAGES(ON|OFF)
# Installs BUILD_DIR with prefix /usr below a temporary DESTDIR and runs the installed tool
# against the installed virtual device over the UART and over USB-HID, with the firmware
# step, the image tool, the help text and the log; as root, also as another account.
set -euo pipefail
build=$1
man_pages=$2

work=$(mktemp -d)
sim_pid=
cleanup() {
    if [ -n "$sim_pid" ] && kill -0 "$sim_pid" 2>/dev/null; then
        kill "$sim_pid" 2>/dev/null || true
        wait "$sim_pid" 2>/dev/null || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT

fail() {
    echo "FAILED: $*" >&2
    exit 1
}

dest=$work/root
app=$dest/usr/lib/tarvo-manufacturing-tool
DESTDIR=$dest cmake --install "$build" --prefix /usr >"$work/install.out" ||
    { cat "$work/install.out" >&2; fail "cmake --install"; }

expected=(
    usr/bin/tarvo_log_decode
    usr/bin/tarvo_manufacturing_tool
    usr/bin/tarvo_romsim
    usr/bin/tarvo_station
    usr/lib/tarvo-manufacturing-tool/bl_fw/TV5100_TV5200/tv5100_tv5200_blfw_signed.bin
    usr/lib/tarvo-manufacturing-tool/bl_fw/TV5100_TV5200/tv5100_tv5200_blfw_unsigned.bin
    usr/lib/tarvo-manufacturing-tool/console_instruction
    usr/lib/tarvo-manufacturing-tool/libtarvo_hidsim.so
    usr/lib/tarvo-manufacturing-tool/tarvo_manufacturing_tool
    usr/lib/tarvo-manufacturing-tool/tarvo_station
    usr/lib/tarvo-manufacturing-tool/tools/tarvo_img_util
    usr/lib/udev/rules.d/60-tarvo-boot-rom.rules
    usr/share/bash-completion/completions/tarvo_manufacturing_tool
    usr/share/bash-completion/completions/tarvo_station
    usr/share/doc/tarvo-manufacturing-tool/copyright
)
if [ "$man_pages" = ON ]; then
    expected+=(usr/share/man/man1/tarvo_log_decode.1.gz usr/share/man/man1/tarvo_manufacturing_tool.1.gz
        usr/share/man/man1/tarvo_romsim.1.gz usr/share/man/man1/tarvo_station.1.gz)
fi
installed=$(cd "$dest" && find . -mindepth 1 ! -type d | sed 's|^\./||' | LC_ALL=C sort)
want=$(printf '%s\n' "${expected[@]}" | LC_ALL=C sort)
[ "$installed" = "$want" ] ||
    fail "installed files differ from the layout:$(diff <(echo "$want") <(echo "$installed") || true)"
[ "$(readlink "$dest/usr/bin/tarvo_manufacturing_tool")" = \
    ../lib/tarvo-manufacturing-tool/tarvo_manufacturing_tool ] || fail "bin/ link"

# The rule gives the hidraw nodes of vendor 5e3a's USB devices (all of its parent keys match
# on one USB device) to the logged-in user and to plugdev, and nothing wider.
rule=$(grep -v '^#' "$dest/usr/lib/udev/rules.d/60-tarvo-boot-rom.rules" | grep -v '^$')
[ "$rule" = 'SUBSYSTEM=="hidraw", SUBSYSTEMS=="usb", ATTRS{idVendor}=="5e3a", TAG+="uaccess", GROUP="plugdev", MODE="0660"' ] ||
    fail "udev rule: $rule"

tool=$dest/usr/bin/tarvo_manufacturing_tool
# Runs the installed tool (bounded) and fails on a critical line or a non-zero status.
run_tool() {
    local name=$1
    shift
    local status=0
    timeout 60 "$@" >"$work/$name.out" 2>&1 || status=$?
    if [ "$status" -ne 0 ] || grep -q '\[Critical\]' "$work/$name.out"; then
        cat "$work/$name.out" >&2
        fail "$name (exit status $status)"
    fi
}

run_tool help "$tool" --help
grep -q "$(head -n 1 "$app/console_instruction")" "$work/help.out" || fail "help without console_instruction"

"$dest/usr/bin/tarvo_romsim" --hid-socket "$work/hid.sock" --leave-ms 200 \
    >"$work/romsim.out" 2>"$work/romsim.err" &
sim_pid=$!
pty=
for _ in $(seq 100); do
    pty=$(head -n 1 "$work/romsim.out" 2>/dev/null || true)
    if [ -n "$pty" ] && [ -S "$work/hid.sock" ]; then
        break
    fi
    kill -0 "$sim_pid" 2>/dev/null || break
    sleep 0.1
done
[ -n "$pty" ] && [ -S "$work/hid.sock" ] || { cat "$work/romsim.err" >&2; fail "the installed virtual device did not start"; }

run_tool uart "$tool" -p "$pty" -r query-rte
grep -q "QueryRTE success" "$work/uart.out" || { cat "$work/uart.out" >&2; fail "uart run"; }

# The installed runner finds the tool beside it through its link.
run_tool station "$dest/usr/bin/tarvo_station" -p "$pty" -- -r query-rte
grep -q "Total: 1 boards, 1 passed, 0 failed" "$work/station.out" ||
    { cat "$work/station.out" >&2; fail "station run"; }

# The firmware step finds bl_fw/ through the link.
run_tool usb-hid env LD_PRELOAD="$app/libtarvo_hidsim.so" TARVO_HIDSIM_SOCKET="$work/hid.sock" \
    "$tool" -u -f tv5100,1 -r "query-rte 4 1"
grep -q "Firmware has been load success!" "$work/usb-hid.out" || { cat "$work/usb-hid.out" >&2; fail "usb-hid run"; }

# The image tool beside the installed tool.
printf 'code' >"$work/code.bin"
printf '{"output": "app.img", "loadMemory": 0, "loadAddress": "0x20000000", "inputs": ["code.bin"]}' \
    >"$work/app.json"
run_tool image "$tool" -i -r "create-image $work/app.json"
[ -s "$work/app.img" ] || { cat "$work/image.out" >&2; fail "image tool"; }

# Root writes the log beside the tool; the installed decoder finds it there.
day=$(date +%F)
log=$app/logs/tarvo_manufacturing_tool/$day.log
[ -s "$log" ] || fail "no log beside the installed tool"
"$dest/usr/bin/tarvo_log_decode" --day "$day" >"$work/decoded.out" || fail "decoder --day"
grep -q "QueryRTE success" "$work/decoded.out" || fail "decoded log lacks the run"

# Another account cannot write there: its log goes to its state folder, with one warning.
if [ "$(id -u)" -eq 0 ] && command -v setpriv >/dev/null; then
    chmod 755 "$work"
    home=$work/home
    mkdir "$home"
    chown 65534:65534 "$home"
    as_nobody=(setpriv --reuid=65534 --regid=65534 --clear-groups env -u XDG_STATE_HOME HOME="$home")
    "${as_nobody[@]}" timeout 60 "$tool" -r query-rte >"$work/nobody.out" 2>&1 || true
    fallback=$home/.local/state/tarvo_manufacturing_tool/logs
    [ "$(grep -c "the log goes to: $fallback" "$work/nobody.out")" -eq 1 ] ||
        { cat "$work/nobody.out" >&2; fail "no single fallback warning"; }
    "${as_nobody[@]}" "$dest/usr/bin/tarvo_log_decode" --day "$day" >"$work/nobody-decoded.out" ||
        fail "decoder as another account"
    grep -q "==> $fallback/$day.log <==" "$work/nobody-decoded.out" || fail "decoder misses the fallback"
    grep -q "Please select device type" "$work/nobody-decoded.out" || fail "fallback log lacks the run"
fi
echo "installed tool ran over the UART and USB-HID"
