# Wraps the CMake presets. Every target installs what the machine lacks first.
.PHONY: deps demo test test-native test-win32 sanitize clean

deps:
	@tools/install-deps.sh

# Builds the module file for Linux and the one users install: build/win32/library/QUORB_REC_M.sem.
demo: deps
	cmake --preset native
	cmake --build --preset native
	cmake --preset win32
	cmake --build --preset win32
	@echo "Built build/native/library/QUORB_REC_M.so and build/win32/library/QUORB_REC_M.sem."

# Every test, on Linux and on 32-bit Windows under Wine.
test: deps
	$(MAKE) --no-print-directory test-native test-win32

test-native:
	cmake --preset native
	cmake --build --preset native
	ctest --preset native

test-win32:
	cmake --preset win32
	cmake --build --preset win32
	ctest --preset win32

# The native tests under AddressSanitizer and UndefinedBehaviorSanitizer.
sanitize: deps
	cmake --preset sanitize
	cmake --build --preset sanitize
	ctest --preset sanitize

clean:
	rm -rf build
