# Wraps the CMake presets. Every target installs what the machine lacks first.
.PHONY: deps demo test sanitize clean

deps:
	@tools/install-deps.sh

demo: deps
	cmake --preset native
	cmake --build --preset native
	@echo "Built build/native/library/QUORB_REC_M.so and the tests."

test: deps
	cmake --preset native
	cmake --build --preset native
	ctest --preset native

# The same tests under AddressSanitizer and UndefinedBehaviorSanitizer.
sanitize: deps
	cmake --preset sanitize
	cmake --build --preset sanitize
	ctest --preset sanitize

clean:
	rm -rf build
