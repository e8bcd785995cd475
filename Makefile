# Front door to the CMake builds, each described by a preset in
# CMakePresets.json (build/<preset>).
#   make demo      build krelt and convert the sample image in examples/
#   make test      build and run every test suite this machine can run,
#                  after installing what the core suites need
#   make test-all  the same, after installing every platform's tools
#   make NAME      the programs for one platform of cmake/platforms.txt,
#                  e.g. make win32 (build/win32/krelt.exe)
#   make NAME-msvc the Windows programs of one with clang-cl and lld-link,
#                  e.g. make win32-msvc (build/win32-msvc/krelt.exe)
#   make cross     the static Linux programs for every other processor
#   make fuzz      run every fuzz target for FUZZ_SECONDS (default 60) each
#   make sanitize  the unit, fault and end-to-end suites under ASan and UBSan
#   make bench     krelt against cp: times, memory, system calls
#   make dist      the release in build/dist: a .deb and a tarball for each
#                  Linux processor, a zip for each Windows, SHA256SUMS;
#                  then checked (lintian, each archive unpacked and run)
#                  and made twice more from copies to be byte-identical
#   make package   the same as make dist
HOST := build/host
# gmake's "Entering directory" lines, from the builds CMake runs, say
# nothing a reader needs.
MAKEFLAGS += --no-print-directory
# Each recipe line starts with this: need, platforms, the job counts.
SH := @. ./tools/common.sh &&
PLATFORMS := $(shell . ./tools/common.sh && platforms)
CROSS := $(shell . ./tools/common.sh && platforms linux-gnu)
MSVC := $(addsuffix -msvc,$(shell . ./tools/common.sh && platforms w64-mingw32))

.PHONY: host demo test test-all cross $(PLATFORMS) $(MSVC) fuzz sanitize bench dist package clean

host:
	$(SH) need cmake cmake && need g++ g++
	@echo "== building krelt and krelt-info in $(HOST)"
	$(SH) quiet cmake --preset host
	$(SH) quiet cmake --build --preset programs

demo: host
	@mkdir -p build/demo
	@echo "== examples/sample.bim, the header before"
	@od -A x -t x1 -N 36 examples/sample.bim
	$(HOST)/krelt examples/sample.bim build/demo/sample.v 64k 1m
	@echo "== build/demo/sample.v, the header after"
	@od -A x -t x1 -N 36 build/demo/sample.v
	$(HOST)/krelt-info build/demo/sample.v
	@cmp -i 36 examples/sample.bim build/demo/sample.v && \
	  echo "== body after byte 36 unchanged; $$(wc -c < build/demo/sample.v) bytes"

test:
	@tools/run_tests

test-all:
	@KRELT_ALL_PACKAGES=1 tools/run_tests

fuzz:
	@tools/run_fuzz

bench:
	@tools/packages install bench
	@bench/run

dist:
	@tools/packages install dist
	@tools/dist
	@tests/package/check_dist.sh build/dist
	@tests/package/reproducible.sh .

package: dist

sanitize:
	$(SH) need cmake cmake
	$(SH) cmake --workflow --preset asan

cross: $(CROSS)

$(PLATFORMS):
	$(SH) need cmake cmake && need_compiler $@
	$(SH) cmake --workflow --preset $@ > /dev/null
	@cd build/$@ && ls -l $$(ls krelt krelt-info krelt.exe krelt-info.exe 2>/dev/null)

# The toolchain file names any tool that is missing.
$(MSVC):
	$(SH) need cmake cmake && quiet cmake --workflow --preset $@
	@cd build/$@ && ls -l krelt.exe krelt-info.exe

clean:
	rm -rf build
