# Front door. `make test` and `make demo` install what they need first.
JOBS ?= $(shell nproc)
CMAKE ?= cmake

.PHONY: all deps native asan mipsel tap test test-native test-asan demo clean

all: native

deps:
	@bash scripts/install-deps.sh

native: deps
	$(CMAKE) --preset native >/dev/null
	$(CMAKE) --build build/native -j $(JOBS)

asan: deps
	$(CMAKE) --preset asan >/dev/null
	$(CMAKE) --build build/asan -j $(JOBS)

mipsel: deps
	$(CMAKE) --preset mipsel >/dev/null
	$(CMAKE) --build build/mipsel -j $(JOBS)

tap: mipsel

test-native: native
	cd build/native && ctest -j $(JOBS) --output-on-failure

test-asan: asan
	cd build/asan && ctest -j $(JOBS) --output-on-failure

test: deps native asan
	@cd build/native && ctest -j $(JOBS) --output-on-failure -Q || { cd build/native && ctest --rerun-failed --output-on-failure; exit 1; }
	cd build/asan && ctest -j $(JOBS) --output-on-failure

clean:
	rm -rf build
