# Two commands do everything, each running set-up first (it installs what is
# missing and skips what is there):
#   make run    set-up, build, then the road of one event in dispatch order on
#               the reference platform's image, on to GRUB and Linux, then the
#               option-ROM road, all on our QEMU with the virtual controller
#               (-device tavrix-display): PASS/FAIL per check, screenshots and
#               logs in out/platform/, out/os/, out/device/
#               (make run-window: the same with QEMU windows; needs a display)
#   make test   set-up, build, then every test tier; last line "N passed, M failed"
#
# Finer targets: setup, build (firmware DEBUG+RELEASE with GCC5 and RELEASE
# with CLANGDWARF, option ROMs unsigned and test-key signed), build-all
# (DEBUG+RELEASE with each of GCC5, CLANG38 and CLANGDWARF), build-host-tests,
# os-image (the OS road's boot disk from Debian's packages, cached),
# format, format-check, clean.
#
# The reference platform (TavrixRefPlatformPkg, docs/INTEGRATION.md section 12):
#   make build-platform  its OVMF-derived firmware image, DEBUG and RELEASE
#                        (about 3 minutes of two cores the first time, cached),
#                        and its Secure Boot variant, DEBUG
#                        (Build/TavrixRefPlatformSecureBoot/; its road is
#                        scripts/roads/qemu-secure-boot.sh, run by make test)
#   make run-platform    boots its images (DEBUG graphics, text and text at
#                        errors only; RELEASE) and checks the road
#   make run-os          from the firmware to Linux: Debian's GRUB through the
#                        GOP's four modes, then Linux's efifb, on the DEBUG
#                        image and with the RELEASE ROM on Debian's OVMF
#                        (scripts/roads/qemu-os.sh; out/os/)
#
# The kit (README "The kit", docs/DEVELOPMENT.md section 4):
#   make dist               the versioned archive a board maker receives, in
#                           Build/Dist/ (builds first); its README is
#                           docs/KIT-README.md
#   make integration-check  stock OVMF brought up from that archive and the
#                           guide's own lines (sections 13 and 14.1), booted
#                           on our QEMU with the card: behind the root port
#                           (DEBUG, RELEASE), without early video, on the root
#                           bus, and as an enforcing Secure Boot board
#                           (out/integration/; full OVMF builds the first
#                           time, not in make test)
#
# Evidence (docs/PERFORMANCE.md, docs/RELIABILITY.md):
#   make bench-sizes  RELEASE image sizes beside EDK II's QemuVideoDxe
#   make bench-blt    GOP Blt instructions beside EDK II's FrameBufferBltLib
#   make bench-draw   early drawing instructions beside a plain store loop
#   make bench-blt-firmware  Blt and SetMode time in the firmware: ours on the
#                     virtual device beside OVMF's QEMU video driver under
#                     -icount, on Debian's OVMF (before) and on the reference
#                     platform with its faster PCI I/O path (after)
#   make bench-boot   boot time per driver and console output with EDK II's dp,
#                     ours beside OVMF's QEMU video driver (the reference
#                     platform's performance variant, under -icount)
#   make bench        the five benchmarks above
#   make reliability  the reliability sweeps at full size (make test runs them small)
#
# The virtual device (TavrixDevPkg/DeviceModel/README.md):
#   make fuzz    its core under libFuzzer and the QEMU device (an
#                AddressSanitizer build, made here only) under a random
#                hostile guest, FUZZ_SECONDS (default 600) each

SHELL := /bin/bash
# clang-format lays out our C++ (.cpp and the headers C++ includes). The
# reference platform and the QEMU device are C in EDK II's and QEMU's own
# styles, so their files are left alone.
FORMAT_FILES = $(shell git ls-files '*.cpp' '*.h' | grep -v -e '^TavrixRefPlatformPkg/' -e '^TavrixDevPkg/DeviceModel/[^/]*/[^/]*\.[ch]$$')

.PHONY: all setup build build-all build-host-tests test run run-window format format-check clean
.PHONY: build-platform os-image run-platform run-os
.PHONY: dist integration-check
.PHONY: bench bench-sizes bench-blt bench-draw bench-blt-firmware bench-boot build-bench build-platform-perf reliability fuzz

all: build

# Set-up runs once per make invocation: every target that builds depends on
# it, and the scripts it starts read the EDK II path it wrote
# (scripts/lib/edk2-path.sh) instead of running set-up again.
export TAVRIX_SETUP_FILE := $(CURDIR)/Build/setup-edk2-path
setup:
	@mkdir -p Build
	@bash -o pipefail -c 'TAVRIX_SETUP_QUIET=1 bash scripts/build/setup.sh | tail -n 1 >"$$0.tmp" && mv "$$0.tmp" "$$0"' \
	  $(TAVRIX_SETUP_FILE)

# GCC5 for both targets, and the shipped RELEASE flavour with a clang tool
# chain too, so that every `make test` proves a second compiler and linker
# (lld) on the product (about 30 s more on a cold tree).
build: setup
	@bash scripts/build/build.sh DEBUG RELEASE
	@TOOL_CHAINS=CLANGDWARF bash scripts/build/build.sh RELEASE

build-all: setup
	@TOOL_CHAINS="GCC5 CLANG38 CLANGDWARF" bash scripts/build/build.sh DEBUG RELEASE

build-host-tests: setup
	@bash scripts/build/build-host-tests.sh

build-platform: setup
	@bash scripts/build/build-platform.sh DEBUG RELEASE
	@PLATFORM_VARIANT=SecureBoot bash scripts/build/build-platform.sh DEBUG

# The OS road's boot disk, made from Debian's packages and cached (the road
# only looks it up).
os-image: setup
	@bash scripts/build/os-image.sh >/dev/null

run-platform: build build-platform
	@bash scripts/roads/qemu-platform.sh

run-os: build build-platform os-image
	@bash scripts/roads/qemu-os.sh

dist: build
	@bash scripts/kit/dist.sh

integration-check: dist
	@bash scripts/kit/integration-check.sh

test: build build-host-tests build-platform os-image
	@bash scripts/checks/run-tests.sh

# On a fresh machine the set-up's QEMU build and the platform image are the
# long parts (about 2½ and 3 minutes of two cores); both are cached.
run: build build-platform os-image
	@bash scripts/roads/run.sh

run-window: build build-platform os-image
	@dpkg-query -W -f='$${Status}' qemu-system-gui 2>/dev/null | grep -q 'install ok installed' || \
	  { echo "[run] installing qemu-system-gui for the QEMU window"; $$([ "$$(id -u)" = 0 ] || echo sudo) apt-get install -y -qq qemu-system-gui >/dev/null; }
	@ROAD_DISPLAY=gtk bash scripts/roads/run.sh

format:
	@clang-format -i $(FORMAT_FILES)

format-check:
	@clang-format --dry-run --Werror $(FORMAT_FILES) && echo "format: clean"

clean:
	rm -rf Build out

bench-sizes: setup
	@bash scripts/bench/bench-sizes.sh

# The benches' builds are make's, like every other build: the studies only
# measure (bench-sizes' own builds are what it studies).
build-bench: setup
	@bash -c '. scripts/lib/edk2-env.sh && . scripts/lib/bench-lib.sh && bench_build'

build-platform-perf: setup
	@PLATFORM_VARIANT=Performance bash scripts/build/build-platform.sh RELEASE

bench-blt: build-bench
	@bash scripts/bench/bench-blt.sh

bench-draw: build-bench
	@bash scripts/bench/bench-draw.sh

bench-blt-firmware: build build-platform
	@bash scripts/bench/bench-blt-firmware.sh

bench-boot: build build-platform-perf
	@bash scripts/bench/bench-boot.sh

# All five even when one misses a target; fails if any did.
bench: build build-bench build-platform build-platform-perf
	@rc=0; for study in sizes blt draw blt-firmware boot; do bash scripts/bench/bench-$$study.sh || rc=1; done; exit $$rc

reliability: setup
	@bash scripts/checks/reliability.sh

fuzz: setup
	@bash scripts/checks/fuzz-device.sh long
