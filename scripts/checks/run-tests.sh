#!/usr/bin/env bash
# Runs every test tier that exists and sums the checks:
#   1. image checks on each firmware build (PE32+ X64 boot-service drivers, the
#      PCI identity of the option ROM and of the test-key-signed one, each
#      expanding to its .efi byte for byte, no port
#      I/O in RELEASE TavrixGopDxe), and
#      build checks (versions agree, the scripts read the controller's facts
#      as the compiler does, the C++ is formatted, the integration guide shows what the fragments
#      hold, the duplicate-symbol step catches one, the Secure Boot variable
#      store is made and a broken one refused, and its db found and
#      a deleted one not), and the kit
#      (make dist's archive, the tools that apply the guide's board lines);
#   2. host test executables (Build/TavrixDevHostTest/NOOPT_GCC5/X64/*UnitTest),
#      one check per GoogleTest case; a crash or sanitizer report counts as a
#      failure of that executable;
#   3. firmware runs in QEMU (scripts/roads/qemu-*.sh), one check per PASS/FAIL line;
#   4. the virtual device fuzzed briefly (scripts/checks/fuzz-device.sh short: the
#      core under libFuzzer, the QEMU device under a random hostile guest,
#      each with a fixed seed), one check per PASS/FAIL line.
# Every failure is printed with where to look. Ends with one line
# "N passed, M failed"; exits non-zero when anything failed or nothing ran.
# Environment: SKIP_QEMU=1 skips tiers 3 and 4; GTEST_FILTER selects host cases;
# IMAGE_BUILDS lists the firmware builds whose images are checked.
set -uo pipefail
REPO=$(cd "$(dirname "$0")/../.." && pwd)
cd "$REPO"
OUT=$REPO/out/tests; rm -rf "$OUT"; mkdir -p "$OUT"
# The EDK II tree: stock OVMF for the board-line checks, and EDK II's own
# files that the kit's documents name.
. scripts/lib/edk2-path.sh
. scripts/lib/checks.sh
EDK2=$(edk2_path)
passed=0; failed=0
pass() { passed=$((passed + 1)); }
fail() { failed=$((failed + 1)); echo "FAILED: $*"; }

# ---- 1. image checks -------------------------------------------------------
# The builds that `make build` makes: both targets with GCC5, RELEASE with
# CLANGDWARF. IMAGE_BUILDS names others (e.g. "RELEASE_CLANG38") after
# `make build-all`. A listed build that is missing is a failure.
IMAGE_BUILDS=${IMAGE_BUILDS:-DEBUG_GCC5 RELEASE_GCC5 RELEASE_CLANGDWARF}
declare -A image_passed=() image_total=()
image_check() {  # LABEL RESULT-FILE COMMAND...
  local label=$1 result=$2; shift 2
  if "$@" >"$result" 2>&1; then pass; else fail "$label: $(cat "$result")"; fi
}
format_check() {  # the files make format would change, one line each
  local out
  out=$(make -s format-check 2>&1) && return 0
  grep -o '^[^: ]*:[0-9]*:[0-9]*: error' <<<"$out" | cut -d: -f1 | sort -u | sed 's/^/not formatted: /'
  return 1
}
check_build_images() {  # TARGET_TOOLCHAIN
  local b=$1 bin=Build/TavrixDev/$1/X64 f expect
  if [ ! -d "$bin" ]; then fail "images $b: not built ($bin)"; return; fi
  for f in TavrixGopDxe Prelumen; do
    image_check "image $b/$f.efi" "$OUT/image-$b-$f.txt" python3 scripts/checks/check-image.py efi "$bin/$f.efi"
  done
  for f in TavrixGopDxe TavrixGopDxe.TestKeySigned; do
    image_check "option ROM $b/$f.rom" "$OUT/image-$b-$f-rom.txt" \
      env PATH="$EDK2/BaseTools/BinWrappers/PosixLike:$PATH" python3 scripts/checks/check-image.py rom "$bin/$f.rom" "$bin/$f.efi"
  done
  # RELEASE TavrixGopDxe, and so the option ROM shipped on other boards,
  # touches no I/O port (no serial port set up, nothing printed); DEBUG
  # does, through its serial DebugLib, which shows the check sees port I/O.
  case $b in RELEASE_*) expect=none ;; *) expect=some ;; esac
  image_check "port I/O of $b/TavrixGopDxe (expected: $expect)" "$OUT/image-$b-portio.txt" \
    python3 scripts/checks/check-image.py portio "$bin/TavrixGopDxe.debug" "$expect"
}
check_images() {
  local b p f tc
  for b in $IMAGE_BUILDS; do
    p=$passed; f=$failed; tc=${b#*_}
    check_build_images "$b"
    image_passed[$tc]=$(( ${image_passed[$tc]:-0} + passed - p ))
    image_total[$tc]=$(( ${image_total[$tc]:-0} + passed - p + failed - f ))
  done
}

# ---- build checks ------------------------------------------------------------
check_build() {
  local lst=Build/TavrixDev/RELEASE_GCC5/X64/NorvaneEarlyVgaPkg/Prelumen/Prelumen/OUTPUT/static_library_files.lst
  local b roms=()
  for b in $IMAGE_BUILDS; do roms+=("Build/TavrixDev/$b/X64/TavrixGopDxe.rom"); done
  image_check "versions" "$OUT/versions.txt" python3 scripts/checks/check-versions.py "${roms[@]}"
  image_check "the scripts read the controller's facts as the compiler does" "$OUT/facts.txt" \
    python3 scripts/lib/facts.py --check
  image_check "our C++ is laid out as clang-format lays it out (make format)" "$OUT/format.txt" format_check
  # The guide's .dsc and .fdf lines are the fragments' (what we build and test),
  # and its board lines for stock OVMF are what the reference platform uses.
  image_check "integration guide shows the fragments" "$OUT/integration-guide.txt" python3 scripts/kit/check-integration-guide.py \
    docs/INTEGRATION.md Integration/TavrixDisplayDrivers.dsc.inc Integration/TavrixDisplayDrivers.fdf.inc \
    TavrixRefPlatformPkg/TavrixRefPlatformX64.dsc TavrixRefPlatformPkg/TavrixRefPlatformX64.fdf
  # The build's duplicate-symbol step on Prelumen's real link: with
  # AsciiStrSize no longer allowed it must name AsciiStrSize and fail.
  if [ ! -f "$lst" ]; then fail "duplicate check: $lst not built"; return; fi
  if ! python3 scripts/kit/check-link-duplicates.py gcc-nm AsciiStrLen "$lst" >"$OUT/duplicates.txt" 2>&1 &&
     grep -q '^DUPLICATE AsciiStrSize:' "$OUT/duplicates.txt"; then pass
  else fail "duplicate check does not report AsciiStrSize: $(cat "$OUT/duplicates.txt")"; fi
}

# The Secure Boot variant's variable store: secure-boot-vars.py enrolls the
# test certificate into an empty store of the platform's layout (Debian's
# OVMF_VARS_4M.fd has it; the Secure Boot road boots the result), and refuses
# what would leave a broken store, writing nothing.
SB_VARS_DIR=$OUT/secure-boot-vars
sb_vars() { python3 scripts/kit/secure-boot-vars.py "$1" /usr/share/ovmf/PkKek-1-snakeoil.pem "$2"; }
sb_vars_refuses() {  # WHAT MESSAGE STORE
  rm -f "$SB_VARS_DIR/refused.fd"
  if sb_vars "$3" "$SB_VARS_DIR/refused.fd" >"$SB_VARS_DIR/$1.txt" 2>&1; then fail "secure-boot-vars accepts $1"
  elif grep -q "$2" "$SB_VARS_DIR/$1.txt" && [ ! -e "$SB_VARS_DIR/refused.fd" ]; then pass
  else fail "secure-boot-vars on $1: $(cat "$SB_VARS_DIR/$1.txt")"; fi
}
check_secure_boot_vars() {
  mkdir -p "$SB_VARS_DIR"
  image_check "secure-boot-vars enrolls the test certificate into an empty store" "$SB_VARS_DIR/enroll.txt" \
    sb_vars /usr/share/OVMF/OVMF_VARS_4M.fd "$SB_VARS_DIR/enrolled.fd"
  sb_vars_refuses "a-store-already-enrolled" "already holds PK" "$SB_VARS_DIR/enrolled.fd"
  head -c 100000 /usr/share/OVMF/OVMF_VARS_4M.fd >"$SB_VARS_DIR/short.fd"
  sb_vars_refuses "a-store-cut-short" "does not fit the image" "$SB_VARS_DIR/short.fd"
  sb_vars_refuses "a-file-that-is-no-store" "not a firmware volume" /usr/share/ovmf/PkKek-1-snakeoil.pem
  # --find, which the Secure Boot road compares store files with: db's
  # record where the enrolment put it; a db whose record state a direct
  # flash write cleared to "deleted" (0x3F to 0x3D) is no longer found, and
  # the other keys still are.
  local where off
  where=$(python3 scripts/kit/secure-boot-vars.py --find "$SB_VARS_DIR/enrolled.fd" db 2>&1); off=$(echo "$where" | cut -d' ' -f2)
  if [[ $where =~ ^db\ 0x[0-9A-F]+\ 1001\ 0x[0-9A-F]{8}$ ]] &&
     [ "$(od -An -tx1 -j "$((off))" -N 3 "$SB_VARS_DIR/enrolled.fd" | tr -d ' ')" = aa553f ]; then pass
  else fail "secure-boot-vars --find does not give db's record in the enrolled store: $where"; fi
  cp "$SB_VARS_DIR/enrolled.fd" "$SB_VARS_DIR/db-deleted.fd"
  printf '\x3d' | dd of="$SB_VARS_DIR/db-deleted.fd" bs=1 seek="$((off + 2))" conv=notrunc status=none
  if ! python3 scripts/kit/secure-boot-vars.py --find "$SB_VARS_DIR/db-deleted.fd" db >"$SB_VARS_DIR/find-deleted.txt" 2>&1 &&
     grep -q 'holds 0 live records of db' "$SB_VARS_DIR/find-deleted.txt" &&
     python3 scripts/kit/secure-boot-vars.py --find "$SB_VARS_DIR/db-deleted.fd" KEK >>"$SB_VARS_DIR/find-deleted.txt" 2>&1; then pass
  else fail "secure-boot-vars --find on a store whose db was deleted: $(cat "$SB_VARS_DIR/find-deleted.txt")"; fi
}

# The kit: what make dist packs, the same bytes twice (under two umasks, 022
# and 077), folders 0755 and files 0644; the tools that take the guide's board
# lines refuse what they cannot do, naming it.
# The kit's README and guide name only what the unpacked kit holds (the
# vendor-signed pair only in a kit made with the vendor's key).
kit_docs() { python3 scripts/kit/check-kit-docs.py "$1" --edk2 "$EDK2" --optional 'TavrixGopDxe.Signed.*'; }
check_kit_documents() {
  local dir=$1 bad=$OUT/kit-bad
  if kit_docs "$dir" >"$OUT/kit-docs.txt" 2>&1; then pass
  else fail "kit: its README or guide names what the kit does not hold: $(head -n 20 "$OUT/kit-docs.txt")"; fi
  # A kit whose README names what a clone has and the kit has not, and
  # from which a tool the guide runs is missing: each is reported.
  rm -rf "$bad"; cp -r "$dir" "$bad"
  rm "$bad/Tools/secure-boot-vars.py"
  cat >>"$bad/README.md" <<'MD'
See [the benchmarks](docs/PERFORMANCE.md) and ![a picture](docs/images/nowhere.png).

```sh
make test
bash scripts/roads/qemu-platform.sh
frobnicate Binaries/RELEASE/TavrixGopDxe.efi
cp Binaries/RELEASE/Missing.efi .
```

Put `TavrixGopDxe.Unsigned.rom` on the card.
MD
  if ! kit_docs "$bad" >"$OUT/kit-docs-bad.txt" 2>&1 &&
     grep -q 'README.md:.*links to docs/PERFORMANCE.md, which the kit does not hold' "$OUT/kit-docs-bad.txt" &&
     grep -q 'README.md:.*links to docs/images/nowhere.png' "$OUT/kit-docs-bad.txt" &&
     grep -q 'README.md:.*names a make target' "$OUT/kit-docs-bad.txt" &&
     grep -q "README.md:.*names the repository's scripts/ folder" "$OUT/kit-docs-bad.txt" &&
     grep -q 'README.md:.*runs frobnicate, neither a tool of the kit' "$OUT/kit-docs-bad.txt" &&
     grep -q 'README.md:.*names Binaries/RELEASE/Missing.efi, which the kit does not hold' "$OUT/kit-docs-bad.txt" &&
     grep -q 'README.md:.*names the image TavrixGopDxe.Unsigned.rom' "$OUT/kit-docs-bad.txt" &&
     grep -q 'docs/INTEGRATION.md:.*names Tools/secure-boot-vars.py, which the kit does not hold' "$OUT/kit-docs-bad.txt"; then pass
  else fail "check-kit-docs.py misses what a kit lacks: $(cat "$OUT/kit-docs-bad.txt")"; fi
}

# The guide's board lines for one board on stock OVMF: the Secure Boot
# board's defines replace stock OVMF's (one of each), its policy moves from
# the dynamic to the fixed PCDs and OVMF's PlatformPei gets its block; a
# line to remove that the platform lacks, a component that has a block of
# its own already and an unknown board are refused, nothing written.
check_board_lines() {
  local d=$OUT/board-lines s=$EDK2/OvmfPkg
  rm -rf "$d"; mkdir -p "$d"
  cp "$s/OvmfPkgX64.dsc" "$s/OvmfPkgX64.fdf" "$d/"
  if python3 scripts/kit/apply-integration-lines.py docs/INTEGRATION.md "$d/OvmfPkgX64.dsc" "$d/OvmfPkgX64.fdf" secure-boot \
       >"$d/applied.txt" 2>&1 &&
     [ "$(grep -c -E '^ *DEFINE SECURE_BOOT_ENABLE *= *TRUE' "$d/OvmfPkgX64.dsc")" = 1 ] &&
     ! grep -q -E '^ *DEFINE (SECURE_BOOT_ENABLE|SMM_REQUIRE) *= *FALSE' "$d/OvmfPkgX64.dsc" &&
     python3 - "$d/OvmfPkgX64.dsc" <<'PY'
import re, sys
text = open(sys.argv[1]).read()
def section(name):
    return re.search(r"(?ms)^\[%s\]\s*$(.*?)(?=^\[)" % re.escape(name), text).group(1)
policy = "gEfiSecurityPkgTokenSpaceGuid.PcdOptionRomImageVerificationPolicy"
assert policy not in section("PcdsDynamicDefault")
assert policy + "|0x04" in section("PcdsFixedAtBuild")
assert re.search(r"OvmfPkg/PlatformPei/PlatformPei.inf \{\s*<BuildOptions>\s*GCC:\*_\*_\*_CC_FLAGS = \"-D_PCD_SET_MODE_32_S_", text)
assert not re.search(r"(?m)^\s*OvmfPkg/PlatformPei/PlatformPei.inf\s*$", text)
PY
  then pass
  else fail "apply-integration-lines.py: the Secure Boot board's lines on stock OVMF: $(cat "$d/applied.txt")"; fi

  cp "$s/OvmfPkgX64.dsc" "$d/no-policy.dsc"; sed -i '/PcdOptionRomImageVerificationPolicy/d' "$d/no-policy.dsc"
  cp "$d/no-policy.dsc" "$d/board.dsc"; cp "$s/OvmfPkgX64.fdf" "$d/board.fdf"
  local refused_missing=0 refused_block=0 refused_board=0
  ! python3 scripts/kit/apply-integration-lines.py docs/INTEGRATION.md "$d/board.dsc" "$d/board.fdf" secure-boot >"$d/missing.txt" 2>&1 &&
    grep -q "'gEfiSecurityPkgTokenSpaceGuid.PcdOptionRomImageVerificationPolicy|0x00' is not in \[PcdsDynamicDefault\]" "$d/missing.txt" &&
    cmp -s "$d/board.dsc" "$d/no-policy.dsc" && cmp -s "$d/board.fdf" "$s/OvmfPkgX64.fdf" && refused_missing=1
  sed 's|^\( *\)OvmfPkg/PlatformPei/PlatformPei.inf *\r\?$|\1OvmfPkg/PlatformPei/PlatformPei.inf {\n\1}|' "$s/OvmfPkgX64.dsc" >"$d/own-block.dsc"
  cp "$d/own-block.dsc" "$d/board.dsc"; cp "$s/OvmfPkgX64.fdf" "$d/board.fdf"
  ! python3 scripts/kit/apply-integration-lines.py docs/INTEGRATION.md "$d/board.dsc" "$d/board.fdf" secure-boot >"$d/block.txt" 2>&1 &&
    grep -q 'OvmfPkg/PlatformPei/PlatformPei.inf in \[Components\] has a block of its own already' "$d/block.txt" &&
    cmp -s "$d/board.dsc" "$d/own-block.dsc" && refused_block=1
  cp "$s/OvmfPkgX64.dsc" "$d/board.dsc"
  ! python3 scripts/kit/apply-integration-lines.py docs/INTEGRATION.md "$d/board.dsc" "$d/board.fdf" no-such-board >"$d/board.txt" 2>&1 &&
    grep -q "no board lines for the board 'no-such-board'" "$d/board.txt" && cmp -s "$d/board.dsc" "$s/OvmfPkgX64.dsc" && refused_board=1
  if [ "$refused_missing$refused_block$refused_board" = 111 ]; then pass
  else fail "apply-integration-lines.py does not refuse cleanly (missing line $refused_missing, own block $refused_block, unknown board $refused_board): $(cat "$d/missing.txt" "$d/block.txt" "$d/board.txt")"; fi
}

check_kit() {
  local kit=Build/Dist/tavrix-display-$(bash scripts/build/product-version.sh)
  local dir=$OUT/kit first t f
  if ! (umask 022 && bash scripts/kit/dist.sh) >"$OUT/dist.txt" 2>&1; then fail "make dist: $(cat "$OUT/dist.txt")"; return; fi
  first=$(sha256sum <"$kit.tar.gz")
  mkdir -p "$dir" && tar -xzf "$kit.tar.gz" -C "$dir"
  dir=$dir/$(basename "$kit")
  if (cd "$dir" && sha256sum --quiet -c SHA256SUMS) >"$OUT/kit-sums.txt" 2>&1; then pass
  else fail "kit: its files do not match SHA256SUMS: $(cat "$OUT/kit-sums.txt")"; fi
  local wrong=""
  for t in DEBUG RELEASE; do
    for f in TavrixGopDxe.efi Prelumen.efi TavrixGopDxe.rom TavrixGopDxe.TestKeySigned.efi TavrixGopDxe.TestKeySigned.rom; do
      cmp -s "$dir/Binaries/$t/$f" "Build/TavrixDev/${t}_GCC5/X64/$f" || wrong+=" Binaries/$t/$f"
    done
  done
  for f in Integration/TavrixDisplayDrivers.dsc.inc Integration/TavrixDisplayDrivers.fdf.inc docs/INTEGRATION.md \
           LICENSE CHANGELOG.md NorvaneEarlyVgaPkg/Include/Protocol/EarlyVideoDisplay.h; do
    cmp -s "$dir/$f" "$f" || wrong+=" $f"
  done
  # The kit's README is its own, and the tools its recipes run are ours.
  cmp -s "$dir/README.md" docs/KIT-README.md || wrong+=" README.md (not docs/KIT-README.md)"
  for f in secure-boot-vars.py check-link-duplicates.py; do cmp -s "$dir/Tools/$f" "scripts/kit/$f" || wrong+=" Tools/$f"; done
  cmp -s "$dir/Tools/TestKey/PkKek-1-snakeoil.pem" /usr/share/ovmf/PkKek-1-snakeoil.pem || wrong+=" Tools/TestKey/PkKek-1-snakeoil.pem"

  find "$dir" -path '*/UnitTest/*' | grep -q . && wrong+=" (host tests packed)"
  tar -tvzf "$kit.tar.gz" | grep -q -v -E '^(drwxr-xr-x|-rw-r--r--) ' && wrong+=" (modes other than 0755 and 0644)"
  if [ -z "$wrong" ]; then pass; else fail "kit: missing or not the build's or repository's:$wrong"; fi
  (umask 077 && bash scripts/kit/dist.sh) >/dev/null 2>&1
  if [ "$(sha256sum <"$kit.tar.gz")" = "$first" ]; then pass
  else fail "kit: a second make dist, under umask 077 after 022, gives other bytes"; fi

  check_kit_documents "$dir"
  check_board_lines

  # A platform without the section a board line goes to: refused, untouched.
  grep -v '^\[FV.PEIFV\]' "$EDK2/OvmfPkg/OvmfPkgX64.fdf" >"$OUT/no-peifv.fdf"
  cp "$EDK2/OvmfPkg/OvmfPkgX64.dsc" "$OUT/board.dsc"; cp "$OUT/no-peifv.fdf" "$OUT/board.fdf"
  if ! python3 scripts/kit/apply-integration-lines.py docs/INTEGRATION.md "$OUT/board.dsc" "$OUT/board.fdf" >"$OUT/apply.txt" 2>&1 &&
     grep -q 'no \[FV.PEIFV\] section' "$OUT/apply.txt" && cmp -s "$OUT/board.dsc" "$EDK2/OvmfPkg/OvmfPkgX64.dsc" &&
     cmp -s "$OUT/board.fdf" "$OUT/no-peifv.fdf"; then pass
  else fail "apply-integration-lines.py: a missing section is not refused cleanly: $(cat "$OUT/apply.txt")"; fi
  # A guide whose board line the reference platform does not have: reported.
  sed 's|QemuEarlyDisplayBoardLib/QemuEarlyDisplayBoardLib.inf$|Other/Other.inf|' docs/INTEGRATION.md >"$OUT/guide.md"
  if ! python3 scripts/kit/check-integration-guide.py "$OUT/guide.md" Integration/TavrixDisplayDrivers.dsc.inc \
         Integration/TavrixDisplayDrivers.fdf.inc TavrixRefPlatformPkg/TavrixRefPlatformX64.dsc \
         TavrixRefPlatformPkg/TavrixRefPlatformX64.fdf >"$OUT/guide-mismatch.txt" 2>&1 &&
     grep -q "board line 'EarlyDisplayBoardLib|.*Other/Other.inf' is not there" "$OUT/guide-mismatch.txt"; then pass
  else fail "check-integration-guide.py does not report a board line the platform lacks: $(cat "$OUT/guide-mismatch.txt")"; fi
  # A guide whose PEIM line moved from [FV.PEIFV] to [FV.DXEFV] (the platform
  # has it, in the other section): reported.
  sed -e '/<!-- board lines: fdf -->/,/^```$/{/PlatformEarlyVideoPei.inf/d' \
      -e 's|^\[FV.DXEFV\]$|&\nINF  TavrixRefPlatformPkg/PlatformEarlyVideoPei/PlatformEarlyVideoPei.inf|}' \
      docs/INTEGRATION.md >"$OUT/guide-moved.md"
  if ! python3 scripts/kit/check-integration-guide.py "$OUT/guide-moved.md" Integration/TavrixDisplayDrivers.dsc.inc \
         Integration/TavrixDisplayDrivers.fdf.inc TavrixRefPlatformPkg/TavrixRefPlatformX64.dsc \
         TavrixRefPlatformPkg/TavrixRefPlatformX64.fdf >"$OUT/guide-moved.txt" 2>&1 &&
     grep -q "board line 'INF .*PlatformEarlyVideoPei.inf' is not there in \[FV.DXEFV\]" "$OUT/guide-moved.txt"; then pass
  else fail "check-integration-guide.py does not report a board line moved to another section: $(cat "$OUT/guide-moved.txt")"; fi
}

# ---- 2. host tests ---------------------------------------------------------
run_host_tests() {
  local exe name xml rc counts p f
  # The executables of the modules the host-test platform builds today: a
  # module deleted since leaves its old executable in Build/, which must not
  # count.
  local modules
  modules=$(sed -n 's/^ *\([^ #]*UnitTest\.inf\).*/\1/p' TavrixDevPkg/TavrixDevHostTest.dsc |
            xargs -I{} sed -n 's/^ *BASE_NAME *= *\([^ ]*\).*/\1/p' {})
  for exe in $(printf 'Build/TavrixDevHostTest/NOOPT_GCC5/X64/%s\n' $modules); do
    [ -x "$exe" ] || { fail "$(basename "$exe") is not built (make build-host-tests)"; continue; }
    name=$(basename "$exe"); xml=$OUT/$name.xml
    echo "[test] $name"
    ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0} \
    UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1} \
      "$exe" --gtest_output="xml:$xml" ${GTEST_FILTER:+--gtest_filter="$GTEST_FILTER"} >"$OUT/$name.log" 2>&1
    rc=$?
    if [ -f "$xml" ]; then
      counts=$(python3 - "$xml" <<'PY'
import sys, xml.etree.ElementTree as ET
root = ET.parse(sys.argv[1]).getroot()
bad = []
ok = 0
for case in root.iter('testcase'):
    if case.get('result', 'completed') == 'skipped' or case.get('status') == 'notrun':
        continue
    if case.find('failure') is not None or case.find('error') is not None:
        bad.append(case.get('classname') + '.' + case.get('name'))
    else:
        ok += 1
print(ok, len(bad))
for b in bad:
    print(b)
PY
)
      p=$(echo "$counts" | head -n1 | cut -d' ' -f1); f=$(echo "$counts" | head -n1 | cut -d' ' -f2)
      passed=$((passed + p))
      echo "$counts" | tail -n +2 | while read -r c; do [ -n "$c" ] && echo "FAILED: $name: $c (log: out/tests/$name.log)"; done
      failed=$((failed + f))
      if [ "$rc" -ne 0 ] && [ "$f" -eq 0 ]; then
        fail "$name exited with status $rc after its cases passed (sanitizer or leak report?): see out/tests/$name.log"
        tail -n 20 "$OUT/$name.log"
      fi
    else
      fail "$name crashed (status $rc) before writing results: see out/tests/$name.log"
      tail -n 30 "$OUT/$name.log"
    fi
  done
}

# run_checks NAME COMMAND...: runs a script that prints one "PASS: ..." or
# "FAIL: ..." line per check, and counts them.
run_checks() {
  local name=$1 line ok bad; shift
  echo "[test] $name"
  "$@" >"$OUT/$name.log" 2>&1
  read -r ok bad < <(check_counts "$OUT/$name.log")
  passed=$((passed + ok))
  while IFS= read -r line; do fail "${line#FAIL: }"; done < <(grep -a '^FAIL: ' "$OUT/$name.log")
  [ $((ok + bad)) -gt 0 ] || fail "$name printed no checks: see out/tests/$name.log"
}

# ---- 3. firmware runs in QEMU ---------------------------------------------
run_qemu() {
  local s
  for s in scripts/roads/qemu-smoke.sh $(ls scripts/roads/qemu-*.sh | grep -v -e qemu-smoke.sh); do
    run_checks "$(basename "$s" .sh)" bash "$s"
  done
}

# ---- 4. the virtual device fuzzed briefly ------------------------------------
run_fuzz() { run_checks fuzz-device bash scripts/checks/fuzz-device.sh short; }

check_images
check_build
check_secure_boot_vars
check_kit
run_host_tests
[ "${SKIP_QEMU:-0}" = 1 ] || run_qemu
[ "${SKIP_QEMU:-0}" = 1 ] || run_fuzz

summary=""
for tc in $(printf '%s\n' "${!image_total[@]}" | sort); do summary+=" $tc ${image_passed[$tc]}/${image_total[$tc]},"; done
echo "image checks passed per tool chain:${summary%,}"
total=$((passed + failed))
[ "$total" -gt 0 ] || { echo "no test ran"; echo "0 passed, 1 failed"; exit 1; }
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
