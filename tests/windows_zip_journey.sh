#!/usr/bin/env bash
# A Windows user's first minutes with the .zip, under wine: unpack it into an
# empty folder and run there, with a Japanese locale, exactly the commands
# its README.txt gives, in its order, checking what each one must show.
# Nothing of the build tree is used: the wine prefix is a fresh one.
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
mapfile -t commands < <(tr -d '\r' <README.txt | sed -n 's/^    \(vantrel-[a-z]*\.exe.*\)$/\1/p')
printf 'README.txt says:\n'; printf '  %s\n' "${commands[@]}"
[[ ${#commands[@]} -eq 5 ]] || { echo "FAIL: expected 5 commands in README.txt"; exit 1; }

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

start_sim() {  # the first window
  read -ra words <<<"$1"
  wine "${words[@]}" >"$work/sim.out" 2>&1 &
  sim_pid=$!
  for _ in $(seq 100); do
    grep -q $'\r' "$work/sim.out" 2>/dev/null && break
    sleep 0.2
  done
  check "'$1' listens on port 4001" test "$(head -n 1 "$work/sim.out" | tr -d '\r')" = 4001
}

stop_sim() {  # Ctrl+C in the first window
  kill -INT "$sim_pid"
  local status=0
  wait "$sim_pid" || status=$?
  sim_pid=
  check "Ctrl+C stops the simulator with status 0" test "$status" = 0
}

run() {  # the second window; sets out and status
  read -ra words <<<"$1"
  status=0
  out=$(wine "${words[@]}" 2>"$work/err" | od -An -tx1 | tr -d ' \n') || status=$?
  echo "\$ $1  -> status $status"
}

hex() { od -An -tx1 | tr -d ' \n'; }

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

exit $failed
