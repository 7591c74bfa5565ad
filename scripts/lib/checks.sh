# The one place where a check becomes a counted line, sourced by the roads,
# the fuzz run, run-tests.sh and run.sh. A script sets ROAD (the prefix of
# its lines); each check prints one "PASS: $ROAD: <name>" or
# "FAIL: $ROAD: <name> (<why>)" line, and a runner counts those lines.
road_fails=0

road_pass() { echo "PASS: $ROAD: $1"; }
road_fail() { echo "FAIL: $ROAD: $1${2:+ ($2)}"; road_fails=$((road_fails + 1)); }
# road_check NAME FILE PATTERN: passes when the file has a line matching PATTERN.
road_check() {
  if grep -a -q -E "$3" "$2" 2>/dev/null; then road_pass "$1"; else road_fail "$1" "no /$3/ in $2"; fi
}
# road_that NAME COMMAND...: passes when the command succeeds.
road_that() {
  local name=$1; shift
  if "$@" >/dev/null 2>&1; then road_pass "$name"; else road_fail "$name"; fi
}
# road_relay FROM PREFIX FILE...: the "PASS|FAIL: FROM: <name>" lines another
# program wrote (the road application, the hostile guest) as this script's
# own checks, "<PREFIX><name>", each failure counted.
road_relay() {
  local from=$1 prefix=$2 line; shift 2
  while IFS= read -r line; do
    case "$line" in
      "PASS: $from: "*) road_pass "$prefix${line#PASS: "$from": }" ;;
      "FAIL: $from: "*) echo "FAIL: $ROAD: $prefix${line#FAIL: "$from": }"; road_fails=$((road_fails + 1)) ;;
    esac
  done < <(cat "$@" 2>/dev/null | tr -d '\r')
}
road_status() { [ "$road_fails" -eq 0 ]; }

# check_counts LOG: "PASSED FAILED", the check lines a script wrote to LOG.
check_counts() { echo "$(grep -a -c '^PASS: ' "$1") $(grep -a -c '^FAIL: ' "$1")"; }
