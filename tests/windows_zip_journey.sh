#!/usr/bin/env bash
# A Windows user's first minutes with the .zip, under wine: unpack it into an
# empty folder and run there, with a Japanese locale, exactly the commands
# its README.txt gives, in its order, checking what each one must show.
# Nothing of the build tree is used: the wine prefix is a fresh one.
# The one liberty taken: the simulator listens on free ports rather than
# README.txt's 4001 and up, which this machine may have given to someone
# else, and the other commands and vantrel.toml follow it there.
#
# usage: windows_zip_journey.sh ZIP
# Needs wine, unzip, iconv and the ja_JP.UTF-8 locale.
set -euo pipefail

zip=$(realpath "$1")
work=$(mktemp -d)
sim_pid=
cleanup() {
  [[ -n $sim_pid ]] && kill -9 "$sim_pid" 2>/dev/null
  WINEPREFIX=$work/prefix wineserver -k 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

mkdir "$work/unpacked"
(cd "$work/unpacked" && unzip -q "$zip")
folder=$(find "$work/unpacked" -mindepth 1 -maxdepth 1 -type d)
cd "$folder"
echo "unpacked into an empty folder: $(ls | tr '\n' ' ')"

export WINEPREFIX=$work/prefix WINEDEBUG=-all LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8
# A server kept up between the programs makes each start quick; it goes
# away by itself a minute after the last.
mkdir "$WINEPREFIX"
wineserver -p60
wineboot --init >/dev/null 2>&1

# The commands are README.txt's indented lines that start a program.
mapfile -t commands < <(tr -d '\r' <README.txt | sed -n 's/^    \(vantrel\(-[a-z]*\)\?\.exe.*\)$/\1/p')
printf 'README.txt says:\n'; printf '  %s\n' "${commands[@]}"
[[ ${#commands[@]} -eq 9 ]] || { echo "FAIL: expected 9 commands in README.txt"; exit 1; }

failed=0
check() {  # check DESCRIPTION CONDITION...
  local what=$1; shift
  if "$@"; then echo "ok: $what"; else echo "FAIL: $what"; failed=1; fi
}

# Notepad's line ends, in the manuals and README.txt alike.
for text in *.txt; do
  check "$text has CR LF line ends" test "$(grep -c $'\r$' "$text")" = "$(wc -l <"$text")"
done

# What a Japanese console shows: code page 932, CR LF.
cp932() { printf '%s' "$1" | sed 's/$/\r/' | iconv -f UTF-8 -t CP932; }

# README.txt's ports, 4001 and up, and the free ones that stand in for them.
declare -A port_of
start_sim() {  # the first window
  local units=1
  read -ra words <<<"$1"
  for i in "${!words[@]}"; do
    [[ ${words[i]} == --port ]] && words[i+1]=0
    [[ ${words[i]} == --units ]] && units=${words[i+1]}
  done
  wine "${words[@]}" >"$work/sim.out" 2>&1 &
  sim_pid=$!
  for _ in $(seq 100); do
    (( $(grep -c $'\r' "$work/sim.out" 2>/dev/null) >= units )) && break
    sleep 0.2
  done
  mapfile -t ports < <(head -n "$units" "$work/sim.out" | tr -d '\r')
  check "'$1' listens on $units port(s): ${ports[*]}" \
    test "$(printf '%s\n' "${ports[@]}" | grep -cE '^[0-9]+$')" = "$units"
  port_of=()
  for i in "${!ports[@]}"; do port_of[$((4001 + i))]=${ports[i]}; done
  # vantrel.toml names the units by README.txt's ports: point it at these.
  cp "$work/vantrel.toml.shipped" vantrel.toml
  for readme_port in "${!port_of[@]}"; do
    sed -i "s/^port = $readme_port\b/port = ${port_of[$readme_port]}/" vantrel.toml
  done
}

stop_sim() {  # Ctrl+C in the first window
  kill -INT "$sim_pid"
  local status=0
  wait "$sim_pid" || status=$?
  sim_pid=
  check "Ctrl+C stops the simulator with status 0" test "$status" = 0
}

hex() { od -An -tx1 | tr -d ' \n'; }

run() {  # the second window; sets out and status
  read -ra words <<<"$1"
  for i in "${!words[@]}"; do
    [[ -n ${port_of[${words[i]}]:-} ]] && words[i]=${port_of[${words[i]}]}
  done
  status=0
  wine "${words[@]}" >"$work/out" 2>"$work/err" || status=$?
  out=$(hex <"$work/out")
  echo "\$ $1  -> status $status"
}

cp vantrel.toml "$work/vantrel.toml.shipped"
start_sim "${commands[0]}"

run "${commands[1]}"
expected=$(cp932 $'Send data to the Vantrel: 0x7e 0x5a 0x04 0x80(128)\n\nReceive data from the Vantrel: 0x7e 0x5a 0x04 0x80(128)\nOutput succeeded. 調光値128で出力が成功しました。\n' | hex)
check "vantrel-dim.exe succeeds, in code page 932 with CR LF" test "$out" = "$expected"
check "vantrel-dim.exe exits 0" test "$status" = 0

run "${commands[2]}"
check "vantrel-fade.exe exits 0" test "$status" = 0
check "vantrel-fade.exe confirms level 255" grep -q "^$(printf 'Level 255 confirmed' | hex)" <<<"$out"

stop_sim
check "the simulator logged the exchanges" test "$(grep -c 'received 7e 5a 04' "$work/sim.out")" -ge 2

start_sim "${commands[3]}"
run "${commands[4]}"
expected=$(cp932 $'Send data to the Vantrel: 0x7e 0x5a 0x04 0x80(128)\n\nReceive data from the Vantrel: 0xffffff81 0x5a 0x04 0x80(128)\nOutput failed. 調光値128で出力が失敗しました。\n' | hex)
check "vantrel-dim.exe against change:0 fails, in code page 932 with CR LF" test "$out" = "$expected"
check "vantrel-dim.exe exits 0 after the failed exchange" test "$status" = 0
stop_sim

start_sim "${commands[5]}"
run "${commands[6]}"
check "vantrel.exe sets the scene and exits 0" test "$status" = 0
check "vantrel.exe confirms all 3 units" grep -q "^$(printf 'All 3 units confirmed' | hex)" <<<"$out"
run "${commands[7]}"
check "vantrel.exe fades all units and exits 0" test "$status" = 0
check "vantrel.exe confirms the fade on all 3 units" grep -q "^$(printf 'All 3 units confirmed' | hex)" <<<"$out"
run "${commands[8]}"
check "vantrel.exe lists every unit at the level of the fade, 50% (128)" \
  test "$(tr -d '\r' <"$work/out" | grep -cE '^  (counter|shelf-left|shelf-right) +127\.0\.0\.1:[0-9]+ +type [12] +level 128 \(')" = 3
check "vantrel.exe remembered the levels under %LOCALAPPDATA%" \
  test -n "$(find "$WINEPREFIX/drive_c/users" -path '*vantrel/levels' -size +0)"
stop_sim
for readme_port in "${!port_of[@]}"; do
  check "the simulator served the unit of README.txt's port $readme_port" \
    grep -q "^${port_of[$readme_port]}: .* received 7e 5a" "$work/sim.out"
done

exit $failed
