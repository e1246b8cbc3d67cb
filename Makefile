# Quillon ID: the two set-up commands are `make run` and `make test`.
BUILD_DIR ?= build
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=RelWithDebInfo

.PHONY: run test setup build bench deb asan tsan coverage fuzz soak clean

setup:
	@bash scripts/setup.sh

$(BUILD_DIR)/CMakeCache.txt: | setup
	cmake -S . -B $(BUILD_DIR) $(CMAKE_FLAGS)

build: setup $(BUILD_DIR)/CMakeCache.txt
	cmake --build $(BUILD_DIR) -j $(JOBS)

# Starts the recorder with the simulated camera; without a display it runs offscreen.
run: build
	cd $(BUILD_DIR) && if [ -z "$$DISPLAY" ]; then export QT_QPA_PLATFORM=offscreen; fi; ./quillon-id --camera sim

test: build
	cd $(BUILD_DIR) && ctest --output-on-failure -j $(JOBS)

bench: build
	cd $(BUILD_DIR) && for b in bench/bench_*; do [ -x "$$b" ] && "$$b"; done

# A Debian package of the programs: build/quillon-id_VERSION_ARCH.deb.
deb: build
	cd $(BUILD_DIR) && cpack -G DEB

# Sanitizer builds in their own folders: ASan+UBSan for everything, TSan for the threaded tests.
asan: setup
	cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DQUILLON_ASAN=ON
	cmake --build build-asan -j $(JOBS)
	cd build-asan && ctest --output-on-failure -j $(JOBS)

tsan: setup
	cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=Debug -DQUILLON_TSAN=ON
	cmake --build build-tsan -j $(JOBS)
	cd build-tsan && ctest --output-on-failure -j $(JOBS) -L threaded

# Line coverage of src/ by the whole test suite (gcovr), from an unoptimised build in build-cov.
# The summary is printed and kept in build-cov/coverage.txt.
coverage: setup
	cmake -S . -B build-cov -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS=--coverage \
		-DCMAKE_EXE_LINKER_FLAGS=--coverage -DCMAKE_SHARED_LINKER_FLAGS=--coverage
	cmake --build build-cov -j $(JOBS)
	find build-cov -name '*.gcda' -delete
	-cd build-cov && ctest --output-on-failure -j $(JOBS)
	gcovr --root . --filter 'src/' --object-directory build-cov \
		--print-summary --txt build-cov/coverage.txt | tail -3

# libFuzzer targets, built with clang in their own folder; each runs FUZZ_SECONDS (fuzz/run.sh).
FUZZ_SECONDS ?= 60
fuzz: setup
	cmake -S fuzz -B build-fuzz -DCMAKE_CXX_COMPILER=clang++-14
	cmake --build build-fuzz -j $(JOBS)
	FUZZ_SECONDS=$(FUZZ_SECONDS) fuzz/run.sh

# A long race day against the real program with a scripted host (scripts/soak.py).
SOAK_MINUTES ?= 30
soak: build
	python3 scripts/soak.py --build $(BUILD_DIR) --minutes $(SOAK_MINUTES)

clean:
	rm -rf $(BUILD_DIR) build-asan build-tsan build-cov build-fuzz
