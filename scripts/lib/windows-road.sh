#!/usr/bin/env bash
# Run by scripts/test-windows inside a private network namespace: the Windows
# programs under Wine against the sandbox server, on a virtual X display.
#   windows-road.sh EXE PROBE SANDBOX CACHE OUTDIR CATALOG CLI
# Wine's odbc32 hands ODBC to the host's unixODBC, so the Windows drivers'
# names are registered here (a private odbcinst.ini) against the FreeTDS
# library: the choice among them and the keywords each gets go through the
# real calls, while the driver behind every name is FreeTDS.
set -uo pipefail
exe=$1 probe=$2 sandbox=$3 cache=$4 out=$5 catalog=$6 cli=$7

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
# also holds when it does not. The probe asks the version (15 s at most),
# logs in (15 s at most with the connection's own question, the login
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

# A Chinese Windows, as the tool's users have it: Wine takes its locale and
# its ANSI code page from the Unix locale, here zh_CN in GBK (code page 936).
# The locale is made here, into a folder of the stage's own (LOCPATH), so
# nothing on the machine changes; only Wine runs in it, the stage's own tools
# read their UTF-8 as before.
locale_dir=$work/locale
mkdir -p "$locale_dir"
localedef -i zh_CN -f GBK "$locale_dir/zh_CN.GBK" >"$work/localedef.log" 2>&1 ||
    give_up "making the zh_CN.GBK locale (localedef, from the locales package's sources)"
chinese=(env LOCPATH="$locale_dir" LANG=zh_CN.GBK LC_ALL=zh_CN.GBK)
[ "$("${chinese[@]}" locale charmap 2>/dev/null)" = GBK ] || give_up "the zh_CN.GBK locale does not load"
ok "Wine runs in zh_CN.GBK (code page 936)"

recipe="fonts: DejaVu and WenQuanYi Micro Hei; locale: zh_CN.GBK"
if [ "$(cat "$WINEPREFIX/.ready" 2>/dev/null)" != "$recipe" ]; then
    rm -rf "$WINEPREFIX"
    # About 20 s on a quiet machine.
    bounded 600 "${chinese[@]}" wineboot -i >"$work/wineboot.log" 2>&1 && bounded 120 wineserver -w &&
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

# ---- the sandboxes: SQL Server 2000 installed in Chinese, as the tool's
# users have it, on 127.0.0.1:1433 with its browser on udp 1434 (the window
# lists it); a 2019 one on 1533 without a browser, reached by address. Both
# hold the demo's databases.
start_sandbox() {  # NAME OPTIONS...
    local name=$1; shift
    "$sandbox" --host-name localhost --password sandbox --catalog "$catalog" "$@" >"$work/$name.log" 2>&1 &
    pids+=($!)
    within 20 grep -q "listening on" "$work/$name.log" || give_up "the $name sandbox did not start"
}
start_sandbox sql2000 --version 2000 --language 'Simplified Chinese' --transcript "$work/transcript"
start_sandbox sql2019 --version 2019 --port 1533 --browser-port 0

# register NAME...: these drivers, each FreeTDS's library, and nothing else;
# unixODBC traces every call (the password masked) to $trace.
export ODBCSYSINI=$work/odbc
trace=$work/odbc-trace.log
register() {
    mkdir -p "$ODBCSYSINI"
    local name
    {
        printf '[ODBC]\nTrace=Yes\nTraceFile=%s\n\n' "$trace"
        for name in "$@"; do printf '[%s]\nDriver=libtdsodbc.so\n\n' "$name"; done
    } >"$ODBCSYSINI/odbcinst.ini"
}

# ---- the driver chosen by the server's version, learned before the login
# (PRELOGIN), and each choice's keywords reaching that server
odbc18="ODBC Driver 18 for SQL Server" odbc17="ODBC Driver 17 for SQL Server"
nc11="SQL Server Native Client 11.0" nc10="SQL Server Native Client 10.0" snac="SQL Native Client"
legacy="SQL Server"
all_drivers=(FreeTDS "$legacy" "$snac" "$nc10" "$nc11" "$odbc17" "$odbc18")
choose_case() {  # VERSION EXPECTED NAMES...: the sandbox of that version reached through EXPECTED
    local version=$1 expected=$2 port=1433; shift 2
    [ "$version" = 2019 ] && port=1533
    register "$@"
    bounded 120 "${chinese[@]}" wine "$probe" --connect "provider=sqloledb;Server=127.0.0.1,$port;DataBase=master;Uid=sa;Pwd=sandbox" 2>&1 |
        tr -d '\r' >"$work/probe.log"   # a Windows console program ends its lines in CR LF
    local learned; learned=$(sed -n 's/^version before login: //p' "$work/probe.log")
    if grep -qxF "connected through: $expected" "$work/probe.log" && grep -qx "database: GameDB" "$work/probe.log"; then
        ok "drivers [$(IFS=,; echo "$*")]: SQL Server $version (PRELOGIN: $learned) reached through $expected"
    else
        bad "drivers [$(IFS=,; echo "$*")]: SQL Server $version not reached through $expected"; sed 's/^/  /' "$work/probe.log"
    fi
}
choose_case 2000 "$nc10" "${all_drivers[@]}"
choose_case 2019 "$odbc18" "${all_drivers[@]}"
choose_case 2000 "$snac" FreeTDS "$legacy" "$snac" "$nc11" "$odbc17"
choose_case 2019 "$odbc17" FreeTDS "$legacy" "$snac" "$nc11" "$odbc17"
choose_case 2000 "$legacy" FreeTDS "$legacy" "$nc11"
choose_case 2019 "$nc11" FreeTDS "$legacy" "$nc11"
choose_case 2000 "$legacy" FreeTDS "$legacy"
choose_case 2000 FreeTDS FreeTDS
# Discovery through Winsock: the broadcast and this machine's browser.
bounded 120 "${chinese[@]}" wine "$probe" --browse 2>&1 | tr -d '\r' >"$work/probe.log"
grep -qx "server: localhost" "$work/probe.log" && ok "discovery lists the sandbox" ||
    { bad "discovery did not list the sandbox"; sed 's/^/  /' "$work/probe.log"; }

# ---- the command-line companion, every driver registered: a report on the
# server discovery finds and the 2019 one named, as JSON, the password from
# the environment; then the 2019 one as a table, the password on standard
# input. Each logs in once (15 s at most) and reads a few statements per
# database (30 s each at most): 120 s is far beyond what the sandbox needs.
register "${all_drivers[@]}"
SQLLOGCLEAN_PASSWORD=sandbox bounded 120 "${chinese[@]}" wine "$cli" report --discover 127.0.0.1,1533 --json \
    >"$work/cli.json" 2>"$work/cli.log"
rc=$?
tr -d '\r' <"$work/cli.json" >"$work/cli-report.json"
if [ $rc -eq 0 ] && grep -q '"server": "localhost"' "$work/cli-report.json" &&
    grep -q '"generation": "2000"' "$work/cli-report.json" && grep -q '"generation": "2019"' "$work/cli-report.json" &&
    grep -q '"name": "GameDB"' "$work/cli-report.json"; then
    ok "sqllogclean-cli.exe report --discover --json: both sandboxes' databases, exit code 0"
else
    bad "sqllogclean-cli.exe report --discover --json (exit code $rc)"; sed 's/^/  /' "$work/cli.log"
    head -20 "$work/cli-report.json" | sed 's/^/  /'
fi
echo sandbox | bounded 120 "${chinese[@]}" wine "$cli" report 127.0.0.1,1533 --password-stdin 2>"$work/cli.log" |
    tr -d '\r' >"$work/cli.txt"
rc=${PIPESTATUS[1]}
if [ "$rc" -eq 0 ] && head -n1 "$work/cli.txt" | grep -q '^服务器 ' && grep -q '^127.0.0.1,1533  *GameDB ' "$work/cli.txt"; then
    ok "sqllogclean-cli.exe report --password-stdin: the table, exit code 0"
else
    bad "sqllogclean-cli.exe report --password-stdin (exit code $rc)"; sed 's/^/  /' "$work/cli.log" "$work/cli.txt"
fi
# The job on the 2019 one's GameDB (the window's road below uses the 2000
# one), without asking: the window's report in its words. One login and a
# few statements: bounded as above.
echo sandbox | bounded 120 "${chinese[@]}" wine "$cli" clean 127.0.0.1,1533 -d GameDB --yes --password-stdin \
    2>"$work/cli.log" | tr -d '\r' >"$work/cli-clean.txt"
rc=${PIPESTATUS[1]}
if [ "$rc" -eq 0 ] && grep -qx '数据库清理成功!' "$work/cli-clean.txt" && grep -qx '日志文件现为 10 MB。' "$work/cli-clean.txt"; then
    ok "sqllogclean-cli.exe clean --yes: GameDB cleaned, the window's report, exit code 0"
else
    bad "sqllogclean-cli.exe clean --yes (exit code $rc)"; sed 's/^/  /' "$work/cli.log" "$work/cli-clean.txt"
fi

# ---- the whole road by keyboard, every driver registered, as a user would
register "${all_drivers[@]}"
: >"$work/transcript"
"${chinese[@]}" wine "$exe" >"$work/tool.log" 2>&1 &
tool=$!
pids+=("$tool")
window_named() { xdotool search --onlyvisible --name "$1" 2>/dev/null | head -n1; }
# Captions stand alone on Windows, as the tool's always did.
title=Quellmar数据库日志清理工具
main_up() { window=$(window_named "^$title\$") && [ -n "$window" ]; }
within 60 main_up || give_up "no window captioned $title"
ok "the window appeared, captioned $title"
focus() { timeout 20 xdotool windowfocus --sync "$1" 2>/dev/null; }
key() { timeout 20 xdotool key --delay 50 "$@"; }
typed() { timeout 20 xdotool type --delay 50 "$1"; }
# The open list is a window of its own.
windows_shown() { [ "$(xdotool search --onlyvisible --class sqllogclean 2>/dev/null | wc -l)" -eq "$1" ]; }
# pick WHAT KEYS...: with the focus on the database list, opens it (the tool
# connects), types the name's first letters and Enter.
pick() {
    local what=$1; shift
    : >"$work/transcript"
    key alt+Down
    within 60 grep -qi "from sysdatabases" "$work/transcript" || give_up "no databases were listed for $what"
    within 20 windows_shown 2 || give_up "the database list did not open for $what"
    key "$@"
}

# A box's caption and text: on Windows, Qt's message box copies them and its
# buttons on Ctrl+C between rules of dashes, as Windows' own boxes do
# (qmessagebox.cpp, keyPressEvent); Wine hands its clipboard to X11's
# CLIPBOARD selection. The job's statements run without a command time-out (a
# shrink may take minutes on a real server), so the code sets no deadline to
# derive the wait from; the sandbox answers each statement at once, and 5
# minutes is far beyond what even a loaded machine under Wine needs.
clipboard() { timeout 10 xclip -o -selection clipboard -t UTF8_STRING 2>/dev/null | tr -d '\r'; }
between_rules() { awk -v n="$1" '/^-+$/ { rules++; next } rules == n'; }
read_box() {  # CAPTION: waits for the box, then sets box and box_text
    local caption=$1
    box_up() { box=$(window_named "^$caption\$") && [ -n "$box" ]; }
    within 300 box_up || give_up "no box captioned $caption"
    timeout 10 xclip -selection clipboard -i /dev/null 2>/dev/null
    focus "$box"
    key ctrl+c
    copied() { [ "$(clipboard | between_rules 1)" = "$caption" ]; }
    within 20 copied || give_up "the $caption box's text did not reach the clipboard"
    box_text=$(clipboard | between_rules 2)
    ok "a box captioned $caption: $(head -n1 <<<"$box_text")"
    sed 's/^/       /' <<<"$box_text" | tail -n +2
}
close_box() {  # CAPTION
    closing=$1
    key Return
    box_gone() { [ -z "$(window_named "^$closing\$")" ]; }
    within 20 box_gone || bad "the $closing box did not close"
}
notice=提示

# The server the browser announced is already chosen. A wrong password first:
# the box says the connection failed, and the server's reason.
focus "$window"
key Tab
typed wrong
key Tab alt+Down
read_box "$notice"
# FreeTDS behind Microsoft's names gets no Language=, so the reason is English.
if [ "$(head -n1 <<<"$box_text")" = "数据库连接失败!" ] && grep -q "Login failed" <<<"$box_text"; then
    ok "a wrong password: 数据库连接失败! and the server's reason"
else
    bad "a wrong password: the box should say 数据库连接失败! and the server's reason"
fi
close_box "$notice"

# The password, then GameDB by its first letter; its log comes first.
focus "$window"
key shift+Tab ctrl+a
typed sandbox
key Tab
: >"$trace"
pick GameDB G Return
within 60 grep -qi "from sysfiles" "$work/transcript" || give_up "GameDB's files were not listed"
within 20 windows_shown 1 || give_up "the database list did not close"
# Which driver the program handed its connection to, as unixODBC traced it.
through=$(grep -o 'Driver=[^;]*' "$trace" | head -n1)
[ "$through" = "Driver=$nc10" ] && ok "the listed SQL Server 2000 (as its browser announced) reached through $nc10" ||
    bad "the listed SQL Server 2000 reached through '${through#Driver=}', not $nc10"
ok "GameDB chosen, its files listed"
timeout 60 import -window root "$out/wine-window.png" 2>/dev/null && ok "screenshot: $out/wine-window.png"

# 压缩 (Alt+O), then the 提示 box.
: >"$work/transcript"
focus "$window"
key alt+o
read_box "$notice"
[ "$(head -n1 <<<"$box_text")" = "数据库清理成功!" ] || bad "GameDB: the job did not succeed"
grep -qi "DBCC SHRINKFILE" "$work/transcript" && ok "the server got the shrink" || bad "no DBCC SHRINKFILE sent"
close_box "$notice"

# LogAtEnd: the active log sits at the end of the file, and the box says so.
# Alt+O pressed 压缩 without taking the focus from the database list.
focus "$window"
pick LogAtEnd L o g A Return
within 60 grep -qi "from sysfiles" "$work/transcript" || give_up "LogAtEnd's files were not listed"
within 20 windows_shown 1 || give_up "the database list did not close"
key alt+o
read_box "$notice"
grep -q "未能缩小到 10 MB：." <<<"$box_text" && ok "LogAtEnd: the box says why the log stayed large" ||
    bad "LogAtEnd: the box should say why the log stayed large"
close_box "$notice"

# An error no handler catches: an offline database cannot be entered. The
# default error report is captioned with the application's title.
focus "$window"
pick "an offline database" G u Return
read_box "SQL SERVER日志清理工具"
ok "the default error report is captioned with the application title"
close_box "SQL SERVER日志清理工具"

# 退出 (Alt+E): the program ends with exit code 0.
focus "$window"
key alt+e
within 60 bash -c "! kill -0 $tool 2>/dev/null" || give_up "the program did not close"
wait "$tool"; rc=$?
[ $rc -eq 0 ] && ok "exit code 0" || bad "exit code $rc"

[ $failures -eq 0 ] || show_logs
[ $failures -eq 0 ]
