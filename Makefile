# Wraps the CMake presets. `make demo` and `make test` install what the machine lacks first.
.PHONY: deps configure build demo test clean

deps:
	@tools/install-deps.sh

configure: deps
	cmake --preset native

build: configure
	cmake --build --preset native

demo: build
	@echo "Built build/native/library/QUORB_REC_M.so and the tests."

test: build
	ctest --preset native

clean:
	rm -rf build
