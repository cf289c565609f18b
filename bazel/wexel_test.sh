#!/bin/sh
# One shard of a wexel_test: wexel_test.sh HOST MASK LIBRARY...
# HOST is the installation's wexel-host in the runfiles. The runner finds USER and SYSTEM
# beside the folder its libraries are loaded from, so the shard gets a scratch
# installation of its own: the host copied (its $ORIGIN is its real folder), the
# libraries beside it linked, SYSTEM and Wexel.qlx linked, and the test libraries in USER.
set -eu
host=$1
mask=$2
shift 2
install=$(cd "$(dirname "$host")/.." && pwd)
scratch=${TEST_TMPDIR:?wexel_test.sh runs under bazel test}/wexel
rm -rf "$scratch"
mkdir -p "$scratch/EXE" "$scratch/USER" "$scratch/work"
cp "$install/EXE/wexel-host" "$scratch/EXE/"
for lib in "$install"/EXE/*.so; do
  ln -s "$lib" "$scratch/EXE/"
done
ln -s "$install/SYSTEM" "$scratch/SYSTEM"
ln -s "$install/USER/Wexel.qlx" "$scratch/USER/Wexel.qlx"
for library in "$@"; do
  ln -s "$PWD/$library" "$scratch/USER/"
done
# bazel test --test_filter=GLOB arrives as TESTBRIDGE_TEST_ONLY, which the runner takes as
# a filter over the tests' full paths.
cd "$scratch/work"
# The report goes to XML_OUTPUT_FILE, which Bazel sets; exec, so that its signals reach
# the runner itself.
exec "$scratch/EXE/wexel-host" --mode=xml_junit "$mask"
