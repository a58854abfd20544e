# Front door. Each target first installs the Debian packages it needs
# (scripts/install-deps.sh GROUP...).
JOBS ?= $(shell nproc)
CMAKE ?= cmake
DEPS = bash scripts/install-deps.sh
export JOBS
# No "Entering directory" lines from the makes that cmake --build starts.
MAKEFLAGS += --no-print-directory

.PHONY: all deps native asan mipsel tap test test-native test-asan demo clean fuzz coverage bench install dist

all: native

# Every package any target needs.
deps:
	@$(DEPS) base cross test fuzz coverage bench

native:
	@$(DEPS) base
	$(CMAKE) --preset native >/dev/null
	$(CMAKE) --build build/native -j $(JOBS)

asan:
	@$(DEPS) base
	$(CMAKE) --preset asan >/dev/null
	$(CMAKE) --build build/asan -j $(JOBS)

# quarrow.tap for the recorder, the mipsel tapsim and its qemu sysroot, in build/mipsel.
mipsel:
	@$(DEPS) base cross
	$(CMAKE) --preset mipsel >/dev/null
	$(CMAKE) --build build/mipsel -j $(JOBS)

tap: mipsel
	@ls -l build/mipsel/quarrow.tap

# The mipsel, native and asan builds with their output in logs, every test in both PC
# builds, and one summary at the end (scripts/test.sh).
TEST_DEPS = base cross test fuzz
test:
	@$(DEPS) $(TEST_DEPS)
	@bash scripts/test.sh native asan

test-native:
	@$(DEPS) $(TEST_DEPS)
	@bash scripts/test.sh native

test-asan:
	@$(DEPS) $(TEST_DEPS)
	@bash scripts/test.sh asan

# A recovery from start to end in the simulated recorder, with the PC tool's plan (see README).
demo:
	@$(DEPS) base
	@$(CMAKE) --preset native >/dev/null
	@echo "building tapsim and quarrow.so (log: build/native/demo-build.log)"
	@$(CMAKE) --build build/native -j $(JOBS) --target tapsim quarrow_module libtap quarrow-db \
		>build/native/demo-build.log 2>&1 || { cat build/native/demo-build.log; exit 1; }
	@bash scripts/demo.sh build/native

# The PC tools (quarrow-db, tapsim with quarrow.so), the manual page and the README under
# PREFIX, by CMake's install rules; quarrow.tap too when the recorder build has made it.
PREFIX ?= /usr/local
INSTALL_TARGETS = quarrow-db tapsim libtap quarrow_module
install:
	@$(DEPS) base
	$(CMAKE) --preset native -DCMAKE_INSTALL_PREFIX="$(abspath $(PREFIX))" >/dev/null
	$(CMAKE) --build build/native -j $(JOBS) --target $(INSTALL_TARGETS)
	$(CMAKE) --install build/native --strip

# The release archive (CPack): quarrow.tap, the PC tools for this machine, the README, the
# manual page and a SHA256SUMS inside, in build/native/dist.
dist:
	@$(DEPS) base cross
	$(CMAKE) --preset mipsel >/dev/null
	$(CMAKE) --build build/mipsel -j $(JOBS) --target quarrow_module
	$(CMAKE) --preset native >/dev/null
	$(CMAKE) --build build/native -j $(JOBS) --target $(INSTALL_TARGETS)
	cd build/native && cpack
	@ls -l build/native/dist/*.tar.gz

# Each fuzzer (clang, libFuzzer with ASan and UBSan) for FUZZ_SECONDS over its committed
# corpus in tests/fuzz/corpus; new inputs go to build/fuzz/found, crashes to build/fuzz/crashes.
FUZZ_SECONDS ?= 60
FUZZ_TARGETS = ini recdb stringdb text font
fuzz:
	@$(DEPS) base fuzz
	$(CMAKE) -S tests/fuzz -B build/fuzz -DCMAKE_CXX_COMPILER=clang++ >/dev/null
	$(CMAKE) --build build/fuzz -j 2
	@mkdir -p build/fuzz/crashes
	@for t in $(FUZZ_TARGETS); do \
	  mkdir -p build/fuzz/found/$$t; \
	  echo "== fuzz_$$t for $(FUZZ_SECONDS) s"; \
	  if build/fuzz/fuzz_$$t -max_total_time=$(FUZZ_SECONDS) -timeout=20 -rss_limit_mb=2048 -print_final_stats=1 \
	      -artifact_prefix=build/fuzz/crashes/$$t- build/fuzz/found/$$t tests/fuzz/corpus/$$t >build/fuzz/fuzz_$$t.log 2>&1; then \
	    grep -E '^(Done|stat::number_of_executed_units|stat::peak_rss_mb)' build/fuzz/fuzz_$$t.log; \
	  else tail -n 40 build/fuzz/fuzz_$$t.log; echo "fuzz_$$t found a fault: see build/fuzz/crashes"; exit 1; fi; \
	done

# Line and branch coverage of app/, lib/ and host/ by the tests (gcov build in build/coverage).
coverage:
	@$(DEPS) base coverage test
	@bash scripts/coverage.sh

# The module against a floor module that makes only the calls the work needs, natively
# and under qemu-mipsel (bench/run.sh; README "Benchmark"). Not part of make test.
bench:
	@$(DEPS) base cross bench
	$(CMAKE) --preset native >/dev/null
	$(CMAKE) --build build/native -j $(JOBS) --target quarrow_module tapsim quarrow_floor
	$(CMAKE) --preset mipsel >/dev/null
	$(CMAKE) --build build/mipsel -j $(JOBS) --target quarrow_module tapsim quarrow_floor quarrow_sysroot
	@bash bench/run.sh

clean:
	rm -rf build
