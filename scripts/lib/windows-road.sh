#!/usr/bin/env bash
# Run by scripts/test-windows inside a private network namespace: the Windows
# programs under Wine against the sandbox server, on a virtual X display.
#   windows-road.sh EXE PROBE SANDBOX CACHE OUTDIR CLI
# Wine's odbc32 hands ODBC to the host's unixODBC, so the Windows drivers'
# names are registered here (a private odbcinst.ini) against the FreeTDS
# library: the choice among them and the keywords each gets go through the
# real calls, while the driver behind every name is FreeTDS.
set -uo pipefail
exe=$1 probe=$2 sandbox=$3 cache=$4 out=$5 cli=$6

work=$(mktemp -d)
pids=()
cleanup() {
    wineserver -k 2>/dev/null
    kill "${pids[@]}" 2>/dev/null
    wait 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 143' TERM INT   # so that the clean-up runs when the stage is stopped

failures=0
ok() { echo "ok   $*"; }
bad() { echo "FAIL $*"; failures=$((failures + 1)); }
# Polls a condition every 0.2 s until it holds or $1 seconds have passed.
within() {
    local deadline=$((SECONDS + $1)); shift
    until "$@"; do
        [ $SECONDS -lt $deadline ] || return 1
        sleep 0.2
    done
}
# Every Windows program run here ends by itself well within a bound; this one
# also holds when it does not. The probe logs in (15 s at most, the login
# time-out) and lists the databases (30 s at most, the command time-out);
# discovery listens for under a second: 120 s leaves Wine's start-up room.
bounded() { timeout -k 10 "$@"; }
show_logs() {
    for f in "$work"/*.log "$work/transcript"; do [ ! -s "$f" ] || sed "s|^|  $(basename "$f"): |" "$f" | tail -20; done
}
give_up() { bad "$*"; show_logs; exit 1; }

# ---- Wine: a prefix of its own, kept in the cache; its wineserver in this namespace
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="   # no Mono or Gecko installer dialogs
WINEPREFIX=$cache/$(wine --version | sed 's/[^A-Za-z0-9.-]\{1,\}/-/g; s/-$//')   # wine-8.0-Debian-8.0-repack-4
export WINEPREFIX
exec 8>"$cache/wine.lock"
# One run at a time per prefix; another run of this stage takes minutes.
flock -w 1200 8 || give_up "another run held the Wine prefix for 20 minutes"

# The fonts Wine sees. At 12 px Wine draws WenQuanYi Zen Hei with strokes
# missing, and the window takes Zen Hei first when it is there. Wine 8 asks
# fontconfig only for its font folders and reads every file in them (a
# rejectfont rule does not reach it), so its fontconfig file names two
# folders: DejaVu, and one holding only WenQuanYi Micro Hei, which it draws
# cleanly. The prefix remembers the fonts it has seen, so it is made with
# these, and made again when this recipe changes.
fonts=$cache/wine-fonts
mkdir -p "$fonts/files"
ln -sfn /usr/share/fonts/truetype/wqy/wqy-microhei.ttc "$fonts/files/wqy-microhei.ttc"
cat >"$fonts/fonts.conf" <<XML
<?xml version="1.0"?>
<!DOCTYPE fontconfig SYSTEM "fonts.dtd">
<fontconfig>
  <dir>/usr/share/fonts/truetype/dejavu</dir>
  <dir>$fonts/files</dir>
  <cachedir>$fonts/cache</cachedir>
</fontconfig>
XML
export FONTCONFIG_FILE=$fonts/fonts.conf
recipe="fonts: DejaVu and WenQuanYi Micro Hei"
if [ "$(cat "$WINEPREFIX/.ready" 2>/dev/null)" != "$recipe" ]; then
    rm -rf "$WINEPREFIX"
    # About 20 s on a quiet machine.
    bounded 600 wineboot -i >"$work/wineboot.log" 2>&1 && bounded 120 wineserver -w &&
        echo "$recipe" >"$WINEPREFIX/.ready" || give_up "creating the Wine prefix $WINEPREFIX"
fi

# ---- a display
export XDG_RUNTIME_DIR=$work
Xvfb -displayfd 3 -noreset -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
pids+=($!)
within 20 test -s "$work/display" || give_up "Xvfb did not start"
DISPLAY=:$(head -n1 "$work/display")
export DISPLAY
within 20 xdpyinfo >/dev/null 2>&1 || give_up "Xvfb does not answer on $DISPLAY"

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
    bounded 120 wine "$probe" --connect "provider=sqloledb;Server=localhost;DataBase=master;Uid=sa;Pwd=sandbox" 2>&1 |
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
bounded 120 wine "$probe" --browse 2>&1 | tr -d '\r' >"$work/probe.log"
grep -qx "server: localhost" "$work/probe.log" && ok "discovery lists the sandbox" ||
    { bad "discovery did not list the sandbox"; sed 's/^/  /' "$work/probe.log"; }

# ---- the command-line companion, with every driver registered (the newest is used):
# a report on the server discovery finds, as JSON, the password from the
# environment; then as a table, the password on standard input. Each logs in
# once (15 s at most) and reads a few statements per database (30 s each at
# most): 120 s is far beyond what the sandbox needs.
register FreeTDS "$legacy" "$snac" "$odbc17" "$odbc18"
SQLLOGCLEAN_PASSWORD=sandbox bounded 120 wine "$cli" report --discover --json >"$work/cli.json" 2>"$work/cli.log"
rc=$?
tr -d '\r' <"$work/cli.json" >"$work/cli-report.json"
if [ $rc -eq 0 ] && grep -q '"server": "localhost"' "$work/cli-report.json" &&
    grep -q '"generation": "2019"' "$work/cli-report.json" && grep -q '"name": "GameDB"' "$work/cli-report.json"; then
    ok "sqllogclean-cli.exe report --discover --json: the sandbox's databases, exit code 0"
else
    bad "sqllogclean-cli.exe report --discover --json (exit code $rc)"; sed 's/^/  /' "$work/cli.log"
    head -20 "$work/cli-report.json" | sed 's/^/  /'
fi
echo sandbox | bounded 120 wine "$cli" report localhost --password-stdin 2>"$work/cli.log" | tr -d '\r' >"$work/cli.txt"
rc=${PIPESTATUS[1]}
if [ "$rc" -eq 0 ] && head -n1 "$work/cli.txt" | grep -q '^SERVER ' && grep -q '^localhost  *GameDB ' "$work/cli.txt"; then
    ok "sqllogclean-cli.exe report --password-stdin: the table, exit code 0"
else
    bad "sqllogclean-cli.exe report --password-stdin (exit code $rc)"; sed 's/^/  /' "$work/cli.log" "$work/cli.txt"
fi

# ---- the whole road by keyboard, with every driver registered (the newest is used)
: >"$work/transcript"
wine "$exe" >"$work/tool.log" 2>&1 &
tool=$!
pids+=("$tool")
window_named() { xdotool search --onlyvisible --name "$1" 2>/dev/null | head -n1; }
main_up() { window=$(window_named '^Quellmar') && [ -n "$window" ]; }
within 60 main_up || give_up "the window did not appear"
ok "the window appeared"
focus() { timeout 20 xdotool windowfocus --sync "$1" 2>/dev/null; }
key() { timeout 20 xdotool key --delay 50 "$@"; }

# The server the browser announced is already chosen: the password, then the database list.
focus "$window"
key Tab
timeout 20 xdotool type --delay 50 sandbox
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
timeout 60 import -window root "$out/wine-window.png" 2>/dev/null && ok "screenshot: $out/wine-window.png"

# 压缩 (Alt+O), then the 提示 box. The job's statements run without a command
# time-out (a shrink may take minutes on a real server), so the code sets no
# deadline to derive this bound from; the sandbox answers each of the job's
# few statements at once, and 5 minutes is far beyond what even a loaded
# machine under Wine needs for them.
focus "$window"
key alt+o
# Qt on Windows adds the application's name to a caption: "提示 - SQL SERVER日志清理工具".
box_up() { box=$(window_named '^提示( |$)') && [ -n "$box" ]; }
within 300 box_up || give_up "no 提示 box after 压缩"
# On Windows, Qt's message box copies its caption, text and buttons on Ctrl+C
# between rules of dashes, as Windows' own boxes do (qmessagebox.cpp,
# keyPressEvent); Wine hands its clipboard to X11's CLIPBOARD selection.
focus "$box"
key ctrl+c
clipboard() { timeout 10 xclip -o -selection clipboard -t UTF8_STRING 2>/dev/null; }
holds_notice() { clipboard | grep -q "提示"; }
within 20 holds_notice ||
    give_up "the 提示 box's text did not reach the clipboard"
# "---\n提示\n---\nTEXT\n---\nOK\n---": the text lies between the second and third rules.
text=$(clipboard | tr -d '\r' | awk '/^-+$/ { rules++; next } rules == 2')
first_line=$(head -n1 <<<"$text")
[ "$first_line" = "数据库清理成功!" ] && ok "提示: $first_line" || bad "提示 says: $first_line"
sed 's/^/       /' <<<"$text"
grep -qi "DBCC SHRINKFILE" "$work/transcript" && ok "the server got the shrink" || bad "no DBCC SHRINKFILE sent"
key Return
box_gone() { [ -z "$(window_named '^提示( |$)')" ]; }
within 20 box_gone || bad "the 提示 box did not close"

# 退出 (Alt+E): the program ends with exit code 0.
focus "$window"
key alt+e
within 60 bash -c "! kill -0 $tool 2>/dev/null" || give_up "the program did not close"
wait "$tool"; rc=$?
[ $rc -eq 0 ] && ok "exit code 0" || bad "exit code $rc"

[ $failures -eq 0 ] || show_logs
[ $failures -eq 0 ]
