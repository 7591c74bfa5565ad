# Shared pieces of the benchmarks, sourced by scripts/bench/bench-*.sh and by
# make build-bench; the studies run in the repository's root.
REPO=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
cd "$REPO"

# The studies redirect their tables into out/bench/ before any measurement
# runs, so the folder must exist from the start (a fresh clone has no out/).
mkdir -p out/bench

# The benchmark executables (TavrixDevPkg/TavrixDevBench.dsc, RELEASE, no
# sanitizers), built by make build-bench (bench_build) before a study runs.
BENCH_BIN=Build/TavrixDevBench/RELEASE_GCC5/X64

# bench_build: builds them (make build-bench calls it).
bench_build() {
  local log=Build/build-bench.log
  mkdir -p Build
  if ! build -p TavrixDevPkg/TavrixDevBench.dsc -a X64 -t GCC5 -b RELEASE -n "$(nproc)" >"$log" 2>&1; then
    grep -E -A3 ': error|error:|Error [0-9]' "$log" | head -n 60; echo "[bench] build failed; full log in $log"; exit 1
  fi
}

# bench_callgrind NAME EXE: runs the benchmark executable EXE (make
# build-bench built it) under callgrind with collection off except around the
# measured calls; each measurement is one record in
# out/bench/NAME/callgrind.out.N. Writes out/bench/NAME.json, per call:
# {"<name>": {"total": Ir, "areas": {"<area>": Ir, ...}}, ...} (callgrind-costs.py).
bench_callgrind() {
  local dir=out/bench/$1
  [ -x "$BENCH_BIN/$2" ] || { echo "[bench] $BENCH_BIN/$2 missing (make build-bench)"; exit 1; }
  rm -rf "$dir"; mkdir -p "$dir"
  if ! valgrind --tool=callgrind --collect-atstart=no --callgrind-out-file="$dir/callgrind.out" \
       "$BENCH_BIN/$2" >"$dir/run.log" 2>&1; then
    echo "[bench] $2 failed under callgrind; see $dir/run.log" >&2; tail -n 20 "$dir/run.log" >&2; exit 1
  fi
  python3 scripts/bench/callgrind-costs.py "$dir" >"out/bench/$1.json"
}
