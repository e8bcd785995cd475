# Front door to the CMake builds, each described by a preset in
# CMakePresets.json (build/<preset>).
#   make demo      build krelt and convert the sample image in examples/
#   make test      build and run every test suite this machine can run
#   make win32     build the 32-bit Windows program, build/win32/krelt.exe
#   make cross     static Linux programs for aarch64, i686 and s390x
#   make fuzz      run every fuzz target for FUZZ_SECONDS (default 60) each
#   make sanitize  the unit, fault and end-to-end suites under ASan and UBSan
#   make bench     krelt against cp: times, memory, system calls
#   make package   a Debian package of both programs and their man pages,
#                  and one for each cross build the compilers can make
HOST := build/host
CROSS := linux-aarch64 linux-i686 linux-s390x
# Debian's cross compiler of each cross build
compiler_linux-aarch64 := aarch64-linux-gnu-g++
compiler_linux-i686 := i686-linux-gnu-g++
compiler_linux-s390x := s390x-linux-gnu-g++
export CMAKE_BUILD_PARALLEL_LEVEL ?= $(shell nproc 2>/dev/null || echo 2)
export CTEST_PARALLEL_LEVEL ?= $(CMAKE_BUILD_PARALLEL_LEVEL)

define need
	@command -v $(1) > /dev/null 2>&1 || \
	  { echo "krelt: '$(1)' is missing: apt-get install $(2)" >&2; exit 1; }
endef

.PHONY: host demo test win32 win64 cross $(CROSS) fuzz sanitize bench \
        package clean

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
	@$(foreach p,$(CROSS),\
	  if command -v $(compiler_$(p)) > /dev/null 2>&1; then \
	    cmake --workflow --preset $(p) > /dev/null && \
	    cpack --preset $(p) > /dev/null || exit 1; \
	  else \
	    echo "skipped $(p): no $(compiler_$(p)) (apt-get install g++-$(patsubst %-g++,%,$(compiler_$(p))))"; \
	  fi;)
	@ls -l $(HOST)/krelt_*.deb build/linux-*/krelt_*.deb 2>/dev/null

sanitize:
	$(call need,cmake,cmake)
	@cmake --workflow --preset asan

win32 win64:
	$(call need,cmake,cmake)
	@cmake --workflow --preset $@ > /dev/null
	@ls -l build/$@/krelt.exe

cross: $(CROSS)

$(CROSS):
	$(call need,$(compiler_$@),g++-$(patsubst %-g++,%,$(compiler_$@)))
	@cmake --workflow --preset $@ > /dev/null
	@ls -l build/$@/krelt build/$@/krelt-info

clean:
	rm -rf build
