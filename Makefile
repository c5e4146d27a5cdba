# The two commands of the README, and the pieces they are made of.
.PHONY: demo fleet-demo test check-includes deps deps-win32 deps-package package test-package native sanitize tsan win32 test-native test-sanitize test-tsan test-win32 fuzz clean

JOBS ?= $(shell nproc)

# Builds only the command, so a first demo does not wait for the test suites.
demo: deps
	cmake --preset native >/dev/null
	cmake --build --preset native -j $(JOBS) --target quorlan
	./build/native/tools/cli/quorlan demo

# A broker, a PostgreSQL, head office and two stand-in stations on this
# machine (docs/fleet.md); fills appear at head office.
fleet-demo: deps
	cmake --preset native >/dev/null
	cmake --build --preset native -j $(JOBS) --target quorlan-hq quorlan-fleet-demo-station
	scripts/fleet-demo.sh

test: deps-package check-includes test-native test-sanitize test-tsan test-win32 test-package

# The station's includes against the folder table of docs/architecture.md,
# and the check itself against faults planted in a copy of the tree.
check-includes:
	scripts/check-includes.py
	scripts/check-includes-test.sh

deps:
	scripts/install-deps.sh native

deps-win32:
	scripts/install-deps.sh win32

deps-package:
	scripts/install-deps.sh package

native:
	cmake --preset native >/dev/null
	cmake --build --preset native -j $(JOBS)

sanitize:
	cmake --preset sanitize >/dev/null
	cmake --build --preset sanitize -j $(JOBS)

tsan:
	cmake --preset tsan >/dev/null
	cmake --build --preset tsan -j $(JOBS)

test-native: native
	ctest --preset native -j $(JOBS)

test-sanitize: sanitize
	ctest --preset sanitize -j $(JOBS)

test-tsan: tsan
	ctest --preset tsan -j $(JOBS) -L concurrency

test-win32:
	cmake --preset win32 >/dev/null
	cmake --build --preset win32 -j $(JOBS)
	ctest --preset win32 -j $(JOBS)

# The Debian packages (Release, with Debian's hardening flags, from the
# project's one version) and the host authors' zip of Quorlan.dll.
package: export SOURCE_DATE_EPOCH ?= $(shell git log -1 --format=%ct)
package: deps-package
	DEB_BUILD_MAINT_OPTIONS=hardening=+all; export DEB_BUILD_MAINT_OPTIONS; \
	CXXFLAGS="$$(dpkg-buildflags --get CPPFLAGS) $$(dpkg-buildflags --get CXXFLAGS)" \
	LDFLAGS="$$(dpkg-buildflags --get LDFLAGS)" cmake --preset package >/dev/null
	cmake --build --preset package -j $(JOBS)
	cd build/package && cpack -G DEB >/dev/null
	cmake --preset win32 >/dev/null
	cmake --build --preset win32 -j $(JOBS) --target bundle
	@ls -1 build/package/dist/*.deb build/win32/dist/*.zip

# Installs and runs what `package` made, as a station and a host author would.
test-package: package
	scripts/check-package.sh

# Runs every libFuzzer harness for FUZZ_SECONDS (clang); not part of `test`,
# which replays the committed corpus instead.
FUZZ_SECONDS ?= 60
fuzz: deps
	fuzz/run.sh $(FUZZ_SECONDS)

clean:
	rm -rf build
