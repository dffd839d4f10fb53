# The two commands of the README: `make run` and `make test`. Everything else is a step of those two.
BUILD ?= build
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?= -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
FUZZ_SECONDS ?= 60

.PHONY: run test package deps-run deps-test build check sanitize fuzz bench format

# Installs what is needed, builds the program and opens its window on the example score.
run: deps-run
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS) -DNAGISORA_BUILD_TESTS=OFF -DNAGISORA_BUILD_BENCH=OFF
	cmake --build $(BUILD) -j $(JOBS) --target nagisora
	$(BUILD)/src/app/nagisora

# Installs what is needed, builds everything and runs every test: the plain build, the build with
# AddressSanitizer and UndefinedBehaviorSanitizer, and a short fuzzing run.
test: deps-test check sanitize fuzz

# Builds the Debian package nagisora_VERSION_ARCH.deb into this folder: `apt-get install ./nagisora_*.deb`.
package: deps-run
	cmake -S . -B $(BUILD)-package $(CMAKE_FLAGS) -DCMAKE_INSTALL_PREFIX=/usr -DNAGISORA_BUILD_TESTS=OFF \
	    -DNAGISORA_BUILD_BENCH=OFF
	cmake --build $(BUILD)-package -j $(JOBS)
	cd $(BUILD)-package && cpack -G DEB
	cp $(BUILD)-package/nagisora_*.deb .

deps-run:
	tools/install-deps.sh run

deps-test:
	tools/install-deps.sh test

build:
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS) -DNAGISORA_BUILD_TESTS=ON -DNAGISORA_BUILD_BENCH=ON
	cmake --build $(BUILD) -j $(JOBS)

check: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

sanitize:
	cmake -S . -B $(BUILD)-sanitize -G Ninja -DCMAKE_BUILD_TYPE=Debug -DNAGISORA_SANITIZE=ON \
	    -DNAGISORA_BUILD_BENCH=OFF
	cmake --build $(BUILD)-sanitize -j $(JOBS)
	ctest --test-dir $(BUILD)-sanitize --output-on-failure -j $(JOBS)

fuzz:
	CXX=clang++ cmake -S . -B $(BUILD)-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DNAGISORA_BUILD_FUZZ=ON \
	    -DNAGISORA_BUILD_GUI=OFF -DNAGISORA_BUILD_TESTS=OFF -DNAGISORA_BUILD_BENCH=OFF
	cmake --build $(BUILD)-fuzz -j $(JOBS) --target convert_fuzz
	rm -rf $(BUILD)-fuzz/corpus && mkdir -p $(BUILD)-fuzz/corpus && cp examples/*.txt $(BUILD)-fuzz/corpus/
	$(BUILD)-fuzz/fuzz/convert_fuzz -max_total_time=$(FUZZ_SECONDS) -max_len=8192 $(BUILD)-fuzz/corpus

bench: build
	$(BUILD)/bench/conversion_bench --benchmark_repetitions=5 --benchmark_report_aggregates_only=true

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i
