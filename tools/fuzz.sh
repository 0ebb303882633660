#!/usr/bin/env bash
# Builds every fuzz target (each <folder>/tests/fuzz/*_fuzz.cpp) with clang as a libFuzzer binary
# under AddressSanitizer and UndefinedBehaviorSanitizer, then runs them.
#
#   tools/fuzz.sh                    build, then run each target for 60 s, two at a time
#   tools/fuzz.sh --time 600 osc     a longer run of the targets whose name holds "osc"
#   tools/fuzz.sh --replay           only replay each checked-in corpus through the clang build
#   tools/fuzz.sh --merge            after the runs, add the inputs that found new coverage to
#                                    the checked-in corpora (minimised), for a commit
#
# Each run starts from the target's checked-in corpus (tests/fuzz/corpus/<target>/) and keeps
# what it finds under build/fuzz/found/<target>/; a crash, leak, time-out or failed property
# leaves its input in build/fuzz/crashes/<target>/ and makes the script exit non-zero. The test
# command replays the checked-in corpora on every run (native tier), so a fixed fault stays fixed.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

seconds=60
parallel=2
mode=run
merge=0
filters=()
while [ $# -gt 0 ]; do
  case "$1" in
    --time) seconds=$2; shift 2 ;;
    --jobs) parallel=$2; shift 2 ;;
    --replay) mode=replay; shift ;;
    --merge) merge=1; shift ;;
    -h|--help) sed -n '2,14p' "$0"; exit 0 ;;
    *) filters+=("$1"); shift ;;
  esac
done

have() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }
need=()
for p in clang-14 libclang-rt-14-dev cmake ninja-build googletest openssl; do have "$p" || need+=("$p"); done
if [ ${#need[@]} -gt 0 ]; then
  echo "fuzz: installing ${need[*]}"
  SUDO=""; [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${need[@]}" >/dev/null || exit 2
fi

build=$root/build/fuzz
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 \
  -DKS_SANITIZE=address,undefined -DKS_FUZZ=ON >/dev/null || { echo "fuzz: configure failed"; exit 2; }
cmake --build "$build" --target ks_fuzz_all -j "${KS_JOBS:-3}" || { echo "fuzz: build failed"; exit 2; }

# fuzz_<component>_<stem> and the folder of its checked-in corpus.
targets=()
while IFS= read -r f; do
  stem=$(basename "$f" .cpp)
  folder=$(dirname "$(dirname "$(dirname "$f")")")  # <folder>/tests/fuzz/x.cpp
  name="${folder//\//_}_$stem"
  if [ ${#filters[@]} -gt 0 ]; then
    hit=0
    for w in "${filters[@]}"; do [[ "$name" == *"$w"* ]] && hit=1; done
    [ $hit -eq 1 ] || continue
  fi
  targets+=("$name|$folder/tests/fuzz/corpus/$stem")
done < <(find . -path ./build -prune -o -path '*/tests/fuzz/*_fuzz.cpp' -print | sed 's|^\./||' | sort)
[ ${#targets[@]} -gt 0 ] || { echo "fuzz: no target matches"; exit 2; }

mkdir -p "$build/logs"
one() {  # <name> <corpus>
  local name=$1 corpus=$2 bin=$build/fuzzers/fuzz_$1
  local found=$build/found/$name crashes=$build/crashes/$name log=$build/logs/$name.log
  mkdir -p "$found" "$crashes"
  if [ "$mode" = replay ]; then
    "$bin" -runs=0 "$corpus" >"$log" 2>&1
  else
    "$bin" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
      -artifact_prefix="$crashes/" "$found" "$corpus" >"$log" 2>&1
  fi
  local rc=$?
  local what
  if [ "$mode" = replay ]; then
    what="$(find "$corpus" -type f | wc -l) inputs replayed"
  else
    what="$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1) executions in ${seconds} s"
  fi
  if [ $rc -eq 0 ]; then
    printf '%-44s ok   %s\n' "$name" "$what"
  else
    printf '%-44s FAIL (exit %d) - see %s\n' "$name" "$rc" "$log"
  fi
  return $rc
}

failed=0
running=0
pids=()
for t in "${targets[@]}"; do
  one "${t%%|*}" "${t#*|}" &
  pids+=($!)
  running=$((running + 1))
  if [ $running -ge "$parallel" ]; then
    wait -n || failed=$((failed + 1))
    running=$((running - 1))
  fi
done
while [ $running -gt 0 ]; do
  wait -n || failed=$((failed + 1))
  running=$((running - 1))
done

if [ $merge -eq 1 ] && [ "$mode" = run ] && [ $failed -eq 0 ]; then
  for t in "${targets[@]}"; do
    name=${t%%|*} corpus=${t#*|}
    "$build/fuzzers/fuzz_$name" -merge=1 "$corpus" "$build/found/$name" >"$build/logs/$name.merge.log" 2>&1 \
      && echo "$name: corpus now $(ls "$corpus" | wc -l) files"
  done
fi

echo "fuzz: ${#targets[@]} targets, $failed failed"
[ $failed -eq 0 ]
