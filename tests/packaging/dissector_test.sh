#!/usr/bin/env bash
# The Wireshark dissector over a recorded session, and over a few frames it
# must flag (flagged_frames.txt beside this script). The command line, on the
# simulated LAN, records discovery, a search, a settings read and write, a
# password write, a factory write and a small firmware upgrade with
# --capture; tshark then decodes the whole session with the dissector and
# every frame must carry its code's name, the settings, identity and
# firmware fields must read as sent, no password may show, and nothing may
# be malformed or flagged.
#
# usage: dissector_test.sh KORVANE_BINARY DISSECTOR_LUA
# Exit 77 (skipped) when tshark is not installed.
set -euo pipefail

korvane=$(realpath "$1")
dissector=$(realpath "$2")
flagged_frames=$(realpath "$(dirname "$0")/flagged_frames.txt")

if ! command -v tshark >/dev/null; then
  echo "tshark is not installed (tools/install-deps.sh installs it): skipped"
  exit 77
fi
# An installed copy (the package's) loads first and would be the one tested.
if tshark -G protocols 2>/dev/null | grep -qP '\tkorvane$'; then
  echo "a korvane dissector is already installed in Wireshark's plugin folders;"
  echo "remove it (apt remove korvane-utility) to test this copy: skipped"
  exit 77
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
export HOME="$work" # no personal Wireshark settings or plugins

failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

device=2801795073
other=2801795074
secret="n3w-Secret"
printf '%s\n' "$secret" > new-password
# 3000 bytes: blocks of 1024, 1024 and 952 bytes.
head -c 3000 /dev/zero | tr '\0' 'K' > image.bin

# Each command records its own file on its own simulated LAN; they run side
# by side and are joined into one session afterwards.
record() {
  local name=$1
  shift
  "$korvane" --capture "$name.pcap" --simulate 2 "$@" > "$name.out" 2>&1 &
  pids+=($!)
  runs+=("$name")
}
pids=()
runs=()
record discover discover
record search search
record settings-read settings show "$device"
record settings-write settings set "$device" --ip 192.168.1.150 --mask 255.255.0.0 \
  --http 8080 --ssh off --yes
record password password set "$device" --new-password-file new-password
record factory factory serial "$other" 2801795099
record firmware firmware upgrade image.bin "$device" --yes --allow-short-image
for i in "${!pids[@]}"; do
  if ! wait "${pids[$i]}"; then
    cat "${runs[$i]}.out"
    fail "korvane ${runs[$i]} exited with an error"
  fi
done
mergecap -a -w session.pcap "${runs[@]/%/.pcap}"

# tshark with the dissector over the session. Its complaints (a Lua error,
# a bad filter) go to standard error, where they show; the output they spoil
# then fails the checks.
capture=session.pcap
shark() {
  tshark -n -r "$capture" -X lua_script:"$dissector" "$@" 2> >(grep -v '^Running as user' >&2)
}
# Every frame of the session is the protocol's (the ARP probe of the
# settings write aside) and carries its code's name first in the summary.
declare -A names=(
  [0x0001]="Boot query" [0x0002]="Boot reply" [0x1001]="Discovery"
  [0x1002]="Discovery reply" [0x2001]="Write settings" [0x2002]="Read settings"
  [0x2003]="Settings reply" [0x3001]="Firmware block" [0x3003]="Firmware reply"
  [0x3005]="End of firmware" [0x4001]="Firmware programmed notice"
  [0x7001]="Check password" [0x7002]="Set password" [0x7003]="Password reply"
  [0xf0f0]="Write factory block" [0xf000]="Factory reply"
)
# One pass of tshark: the fields below, one row per frame of the protocol.
columns=(frame.number korvane.code _ws.col.Info korvane.length
  korvane.identity.mac korvane.identity.serial korvane.identity.hardware korvane.identity.firmware
  korvane.settings.version korvane.settings.ip korvane.settings.mask korvane.settings.gateway
  korvane.settings.http_port korvane.settings.telnet_port korvane.settings.https_port
  korvane.settings.ssh_port korvane.settings.mark korvane.settings.checksum.status
  korvane.factory.mac korvane.factory.serial korvane.factory.checksum.status
  korvane.firmware.block korvane.firmware.block_length korvane.firmware.header_flag
  korvane.boot.version korvane.boot.compatibility
  korvane.password_block.new_password korvane.password_block.checksum.status
  korvane.password.masked eth.src)
declare -A col=()
args=()
for i in "${!columns[@]}"; do
  col[${columns[$i]}]=$((i + 1))
  args+=(-e "${columns[$i]}")
done
shark -Y korvane -T fields -E separator=/t -E occurrence=f "${args[@]}" > table.tsv
total=$(shark -Y 'not arp' | wc -l)

# rows CODE [FIELD=VALUE] -- FIELD...: those fields, comma-separated, of
# each frame with that code (and that value in FIELD).
rows() {
  local code=$1 where=0 value=""
  shift
  if [ "$1" != "--" ]; then
    where=${col[${1%%=*}]}
    value=${1#*=}
    shift
  fi
  shift
  local list=""
  for f in "$@"; do list+="${list:+ }${col[$f]}"; done
  awk -F'\t' -v code="$code" -v where="$where" -v value="$value" -v list="$list" '
    $2 == code && (where == 0 || $where == value) {
      n = split(list, c, " "); line = $c[1]
      for (i = 2; i <= n; i++) line = line "," $c[i]
      print line
    }' table.tsv
}

declare -A seen=()
declare -A seen=()
decoded=0
while IFS=$'\t' read -r number code info; do
  decoded=$((decoded + 1))
  expected=${names[${code:-none}]:-}
  if [ -z "$expected" ]; then
    fail "frame $number: unexpected code $code ($info)"
  elif [[ "$info" != "$expected"* ]]; then
    fail "frame $number: code $code shows as '$info', not '$expected...'"
  fi
  seen[${code:-none}]=1
done < <(cut -f1-3 table.tsv)
[ "$decoded" -gt 0 ] || fail "no frame was decoded as korvane"
[ "$decoded" -eq "$total" ] || fail "$decoded of $total non-ARP frames decoded as korvane"
for code in "${!names[@]}"; do
  [ -n "${seen[$code]:-}" ] || fail "no frame with code $code (${names[$code]}) in the session"
done

# Nothing malformed, no expert info of warning level or above.
flagged=$(shark -Y '_ws.malformed || _ws.expert.severity >= 0x00600000' | wc -l)
[ "$flagged" -eq 0 ] || {
  shark -Y '_ws.malformed || _ws.expert.severity >= 0x00600000' -O korvane | head -60
  fail "$flagged frames malformed or flagged"
}

check() {
  local what=$1 expected=$2 actual=$3
  [ "$actual" = "$expected" ] || fail "$what: expected '$expected', got '$actual'"
}

check "discovery reply identity" "02:19:a7:00:00:01,2801795073,Q2.1,1.20.7K.15" \
  "$(rows 0x1002 korvane.identity.serial=2801795073 -- korvane.identity.mac \
      korvane.identity.serial korvane.identity.hardware korvane.identity.firmware | head -1)"
check "settings read" "32,192.168.1.100,255.255.255.0,192.168.1.1,80,23,443,22,0x21472174,1" \
  "$(rows 0x2003 eth.src=02:19:a7:00:00:01 -- korvane.settings.version korvane.settings.ip \
      korvane.settings.mask korvane.settings.gateway korvane.settings.http_port \
      korvane.settings.telnet_port korvane.settings.https_port korvane.settings.ssh_port \
      korvane.settings.mark korvane.settings.checksum.status | head -1)"
check "settings write" "72,192.168.1.150,255.255.0.0,192.168.1.1,8080,23,443,65535,0x21472174,1" \
  "$(rows 0x2001 -- korvane.length korvane.settings.ip korvane.settings.mask \
      korvane.settings.gateway korvane.settings.http_port korvane.settings.telnet_port \
      korvane.settings.https_port korvane.settings.ssh_port korvane.settings.mark \
      korvane.settings.checksum.status)"
check "factory write" "02:19:a7:00:00:1b,2801795099,1" \
  "$(rows 0xf0f0 -- korvane.factory.mac korvane.factory.serial korvane.factory.checksum.status)"
check "firmware blocks" "0,1024 1,1024 2,952" \
  "$(rows 0x3001 -- korvane.firmware.block korvane.firmware.block_length | paste -sd' ')"
check "end of firmware" "0x00010000" "$(rows 0x3005 -- korvane.firmware.header_flag)"
check "boot reply" "0x0102,3" "$(rows 0x0002 -- korvane.boot.version korvane.boot.compatibility)"

# The new password is set, its characters are nowhere: not in the file, not
# in the decoded tree.
check "password block" "1,2,1" \
  "$(rows 0x7002 -- korvane.password_block.new_password korvane.password_block.checksum.status \
      korvane.password.masked)"
if grep -aq "$secret" session.pcap; then fail "the new password is in the recording"; fi
if shark -V | grep -q "$secret"; then fail "the new password shows in the decoded frames"; fi

# A short frame and a bad block checksum are flagged as expert infos.
text2pcap -q "$flagged_frames" flagged.pcap > /dev/null 2>&1
capture=flagged.pcap
check "short frames flagged" "1 3" "$(shark -Y korvane.short -T fields -e frame.number | paste -sd' ')"
check "bad checksum flagged" "2" "$(shark -Y korvane.checksum.bad -T fields -e frame.number)"
# Texts that fill their fields end there: a 16-character hardware version
# does not run into the firmware text, and a firmware text with no zero up to
# the frame's end is read, not an error.
check "texts within their fields" "HW-VERSION-16CHR,1.20.7K.15 Q2.1,FW-TEXT-WITHOUT-ANY-TERMINATOR!!" \
  "$(shark -Y 'frame.number >= 4' -T fields -E separator=, -e korvane.identity.hardware \
      -e korvane.identity.firmware | paste -sd' ')"
lua_errors=$(shark -V | grep -c 'Lua Error' || true)
check "Lua errors in the flagged frames" "0" "$lua_errors"

if [ "$failures" -ne 0 ]; then
  echo "$failures checks failed"
  exit 1
fi
echo "dissector: $decoded frames of the session decoded, all checks passed"
