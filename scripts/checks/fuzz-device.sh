#!/usr/bin/env bash
# Fuzzes the virtual display controller (TavrixDevPkg/DeviceModel) two ways:
#   1. core: the libFuzzer target Fuzz/TavrixDisplayCoreFuzz.c over the plain-C
#      core, built with clang -fsanitize=fuzzer,address,undefined: programs
#      of register, port and configuration accesses, every frame drawn into
#      a surface that ends at a guard page;
#   2. device: HostileGuest/hostile-guest.py's random sequence against the
#      real QEMU device (-accel qtest): hostile register, port, configuration
#      and memory writes mixed with screendumps, resets and state saves and
#      loads into a machine whose console has drawn.
#
#   fuzz-device.sh short   what `make test` runs: a fixed seed and a fixed
#                          amount of work (120,000 core executions, 3,000
#                          device steps with about 50 state loads; 27 s
#                          on two cores shared with other builds)
#   fuzz-device.sh long    what `make fuzz` runs: FUZZ_SECONDS (default 600)
#                          each, the core with a corpus kept in the cache and
#                          its line coverage reported, the device on an
#                          AddressSanitizer build of QEMU
#                          (scripts/build/setup-qemu.sh asan, built only here)
# Prints one "PASS: fuzz: ..."/"FAIL: fuzz: ..." line per check; exits
# non-zero when one failed. Findings (crash inputs, replayable steps) stay
# in out/fuzz/.
# Environment: TAVRIX_CACHE as for setup.sh; FUZZ_SECONDS; FUZZ_SEED.
set -uo pipefail
MODE=${1:-short}
. "$(dirname "$0")/../lib/qemu-lib.sh"
road_begin fuzz
CACHE_DIR=${TAVRIX_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/tavrix-fw}
DEVICE=$REPO/TavrixDevPkg/DeviceModel
SEED=${FUZZ_SEED:-1}
SECONDS_EACH=${FUZZ_SECONDS:-600}
pass() { road_pass "$*"; }
fail() { road_fail "$*"; }

CORE_SOURCES=("$DEVICE/Fuzz/TavrixDisplayCoreFuzz.c" "$DEVICE/DisplayCore/TavrixDisplayCore.c")

# A program that sets up a 16 x 16 32-bit frame, draws it, lets the VGA
# take the console (720 x 400) and draws again: a start that the mutations
# turn into every other order of those events.
write_seed() {
  printf '\x00\x02\x04\x0f\x00\x0f\x00\x00\x02\x02\x40\x00\x00\x00\x00\x02\x00\x02\x01\x00\x00\x06\x00\x07\x59\x31\x00\x06\x00' >"$1/mode-draw-vga-draw"
}

build_core_fuzzer() {  # OUTPUT EXTRA-FLAGS...
  local out=$1; shift
  clang -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined "$@" \
    -I"$DEVICE/DisplayCore" -I"$REPO/OptionRomPkg/Include" "${CORE_SOURCES[@]}" -o "$out" >"$out.log" 2>&1
}

# ---- 1. the core under libFuzzer ------------------------------------------
fuzz_core() {
  local bin=$OUT/core-fuzzer corpus seeds=$OUT/core-seeds args
  if ! build_core_fuzzer "$bin"; then
    fail "the core's libFuzzer target builds (clang -fsanitize=fuzzer,address,undefined): $(tail -n 5 "$bin.log")"
    return
  fi
  mkdir -p "$seeds"; write_seed "$seeds"
  if [ "$MODE" = long ]; then
    corpus=$CACHE_DIR/fuzz-corpus/display-core; mkdir -p "$corpus"
    args=(-max_total_time="$SECONDS_EACH")
  else
    corpus=$OUT/core-corpus; mkdir -p "$corpus"
    args=(-runs=120000)
  fi
  (cd "$OUT" && "$bin" -seed="$SEED" "${args[@]}" -rss_limit_mb=4096 -print_final_stats=1 \
     -artifact_prefix="$OUT/core-" "$corpus" "$seeds" >"$OUT/core-fuzzer.txt" 2>&1)
  local rc=$? runs cov
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$OUT/core-fuzzer.txt" | tail -n 1)
  cov=$(grep -o 'cov: [0-9]*' "$OUT/core-fuzzer.txt" | tail -n 1)
  if [ "$rc" -eq 0 ]; then
    pass "core under libFuzzer, seed $SEED: ${runs:-?} programs, ${cov:-cov: ?} edges, no finding"
  else
    fail "core under libFuzzer, seed $SEED: a finding after ${runs:-?} programs: $(grep -m1 -E 'ERROR|runtime error|deadly signal' "$OUT/core-fuzzer.txt") ($(grep -m1 -o 'Test unit written to .*' "$OUT/core-fuzzer.txt"); log: $OUT/core-fuzzer.txt)"
  fi
  [ "$MODE" = long ] && core_coverage "$corpus"
}

# Line coverage of the core by the long run's corpus (llvm-cov).
core_coverage() {
  local corpus=$1 bin=$OUT/core-coverage
  build_core_fuzzer "$bin" -fprofile-instr-generate -fcoverage-mapping || { fail "coverage build: $(tail -n 5 "$bin.log")"; return; }
  (cd "$OUT" && LLVM_PROFILE_FILE="$OUT/core.profraw" "$bin" -runs=0 "$corpus" >"$OUT/core-coverage.txt" 2>&1)
  llvm-profdata merge -sparse "$OUT/core.profraw" -o "$OUT/core.profdata" &&
    llvm-cov report "$bin" -instr-profile="$OUT/core.profdata" "$DEVICE/DisplayCore/TavrixDisplayCore.c" >"$OUT/core-coverage-report.txt" 2>&1
  echo "[fuzz] core coverage by $(ls "$corpus" | wc -l) corpus programs:"
  sed -n '1p;/TavrixDisplayCore.c/p' "$OUT/core-coverage-report.txt"
}

# ---- 2. the QEMU device under a random hostile guest -------------------------
fuzz_device() {
  local qemu flavour=normal
  [ "$MODE" = long ] && flavour=asan
  if ! qemu=$(our_qemu "${flavour#normal}"); then
    fail "our QEMU ($flavour) could not be built (see $OUT/setup-qemu.log)"; return
  fi
  # A state load starts a new QEMU (about half a second for the ASan
  # build): one in 64 steps finds the load faults within the short run; the
  # long run loads about every 1,024 steps, which leaves most of its time to
  # the guest's steps.
  local steps=3000 seconds=600 load_every=64
  if [ "$MODE" = long ]; then steps=$((1 << 40)); seconds=$SECONDS_EACH; load_every=1024; fi
  ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=0:abort_on_error=1} \
    python3 "$DEVICE/HostileGuest/hostile-guest.py" "$qemu" "$OUT/device" random "$SEED" "$seconds" "$steps" "$load_every" \
    >"$OUT/device.txt"
  road_relay hostile-guest "device ($flavour QEMU), " "$OUT/device.txt"
  grep -q -E '^(PASS|FAIL): hostile-guest: ' "$OUT/device.txt" ||
    fail "device: the random sequence printed no result (see $OUT/device)"
}

fuzz_core
fuzz_device
road_status
