# Thin wrapper over CMake. `make run` and `make test` are the two commands of the README.
.PHONY: run test build release package deps bench bench-web fuzz coverage examples format clean web

JOBS        ?= $(shell nproc)
DEBUG_DIR   := build/debug
RELEASE_DIR := build/release
FUZZ_DIR    := build/fuzz
FUZZ_SECONDS ?= 60
SAMPLE      := examples/sample.morv3d
VIEWER      := $(RELEASE_DIR)/src/morv3dViewer/morv3dViewer

deps:
	@./scripts/install-deps

# Release build, then the viewer on the bundled sample; without a display its tree as text.
run: deps release
	@if [ -n "$$DISPLAY$$WAYLAND_DISPLAY" ]; then \
	    ./$(VIEWER) $(SAMPLE); \
	else \
	    echo "No display (neither DISPLAY nor WAYLAND_DISPLAY is set): the viewer cannot open a window."; \
	    echo "The structure it would show for $(SAMPLE), from 'morv3d tree':"; \
	    ./$(RELEASE_DIR)/tools/morv3d/morv3d tree $(SAMPLE); \
	fi

release:
	@cmake -S . -B $(RELEASE_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Release -DMORV_BUILD_TESTS=OFF >/dev/null
	@cmake --build $(RELEASE_DIR) -j $(JOBS)

# The Debian package build/release/morv3d-viewer_VERSION_ARCH.deb: only what it installs is
# built (not the benchmarks or the sample generator).
package: deps
	@cmake -S . -B $(RELEASE_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Release -DMORV_BUILD_TESTS=OFF >/dev/null
	@cmake --build $(RELEASE_DIR) -j $(JOBS) --target morv_package_contents
	@rm -f $(RELEASE_DIR)/morv3d-viewer_*.deb
	@cd $(RELEASE_DIR) && cpack -G DEB

# Debug build with AddressSanitizer and UndefinedBehaviorSanitizer, then every test; the
# package of the release tree is built too and checked among the tests.
test: deps web
	@cmake -S . -B $(DEBUG_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DMORV_SANITIZE=ON -DMORV_WERROR=ON -DMORV_BUILD_BENCH=OFF \
	    -DMORV_PACKAGE_DIR=$(CURDIR)/$(RELEASE_DIR) >/dev/null
	@cmake --build $(DEBUG_DIR) -j $(JOBS)
	@$(MAKE) --no-print-directory package
	@cd $(DEBUG_DIR) && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:intercept_tls_get_addr=0 \
	    UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 QT_QPA_PLATFORM=offscreen \
	    ctest --output-on-failure -j $(JOBS)

# The browser edition: the layers compiled to WebAssembly in build/wasm, the page written to
# build/web (a static folder, and morv3d-viewer.html on its own). Emscripten's tools need
# Debian's node modules whichever node is first on the path.
web: deps
	@NODE_PATH=/usr/share/nodejs emcmake cmake -S . -B build/wasm -G Ninja -DCMAKE_BUILD_TYPE=Release -DMORV_WERROR=ON -DMORV_WEB_OUT=$(CURDIR)/build/web >/dev/null
	@NODE_PATH=/usr/share/nodejs cmake --build build/wasm -j $(JOBS)

build: deps
	@cmake -S . -B $(DEBUG_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DMORV_SANITIZE=ON -DMORV_BUILD_BENCH=OFF >/dev/null
	@cmake --build $(DEBUG_DIR) -j $(JOBS)

# Benchmarks print each figure and its ratio against the baseline of the same run.
bench: deps release
	@./scripts/install-deps bench
	@cmake --build $(RELEASE_DIR) --target benchmarks -j $(JOBS)
	@for b in $(RELEASE_DIR)/bench/*_bench; do echo "== $$b"; $$b || exit 1; done
	@for s in bench/*.sh; do echo "== $$s"; $$s $(RELEASE_DIR) || exit 1; done

# The page against three.js in the same headless chromium (bench/web_vs_threejs/run.sh).
bench-web: deps web
	@cmake -S . -B $(RELEASE_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Release -DMORV_BUILD_TESTS=OFF >/dev/null
	@cmake --build $(RELEASE_DIR) --target bench_scene_writer morv3d -j $(JOBS)
	@bench/web_vs_threejs/run.sh $(RELEASE_DIR) build/web

# Each fuzz target runs FUZZ_SECONDS on a copy of its corpus; findings land in build/fuzz/.
fuzz: deps
	@CC=clang CXX=clang++ cmake -S . -B $(FUZZ_DIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMORV_FUZZ=ON >/dev/null
	@cmake --build $(FUZZ_DIR) -j $(JOBS)
	@for f in $(FUZZ_DIR)/fuzz/*_fuzzer; do \
	    name=$$(basename $$f); mkdir -p $(FUZZ_DIR)/corpus/$$name; \
	    echo "== $$name for $(FUZZ_SECONDS) s"; \
	    $$f -max_total_time=$(FUZZ_SECONDS) -print_final_stats=1 -artifact_prefix=$(FUZZ_DIR)/ \
	        $(FUZZ_DIR)/corpus/$$name fuzz/corpus/$$name || exit 1; \
	done

# Every test program under clang's source-based coverage; the report covers src/ and tools/.
coverage: deps
	@./scripts/coverage build/coverage

# Writes the sample files of examples/ anew (a test checks that they match the generator).
examples: release
	./$(RELEASE_DIR)/tools/examples/morv_examples examples

format:
	@find src tools tests bench fuzz \( -path tests/data -o -path tests/node_modules -o -path tests/web/node_modules \) -prune -o \( -name '*.cpp' -o -name '*.h' \) -print | xargs clang-format -i

clean:
	rm -rf build
