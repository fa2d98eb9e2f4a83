# Dorvanel: `make` builds build/Dorvanel.DLL, `make test` runs every test,
# `make demo` shows the DLL at work. Each installs what it needs first.

.PHONY: all build test demo bootstrap clean format

all: build

bootstrap:
	@tools/bootstrap.sh

build: bootstrap
	@tools/build.sh dll

test: bootstrap
	@tools/run-tests.sh

demo: bootstrap
	@tools/demo.sh

format:
	@clang-format -i $$(git ls-files '*.cpp' '*.h')

clean:
	@WINEPREFIX=$(CURDIR)/build/wineprefix wineserver -k 2>/dev/null || true
	rm -rf build
