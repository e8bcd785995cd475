# Front door to the CMake builds, each described by a preset in
# CMakePresets.json (build/<preset>).
#   make demo      build krelt and convert the sample image in examples/
#   make test      build and run every test suite this machine can run
#   make win32     build the 32-bit Windows program, build/win32/krelt.exe
#   make fuzz      run every fuzz target for FUZZ_SECONDS (default 60) each
#   make sanitize  the unit, fault and end-to-end suites under ASan and UBSan
#   make bench     krelt against cp: times, memory, system calls
#   make package   a Debian package of both programs and their man pages
HOST := build/host
export CMAKE_BUILD_PARALLEL_LEVEL ?= $(shell nproc 2>/dev/null || echo 2)
export CTEST_PARALLEL_LEVEL ?= $(CMAKE_BUILD_PARALLEL_LEVEL)

define need
	@command -v $(1) > /dev/null 2>&1 || \
	  { echo "krelt: '$(1)' is missing: apt-get install $(2)" >&2; exit 1; }
endef

.PHONY: host demo test win32 win64 fuzz sanitize bench package clean

host:
	$(call need,cmake,cmake)
	$(call need,g++,g++)
	@cmake --preset host > /dev/null
	@cmake --build --preset programs

demo: host
	@mkdir -p build/demo
	@echo "== examples/sample.bim, header bytes and fields"
	@od -A x -t x1 -N 36 examples/sample.bim
	@$(HOST)/krelt-info --heap 64k examples/sample.bim | tr -d '\r'
	$(HOST)/krelt examples/sample.bim build/demo/sample.v 64k 1m
	@echo "== build/demo/sample.v, header bytes and fields"
	@od -A x -t x1 -N 36 build/demo/sample.v
	@$(HOST)/krelt-info build/demo/sample.v | tr -d '\r'
	@cmp -i 36 examples/sample.bim build/demo/sample.v && \
	  echo "== body after byte 36 unchanged; $$(wc -c < build/demo/sample.v) bytes"

test:
	@tools/run_tests

fuzz:
	@tools/run_fuzz

bench:
	@bench/run

package: host
	$(call need,cpack,cmake)
	@cpack --preset deb > /dev/null
	@ls -l $(HOST)/krelt_*.deb

sanitize:
	$(call need,cmake,cmake)
	@cmake --workflow --preset asan

win32 win64:
	$(call need,cmake,cmake)
	@cmake --workflow --preset $@ > /dev/null
	@ls -l build/$@/krelt.exe

clean:
	rm -rf build
