#!/usr/bin/env bash
# `bazel test` on 1,000 generated script tests in ten libraries with shard_count = 4,
# offline, in a scratch copy of examples/bazel: four shards whose reports hold disjoint
# quarters and together every test, one failing test failing its shard and the target,
# and --test_filter narrowing the run. Prints its figures.
#   bazel-shards.sh SOURCE_DIR STAGE_DIR
set -euo pipefail
src=$1
stage=$2
if ! command -v bazel >/dev/null; then
  echo "bazel is not installed (Debian package bazel-bootstrap); skipped"
  exit 77
fi
scratch=$(mktemp -d)
# Bazel leaves its output tree read-only.
trap 'chmod -R u+w "$scratch" 2>/dev/null; rm -rf "$scratch"' EXIT
cp -r "$src/examples/bazel" "$scratch/ws"
ln -s "$stage" "$scratch/ws/wexel"
mkdir "$scratch/ws/gen"
for l in 0 1 2 3 4 5 6 7 8 9; do
  {
    for s in 0 1 2 3; do
      echo "suite('S$s', function()"
      for t in $(seq $((l * 100 + s * 25)) $((l * 100 + s * 25 + 24))); do
        if [ "$t" = 742 ]; then
          echo "  test('t$t', function() check_equals(1, 2) end)"
        else
          echo "  test('t$t', function() end)"
        fi
      done
      echo "end)"
    done
  } > "$scratch/ws/gen/Gen$l.qlx"
done
cat > "$scratch/ws/gen/BUILD.bazel" <<'BUILD'
load("@wexel//bazel:wexel.bzl", "wexel_test")

wexel_test(
    name = "thousand",
    libraries = glob(["*.qlx"]),
    shard_count = 4,
)
BUILD

cd "$scratch/ws"
# --batch: no server stays behind; the output root is this test's own, and no rc file
# of the user changes what runs.
bz() { bazel --batch --nohome_rc --output_user_root="$scratch/root" "$@"; }
problems=0
complain() { echo "bazel-shards: $1"; problems=1; }

started=$(date +%s.%N)
set +e
bz test //gen:thousand --noshow_progress >"$scratch/full.log" 2>&1
rc=$?
set -e
ended=$(date +%s.%N)
[ $rc -eq 3 ] || complain "bazel test exited $rc, not 3 (tests failed)"
grep -q "//gen:thousand .*FAILED in 1 out of 4" "$scratch/full.log" || complain "the target did not fail in 1 of 4 shards"

logs=bazel-testlogs/gen/thousand
all=""
counts=""
for shard in 1 2 3 4; do
  xml=$logs/shard_${shard}_of_4/test.xml
  if [ ! -f "$xml" ]; then
    complain "no report for shard $shard"
    continue
  fi
  xmllint --noout "$xml" || complain "shard $shard: report not well-formed"
  names=$(xmllint --xpath '//testcase/@name' "$xml" | tr ' ' '\n' | sed -n 's/^name="\(.*\)"$/\1/p')
  counts="$counts $(printf '%s\n' "$names" | grep -c .)"
  all="$all$names"$'\n'
  failures=$(xmllint --xpath 'count(//failure)' "$xml")
  if printf '%s\n' "$names" | grep -qx t742; then
    [ "$failures" = 1 ] || complain "shard $shard holds t742 but $failures failures"
  else
    [ "$failures" = 0 ] || complain "shard $shard: $failures failures"
  fi
done
total=$(printf '%s' "$all" | grep -c .)
distinct=$(printf '%s' "$all" | grep . | sort -u | wc -l)
[ "$total" = 1000 ] && [ "$distinct" = 1000 ] || complain "$total test cases, $distinct distinct, not 1000"
[ "$(echo $counts)" = "250 250 250 250" ] || complain "tests per shard:$counts"

set +e
bz test //gen:thousand --test_filter='Gen3/*' --noshow_progress >"$scratch/filter.log" 2>&1
filtered_rc=$?
set -e
filtered_done=$(date +%s.%N)
[ $filtered_rc -eq 0 ] || complain "the filtered run exited $filtered_rc"
filtered=0
for shard in 1 2 3 4; do
  n=$(xmllint --xpath 'count(//testcase)' "$logs/shard_${shard}_of_4/test.xml" 2>/dev/null || echo 0)
  filtered=$((filtered + n))
done
[ "$filtered" = 100 ] || complain "--test_filter=Gen3/* ran $filtered tests, not 100"

printf 'bazel-shards: 4 shards, tests per shard:%s, together %s distinct; %.1f s for the run, %.1f s for the filtered run (%s tests)\n' \
  "$counts" "$distinct" "$(awk "BEGIN{print $ended - $started}")" "$(awk "BEGIN{print $filtered_done - $ended}")" "$filtered"
if [ $problems -ne 0 ]; then
  echo "--- bazel's output of the full run"
  tail -40 "$scratch/full.log"
fi
exit $problems
