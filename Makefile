# The two commands: `make run` and `make test`. Both install what is missing first.
.PHONY: all bootstrap native windows test test-native test-windows run package bench fuzz format clean

all: native windows

bootstrap:
	@scripts/bootstrap.sh

native: bootstrap
	cmake --preset native >/dev/null
	cmake --build --preset native

windows: bootstrap
	cmake --preset windows >/dev/null
	cmake --build --preset windows

test-native: native
	ctest --preset native

test-windows: windows
	scripts/test-windows.sh

# Native first, so the last line is the Windows run's summary.
test: test-native test-windows

# Only what running needs, so a broken test cannot stop the program from starting.
run: bootstrap
	cmake --preset windows >/dev/null
	cmake --build --preset windows --target brisvander mailstore_com_dll mailstore
	scripts/run.sh

# The Windows installer and zip, into build/package.
package: bootstrap
	cmake --preset windows >/dev/null
	cmake --build --preset windows --target brisvander mailstore_com_dll mailstore
	scripts/package.sh build/windows build/package

bench: bootstrap
	scripts/bench.sh

# Every fuzz target for ten million executions from its corpus (hours in all;
# `make test` runs each for seconds). FUZZ_RUNS changes the count.
FUZZ_RUNS ?= 10000000
fuzz: bootstrap
	fuzz/run-fuzz.sh build/fuzz 0 $(FUZZ_RUNS)

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf build
