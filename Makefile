# Front door. `make test` and `make demo` install what they need first.
JOBS ?= $(shell nproc)
CMAKE ?= cmake

.PHONY: all deps native asan mipsel tap tap-if-possible test test-native test-asan demo clean

all: native

deps:
	@bash scripts/install-deps.sh

native: deps
	$(CMAKE) --preset native >/dev/null
	$(CMAKE) --build build/native -j $(JOBS)

asan: deps
	$(CMAKE) --preset asan >/dev/null
	$(CMAKE) --build build/asan -j $(JOBS)

# quarrow.tap for the recorder, the mipsel tapsim and its qemu sysroot, in build/mipsel.
mipsel: deps
	$(CMAKE) --preset mipsel >/dev/null
	$(CMAKE) --build build/mipsel -j $(JOBS)

tap: mipsel
	@ls -l build/mipsel/quarrow.tap

# The native tests check and run build/mipsel's quarrow.tap; without the cross compiler
# they skip. A failed mipsel build does not stop the other tests: its own tests report it.
tap-if-possible: deps
	@if command -v mipsel-linux-gnu-g++ >/dev/null 2>&1; then \
	  $(MAKE) --no-print-directory mipsel || echo "mipsel build failed: the tests of quarrow.tap will fail"; \
	else echo "mipsel-linux-gnu-g++ not installed: no quarrow.tap, its tests will skip"; fi

test-native: tap-if-possible native
	cd build/native && ctest -j $(JOBS) --output-on-failure

test-asan: tap-if-possible asan
	cd build/asan && ctest -j $(JOBS) --output-on-failure

test: deps tap-if-possible native asan
	@cd build/native && ctest -j $(JOBS) --output-on-failure -Q || { cd build/native && ctest --rerun-failed --output-on-failure; exit 1; }
	cd build/asan && ctest -j $(JOBS) --output-on-failure

# A recovery from start to end in the simulated recorder (see README).
demo: deps
	$(CMAKE) --preset native >/dev/null
	@echo "building tapsim and quarrow.so (log: build/native/demo-build.log)"
	@$(CMAKE) --build build/native -j $(JOBS) --target tapsim quarrow_module libtap \
		>build/native/demo-build.log 2>&1 || { cat build/native/demo-build.log; exit 1; }
	@bash scripts/demo.sh build/native

clean:
	rm -rf build
