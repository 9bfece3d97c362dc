# The project's commands; each installs what is missing first.
.PHONY: build test test-debian13 test-setup demo package screenshots bench clean

build:
	bash scripts/build.sh

test:
	bash scripts/run-tests.sh

# A clean clone's make test in a Debian 13 root (root only; downloads about 1 GB).
test-debian13:
	bash scripts/test-debian13.sh

# setup.sh installs a missing package while one source's index cannot be
# fetched (root and network; installs and removes the package hello).
test-setup:
	bash scripts/test-setup.sh

demo:
	bash scripts/demo.sh

package:
	bash scripts/package.sh

screenshots:
	bash scripts/screenshots.sh

bench:
	bash scripts/bench.sh

clean:
	rm -rf build
