#!/usr/bin/env bash
# Run by scripts/test-windows inside a private network namespace: the Windows
# programs under Wine against the sandbox server, on a virtual X display.
#   windows-road.sh EXE PROBE SANDBOX CACHE OUTDIR
# Wine's odbc32 hands ODBC to the host's unixODBC, so the Windows drivers'
# names are registered here (a private odbcinst.ini) against the FreeTDS
# library: the choice among them and the keywords each gets go through the
# real calls, while the driver behind every name is FreeTDS.
set -uo pipefail
exe=$1 probe=$2 sandbox=$3 cache=$4 out=$5

work=$(mktemp -d)
pids=()
cleanup() {
    wineserver -k 2>/dev/null
    kill "${pids[@]}" 2>/dev/null
    wait 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

failures=0
ok() { echo "ok   $*"; }
bad() { echo "FAIL $*"; failures=$((failures + 1)); }
# Polls a condition every 0.2 s for up to $1 seconds.
within() {
    local seconds=$1 i; shift
    for ((i = 0; i < seconds * 5; i++)); do "$@" && return 0; sleep 0.2; done
    return 1
}
show_logs() {
    for f in "$work"/*.log "$work/transcript"; do [ ! -s "$f" ] || sed "s|^|  $(basename "$f"): |" "$f" | tail -20; done
}
give_up() { bad "$*"; show_logs; exit 1; }

# ---- Wine: a prefix of its own, kept in the cache; its wineserver in this namespace
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="   # no Mono or Gecko installer dialogs
export WINEPREFIX=$cache/$(wine --version | sed 's/[^A-Za-z0-9.-]\{1,\}/-/g; s/-$//')   # wine-8.0-Debian-8.0-repack-4
exec 8>"$cache/wine.lock"
flock 8   # one run at a time per prefix
if [ ! -f "$WINEPREFIX/.ready" ]; then
    rm -rf "$WINEPREFIX"
    wineboot -i >"$work/wineboot.log" 2>&1 && wineserver -w && touch "$WINEPREFIX/.ready" ||
        give_up "creating the Wine prefix $WINEPREFIX"
fi

# ---- a display; fonts as the test wants them
export XDG_RUNTIME_DIR=$work
Xvfb -displayfd 3 -noreset -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
pids+=($!)
within 20 test -s "$work/display" || give_up "Xvfb did not start"
export DISPLAY=:$(head -n1 "$work/display")
within 20 xdpyinfo >/dev/null 2>&1 || give_up "Xvfb does not answer on $DISPLAY"
# WenQuanYi Zen Hei carries bitmaps that Wine draws at 12 px with strokes
# missing; without it Wine's Chinese comes from WenQuanYi Micro Hei, outlines only.
cat >"$work/fonts.conf" <<'XML'
<?xml version="1.0"?>
<!DOCTYPE fontconfig SYSTEM "fonts.dtd">
<fontconfig>
  <include ignore_missing="yes">/etc/fonts/fonts.conf</include>
  <selectfont><rejectfont><glob>*/wqy-zenhei.ttc</glob></rejectfont></selectfont>
</fontconfig>
XML
export FONTCONFIG_FILE=$work/fonts.conf

# ---- the sandbox: SQL Server 2019 on 127.0.0.1:1433, its browser on udp 1434
"$sandbox" --version 2019 --host-name localhost --password sandbox --transcript "$work/transcript" \
    >"$work/sandbox.log" 2>&1 &
pids+=($!)
within 20 grep -q "listening on" "$work/sandbox.log" || give_up "the sandbox did not start"

# register NAME...: these drivers, each FreeTDS's library, and nothing else.
export ODBCSYSINI=$work/odbc
register() {
    mkdir -p "$ODBCSYSINI"
    local name
    for name in "$@"; do printf '[%s]\nDriver=libtdsodbc.so\n\n' "$name"; done >"$ODBCSYSINI/odbcinst.ini"
}

# ---- the driver choice, and each choice's keywords reaching a server
odbc18="ODBC Driver 18 for SQL Server" odbc17="ODBC Driver 17 for SQL Server"
snac="SQL Server Native Client 11.0" legacy="SQL Server"
choose_case() {  # expected kind then the registered names
    local expected=$1 kind=$2; shift 2
    register "$@"
    wine "$probe" --connect "provider=sqloledb;Server=localhost;DataBase=master;Uid=sa;Pwd=sandbox" 2>&1 |
        tr -d '\r' >"$work/probe.log"   # a Windows console program ends its lines in CR LF
    if grep -qxF "driver: $expected ($kind)" "$work/probe.log" && grep -qx "database: GameDB" "$work/probe.log"; then
        ok "drivers [$(IFS=,; echo "$*")]: $expected chosen, databases listed through it"
    else
        bad "drivers [$(IFS=,; echo "$*")]: expected $expected"; sed 's/^/  /' "$work/probe.log"
    fi
}
choose_case "$odbc18" "ODBC Driver" FreeTDS "$legacy" "$snac" "$odbc18" "$odbc17"
choose_case "$snac" "Native Client" FreeTDS "$legacy" "$snac"
choose_case "$legacy" "SQL Server" FreeTDS "$legacy"
choose_case FreeTDS FreeTDS FreeTDS
# Discovery through Winsock: the broadcast and this machine's browser.
wine "$probe" --browse 2>&1 | tr -d '\r' >"$work/probe.log"
grep -qx "server: localhost" "$work/probe.log" && ok "discovery lists the sandbox" ||
    { bad "discovery did not list the sandbox"; sed 's/^/  /' "$work/probe.log"; }

# ---- the whole road by keyboard, with every driver registered (the newest is used)
register FreeTDS "$legacy" "$snac" "$odbc17" "$odbc18"
: >"$work/transcript"
wine "$exe" >"$work/tool.log" 2>&1 &
tool=$!
pids+=($tool)
window_named() { xdotool search --onlyvisible --name "$1" 2>/dev/null | head -n1; }
main_up() { window=$(window_named '^Quellmar') && [ -n "$window" ]; }
within 60 main_up || give_up "the window did not appear"
ok "the window appeared"
focus() { xdotool windowfocus --sync "$1" 2>/dev/null; }
key() { xdotool key --delay 50 "$@"; }

# The server the browser announced is already chosen: the password, then the database list.
focus "$window"
key Tab
xdotool type --delay 50 sandbox
key Tab alt+Down
within 60 grep -qi "from sysdatabases" "$work/transcript" || give_up "no databases were listed"
ok "connected to the server discovery listed, databases listed"
# The open list is a window of its own.
windows_shown() { [ "$(xdotool search --onlyvisible --class sqllogclean 2>/dev/null | wc -l)" -eq "$1" ]; }
within 20 windows_shown 2 || give_up "the database list did not open"
# Pick GameDB by its first letter; Enter closes the list. Its log comes first.
key G Return
within 60 grep -qi "from sysfiles" "$work/transcript" || give_up "GameDB's files were not listed"
within 20 windows_shown 1 || give_up "the database list did not close"
ok "GameDB chosen, its files listed"
import -window root "$out/wine-window.png" 2>/dev/null && ok "screenshot: $out/wine-window.png"

# 压缩 (Alt+O), then the 提示 box, however long the job takes (the job's own
# time-outs bound it: 15 s to log in, 30 s a statement).
focus "$window"
key alt+o
box_up() { box=$(window_named '^提示$') && [ -n "$box" ]; }
within 180 box_up || give_up "no 提示 box after 压缩"
# A Windows message box copies its caption and text on Ctrl+C; Wine hands
# its clipboard to X11's CLIPBOARD selection.
focus "$box"
key ctrl+c
clipboard() { xclip -o -selection clipboard -t UTF8_STRING 2>/dev/null; }
within 20 bash -c 'xclip -o -selection clipboard -t UTF8_STRING 2>/dev/null | grep -q "提示"' ||
    give_up "the 提示 box's text did not reach the clipboard"
# "---\n提示\n---\nTEXT\n---\nOK\n---": the text's first line follows the second rule.
first_line=$(clipboard | tr -d '\r' | awk '/^-+$/ { rules++; next } rules == 2 { print; exit }')
[ "$first_line" = "数据库清理成功!" ] && ok "提示: $first_line" || { bad "提示 says: $first_line"; clipboard | sed 's/^/  /'; }
grep -qi "DBCC SHRINKFILE" "$work/transcript" && ok "the server got the shrink" || bad "no DBCC SHRINKFILE sent"
key Return
box_gone() { [ -z "$(window_named '^提示$')" ]; }
within 20 box_gone || bad "the 提示 box did not close"

# 退出 (Alt+E): the program ends with exit code 0.
focus "$window"
key alt+e
within 60 bash -c "! kill -0 $tool 2>/dev/null" || give_up "the program did not close"
wait "$tool"; rc=$?
[ $rc -eq 0 ] && ok "exit code 0" || bad "exit code $rc"

[ $failures -eq 0 ] || show_logs
[ $failures -eq 0 ]
