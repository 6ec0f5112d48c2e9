# Thin wrapper around CMake. `make run` and `make test` do all the set-up on a fresh Debian machine.
BUILD_DIR ?= build
BUILD_TYPE ?= RelWithDebInfo
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=
# The project's own builds stop at any warning; plain CMake builds do not.
WERROR = -DQUILLET_WERROR=ON
PREFIX ?= /usr/local
DESTDIR ?=

.PHONY: all deps configure build run test install package bench sanitize sanitize-address sanitize-thread fuzz format format-check clean

all: build

deps:
	@./scripts/install-deps.sh

configure: deps
	@cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) $(WERROR) $(CMAKE_FLAGS) >/dev/null

build: configure
	@cmake --build $(BUILD_DIR) -j $(JOBS)

run: build
	@./scripts/run.sh $(BUILD_DIR)

test: build
	@cd $(BUILD_DIR) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS)

# Installs under PREFIX (the program directory is PREFIX/lib/quillet), staged under DESTDIR if given.
install: build
	@DESTDIR=$(DESTDIR) cmake --install $(BUILD_DIR) --prefix $(PREFIX)

# The Debian package, $(BUILD_DIR)/quillet_<version>_<arch>.deb; install it with
# `apt-get install ./quillet_*.deb`.
package: build
	@cd $(BUILD_DIR) && cpack -G DEB

# ASan + UBSan over the whole suite, then TSan over the job and the encoders (the threaded parts).
SAN_ENV = QT_QPA_PLATFORM=offscreen \
	ASAN_OPTIONS=detect_leaks=1:abort_on_error=0:strict_string_checks=1:detect_stack_use_after_return=1 \
	UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	LSAN_OPTIONS=suppressions=$(CURDIR)/scripts/sanitizers/lsan.supp:print_suppressions=0 \
	TSAN_OPTIONS=suppressions=$(CURDIR)/scripts/sanitizers/tsan.supp:halt_on_error=1:second_deadlock_stack=1:die_after_fork=0
TSAN_TESTS = app_tests|convert_tests|encoder_tests|format_tests|wma_tests|extract_tests|stress_tests|parallel_tests

sanitize: sanitize-address sanitize-thread

sanitize-address: deps
	@cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILLET_SANITIZE=address $(WERROR) >/dev/null
	@cmake --build build-asan -j $(JOBS)
	@cd build-asan && $(SAN_ENV) ctest --output-on-failure -j $(JOBS)

sanitize-thread: deps
	@cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILLET_SANITIZE=thread $(WERROR) >/dev/null
	@cmake --build build-tsan -j $(JOBS) --target $(subst |, ,$(TSAN_TESTS))
	@cd build-tsan && $(SAN_ENV) ctest --output-on-failure -j $(JOBS) -L '^($(TSAN_TESTS))$$'

# libFuzzer targets (clang) in build-fuzz/, each run for FUZZ_SECONDS on seeds generated there.
FUZZ_SECONDS ?= 60
fuzz:
	@./scripts/install-deps.sh fuzz
	@cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILLET_SANITIZE=fuzzer \
		-DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >/dev/null
	@cmake --build build-fuzz -j $(JOBS) --target fuzz_ini fuzz_encoders fuzz_extract
	@./scripts/fuzz.sh build-fuzz $(FUZZ_SECONDS)

bench: build
	@./bench/run.sh $(BUILD_DIR)

format:
	@git ls-files '*.cpp' '*.h' | xargs clang-format -i

format-check:
	@git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run --Werror

clean:
	@rm -rf $(BUILD_DIR)
