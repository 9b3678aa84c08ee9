# Wraps the CMake presets. demo, picture, test, dist, sanitize and the benchmarks install what
# the machine lacks first (tools/install-deps.sh); the test-* targets only build and run.
.PHONY: deps demo picture test test-native test-sanitize test-fuzz test-win32 sanitize clean dist dist-build \
        test-dist

deps:
	@tools/install-deps.sh

# Builds use every core of the machine the make runs on; the presets name no job count.
export CMAKE_BUILD_PARALLEL_LEVEL ?= $(shell nproc 2>/dev/null || echo 2)
# The Python with mido, found as CMake finds it (cmake/python.cmake): the first python3 on PATH
# that imports mido.
PYTHON = $(shell for p in $$(which -a python3); do $$p -c 'import mido' 2>/dev/null && echo $$p && break; done)

NATIVE_TOOLS := build/native/tools
DEMO := build/demo

# Builds what it runs and what users install (build/win32/library/QUORB_REC_M.sem): the module
# for both targets, quorb and quorb-host natively; records the shipped phrase through the module
# with one pause, shows the recording and turns it back into a MIDI file.
demo: deps
	cmake --preset native
	cmake --build --preset native --target QUORB_REC_M quorb quorb-host
	cmake --preset win32
	cmake --build --preset win32 --target QUORB_REC_M
	@mkdir -p $(DEMO) && rm -f $(DEMO)/demo.quorb $(DEMO)/demo.mid
	$(NATIVE_TOOLS)/stand_in_host/quorb-host record tools/demo/phrase.mid $(DEMO)/demo.quorb --pause 2-3
	$(NATIVE_TOOLS)/quorb/quorb dump $(DEMO)/demo.quorb --rate 44100
	$(NATIVE_TOOLS)/quorb/quorb tomidi $(DEMO)/demo.quorb $(DEMO)/demo.mid --rate 44100
	@echo "Built build/win32/library/QUORB_REC_M.sem (and build/native/library/QUORB_REC_M.so);"
	@echo "recorded $(DEMO)/demo.quorb and wrote $(DEMO)/demo.mid."

# The README's pictures, rendered by rsvg-convert from the <svg> element of quorb view's page,
# which stands on lines of its own: docs/demo-take.png, the demo phrase recorded twice into one
# file through the module, the first take with a pause and then cut by a full disk (the first 3
# bytes of a record, as a torn write leaves them); docs/grid-take.png, the phrase once, with the
# beats and bar lines its grid puts in the MIDI file.
picture: deps
	cmake --preset native
	cmake --build --preset native --target QUORB_REC_M quorb quorb-host
	@mkdir -p $(DEMO) docs && rm -f $(DEMO)/evening.quorb $(DEMO)/evening.html
	$(NATIVE_TOOLS)/stand_in_host/quorb-host record tools/demo/phrase.mid $(DEMO)/evening.quorb --pause 2-3
	tail -c 8 $(DEMO)/evening.quorb | head -c 3 >> $(DEMO)/evening.quorb
	$(NATIVE_TOOLS)/stand_in_host/quorb-host record tools/demo/phrase.mid $(DEMO)/evening.quorb
	$(NATIVE_TOOLS)/quorb/quorb view $(DEMO)/evening.quorb $(DEMO)/evening.html --rate 44100
	sed -n '/^<svg /,/^<\/svg>$$/p' $(DEMO)/evening.html > $(DEMO)/evening.svg
	rsvg-convert $(DEMO)/evening.svg -o docs/demo-take.png
	rm -f $(DEMO)/phrase.quorb $(DEMO)/phrase.html
	$(NATIVE_TOOLS)/stand_in_host/quorb-host record tools/demo/phrase.mid $(DEMO)/phrase.quorb
	$(NATIVE_TOOLS)/quorb/quorb view $(DEMO)/phrase.quorb $(DEMO)/phrase.html --rate 44100
	sed -n '/^<svg /,/^<\/svg>$$/p' $(DEMO)/phrase.html > $(DEMO)/phrase.svg
	rsvg-convert $(DEMO)/phrase.svg -o docs/grid-take.png

# Every test: on Linux (the end-to-end suite also under valgrind), again under AddressSanitizer
# and UndefinedBehaviorSanitizer, a minute of fuzzing, on 32-bit Windows under Wine, and the
# release archive.
test: deps
	$(MAKE) --no-print-directory test-native test-sanitize test-fuzz test-win32 test-dist

test-native:
	cmake --preset native
	cmake --build --preset native
	ctest --preset native

# A minute of fuzzing (clang, libFuzzer, ASan + UBSan) from the shipped seeds: half of it the
# contract fuzzer, a quarter each the readers of users' files.
test-fuzz:
	cmake --preset fuzz
	cmake --build --preset fuzz
	ctest --preset fuzz

test-win32:
	cmake --preset win32
	cmake --build --preset win32
	ctest --preset win32

# The archive for Windows users, build/dist/quorb-recorder-VERSION-win32.zip: the module file and
# the tools built for release (preset win32-release: no tests, stripped, reproducible), README.txt,
# LICENSE and SHA256SUMS.
dist: deps
	$(MAKE) --no-print-directory dist-build

dist-build:
	cmake --preset win32-release
	cmake --build --preset win32-release

# The archive used as a Windows user would, under Wine, and built again from a copy of the
# tracked files in another folder: both archives must be equal byte for byte.
test-dist: dist-build
	$(PYTHON) release/check_release.py

# The native tests under AddressSanitizer and UndefinedBehaviorSanitizer.
sanitize: deps
	$(MAKE) --no-print-directory test-sanitize

test-sanitize:
	cmake --preset sanitize
	cmake --build --preset sanitize
	ctest --preset sanitize

# What the module costs the audio thread: quorb_bench (its own timing loop, the same program on
# both targets) natively, then built for 32-bit Windows and run under Wine; the instructions per
# message under callgrind. Recordings go to a temporary folder.
BENCH_ARGS ?= --repetitions 15
CALLGRIND_MESSAGES ?= 100000

.PHONY: bench bench-win32 bench-callgrind bench-tools bench-grid
bench: deps
	cmake --preset native
	cmake --build --preset native --target quorb_bench
	build/native/bench/quorb_bench $(BENCH_ARGS)

bench-win32: deps
	cmake --preset win32
	cmake --build --preset win32 --target quorb_bench
	cmake/wine-run.sh build/win32/wine build/win32/bench/quorb_bench.exe $(BENCH_ARGS); \
	  status=$$?; cmake/wine-run.sh build/win32/wine --stop; exit $$status

bench-callgrind: deps
	cmake --preset native
	cmake --build --preset native --target quorb_bench_callgrind
	@for what in module floor naive blockstore; do \
	  out=$$(mktemp) && \
	  valgrind --tool=callgrind --collect-atstart=no --toggle-collect=quorb_capture \
	    --callgrind-out-file=$$out build/native/bench/quorb_bench_callgrind $$what $(CALLGRIND_MESSAGES) \
	    2>/dev/null && \
	  ir=$$(callgrind_annotate $$out 2>/dev/null | awk '/PROGRAM TOTALS/ { gsub(",", "", $$1); print $$1 }') && \
	  rm -f $$out && \
	  echo "$$what: $$ir instructions for $(CALLGRIND_MESSAGES) messages," \
	       "$$(( ir / $(CALLGRIND_MESSAGES) )) per message"; \
	done

# How the quorb command scales: peak memory and time of info, dump and tomidi on recordings of
# 0.5, 1 and 2 million records (the goal: at most 64 bytes per record, time linear); tomidi on
# an hour of 200,000 notes, natively and as the Windows build under Wine (the grid within 2 s);
# quorb view on an hour of 100,000 notes (the goal: under 100 bytes of picture a note) and
# rsvg-convert rendering its drawing.
bench-tools: deps
	cmake --preset native
	cmake --build --preset native --target quorb
	cmake --preset win32
	cmake --build --preset win32 --target quorb
	$(PYTHON) bench/tools_scaling.py build/native/tools/quorb/quorb \
	  --windows build/win32/tools/quorb/quorb.exe --wine-run cmake/wine-run.sh \
	  --wine-state build/win32/wine

# How well the grid finder finds beats and bar lines (synthetic takes with known grids, and the
# human performances in GRID_DEV when that folder exists: development data, never in the
# repository) and how long it takes on an hour of playing.
GRID_DEV ?= ../shared/grid-dev

bench-grid: deps
	cmake --preset native
	cmake --build --preset native --target quorb quorb-host make_grid_takes quorb_grid_bench
	$(PYTHON) bench/grid_dev.py --quorb build/native/tools/quorb/quorb \
	  --host build/native/tools/stand_in_host/quorb-host \
	  --maker build/native/tests/tools/make_grid_takes --performances $(GRID_DEV) \
	  --work build/native/bench/grid-dev
	build/native/bench/quorb_grid_bench $(GRID_DEV)

clean:
	rm -rf build
