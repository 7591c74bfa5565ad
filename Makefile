# Two commands do everything, each running set-up first (it installs what is
# missing and skips what is there):
#   make run    set-up, build, then boot the drivers in OVMF under QEMU and report
#   make test   set-up, build, then every test tier; last line "N passed, M failed"
#
# Finer targets: setup, build (firmware DEBUG+RELEASE and option ROMs),
# build-host-tests, format, format-check, clean.
#
# Evidence (docs/PERFORMANCE.md, docs/RELIABILITY.md):
#   make bench-sizes  RELEASE image sizes beside EDK II's QemuVideoDxe

SHELL := /bin/bash
FORMAT_FILES = $(shell git ls-files '*.cpp' '*.h' | grep -v -e '^MdePkg/Override/.*\.c$$')

.PHONY: all setup build build-host-tests test run format format-check clean
.PHONY: bench-sizes

all: build

setup:
	@bash scripts/setup.sh >/dev/null

build: setup
	@bash scripts/build.sh DEBUG RELEASE

build-host-tests: setup
	@bash scripts/build-host-tests.sh

test: build build-host-tests
	@bash scripts/run-tests.sh

run: build
	@bash scripts/run.sh

format:
	@clang-format -i $(FORMAT_FILES)

format-check:
	@clang-format --dry-run --Werror $(FORMAT_FILES) && echo "format: clean"

clean:
	rm -rf Build out

bench-sizes: setup
	@bash scripts/bench-sizes.sh
