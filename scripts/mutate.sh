#!/usr/bin/env bash
# The mutation check: does some test fail for each fault of a list of
# realistic one-line faults (scripts/mutations.txt)? Kept out of CI: a full
# run rebuilds and tests once per fault and takes the better part of an hour.
#
#   scripts/mutate.sh [--list|--check] [--no-baseline] [--file LIST] [NAME|GLOB ...]
#
# --list shows the faults, --check only tells whether each one's line is found.
# With names (shell patterns, e.g. 'engine-*') only those faults run.
# The working tree is never changed: the tree (with uncommitted changes) is
# copied to build/mutate/src, each fault is applied there alone and undone
# after its run (also when the script is interrupted), and only the targets
# its tests run are rebuilt, for x86_64 only, the build the tests run. The copy
# has its own build, Wine prefix and services in build/mutate/build; do not
# run scripts/test.sh of the same tree meanwhile (they share the screen).
# First the unmutated tests of the chosen faults must pass (--no-baseline
# skips that). Per fault: caught (and which tests failed), NOT CAUGHT (with the
# list's reason when it names one), build failed, or not applied (its line was
# not found once). Results go to build/mutate/results.txt as well.
# MUTATE_TIMEOUT (seconds per test, default 200) bounds a fault that hangs.
# Exit: 0 when at least 90 % of the faults run were caught and every fault
# applied and built; 1 otherwise; 2 for a bad list or a failing baseline.
#
# The list: blocks of "key: value" lines, a blank line between blocks, "#"
# starts a comment line. Keys: name, file, from (a piece of one line, found
# exactly once, or first after the line holding "after"), to (its faulty
# replacement, may be empty), tests (the CTest regex of the tests that should
# catch it), after (optional), why (optional: why the fault is harmless).
set -euo pipefail
{  # read whole before it runs: editing the script meanwhile cannot change a run
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/.." && pwd)
list="$root/scripts/mutations.txt"
baseline=1
only_list=0
patterns=()
while [ $# -gt 0 ]; do
  case "$1" in
    --list) only_list=1 ;;
    --check) only_list=2 ;;
    --no-baseline) baseline=0 ;;
    --file) list=$2; shift ;;
    -h|--help) sed -n '2,/^set -euo/p' "$0" | sed '$d; s/^# \{0,1\}//'; exit 0 ;;
    -*) echo "mutate: unknown option $1" >&2; exit 2 ;;
    *) patterns+=("$1") ;;
  esac
  shift
done

# ---------------------------------------------------------------- the list
names=() files=() froms=() tos=() tests=() afters=() whys=()
add_fault() {
  [ -z "${f_name:-}" ] && return 0
  if [ -z "${f_file:-}" ] || [ -z "${f_from:-}" ] || [ -z "${f_tests:-}" ] || [ "${f_has_to:-0}" != 1 ]; then
    echo "mutate: fault '$f_name' needs file, from, to and tests" >&2; exit 2
  fi
  local n
  for n in "${names[@]}"; do [ "$n" = "$f_name" ] && { echo "mutate: fault '$f_name' twice" >&2; exit 2; }; done
  names+=("$f_name"); files+=("$f_file"); froms+=("$f_from"); tos+=("$f_to")
  tests+=("$f_tests"); afters+=("${f_after:-}"); whys+=("${f_why:-}")
}
reset_fault() { f_name="" f_file="" f_from="" f_to="" f_tests="" f_after="" f_why="" f_has_to=0; }
reset_fault
while IFS= read -r line || [ -n "$line" ]; do
  case "$line" in
    '#'*) ;;
    '') add_fault; reset_fault ;;
    name:*) f_name=${line#name:}; f_name=${f_name# } ;;
    file:*) f_file=${line#file:}; f_file=${f_file# } ;;
    from:*) f_from=${line#from:}; f_from=${f_from# } ;;
    to:*) f_to=${line#to:}; f_to=${f_to# }; f_has_to=1 ;;
    tests:*) f_tests=${line#tests:}; f_tests=${f_tests# } ;;
    after:*) f_after=${line#after:}; f_after=${f_after# } ;;
    why:*) f_why=${line#why:}; f_why=${f_why# } ;;
    *) echo "mutate: cannot read this line of $list: $line" >&2; exit 2 ;;
  esac
done < "$list"
add_fault

# Prints the file with fault i in it; 1 when its line is not found once
# (or, with "after", not at all after the anchor's line).
mutate_text() {
  FROM=${froms[$1]} TO=${tos[$1]} AFTER=${afters[$1]} awk '
    BEGIN { from = ENVIRON["FROM"]; to = ENVIRON["TO"]; after = ENVIRON["AFTER"]; armed = after == "" }
    {
      if (!armed) { if (index($0, after)) armed = 1; print; next }
      at = index($0, from)
      if (at && (after == "" || !done)) {
        hits++
        if (!done) { $0 = substr($0, 1, at - 1) to substr($0, at + length(from)); done = 1 }
      }
      print
    }
    END { exit (after == "" ? hits == 1 : done) ? 0 : 1 }' "$2"
}

chosen=()
for i in "${!names[@]}"; do
  if [ ${#patterns[@]} -eq 0 ]; then chosen+=("$i"); continue; fi
  for p in "${patterns[@]}"; do
    # shellcheck disable=SC2053  # the pattern is a glob on purpose
    if [[ ${names[$i]} == $p ]]; then chosen+=("$i"); break; fi
  done
done
if [ ${#chosen[@]} -eq 0 ]; then echo "mutate: no fault matches ${patterns[*]}" >&2; exit 2; fi
if [ "$only_list" = 1 ]; then
  for i in "${chosen[@]}"; do printf '%-28s %-36s %s\n' "${names[$i]}" "${files[$i]}" "${tests[$i]}"; done
  exit 0
fi
if [ "$only_list" = 2 ]; then
  bad=0
  for i in "${chosen[@]}"; do
    if [ -f "$root/${files[$i]}" ] && mutate_text "$i" "$root/${files[$i]}" >/dev/null; then continue; fi
    echo "${names[$i]}: its line is not in ${files[$i]} once"; bad=1
  done
  echo "mutate: ${#chosen[@]} faults checked"
  exit $bad
fi

# ---------------------------------------------------------------- the scratch copy
work="$root/build/mutate"
src="$work/src"
export HW_BUILD="$work/build"
bin="$HW_BUILD/x86_64"
logs="$work/logs"
results="$work/results.txt"
mkdir -p "$src" "$HW_BUILD" "$logs"

# Copies what git knows of (tracked and untracked, not ignored) into the
# scratch tree, only files whose content differs, so a second run rebuilds
# only what changed; files gone from the tree go from the copy too.
sync_copy() {
  local wanted="$work/files.txt" f
  (cd "$root" && git ls-files -co --exclude-standard | sort -u) > "$wanted"
  while IFS= read -r f; do
    [ -f "$root/$f" ] || continue
    if ! cmp -s "$root/$f" "$src/$f"; then
      mkdir -p "$(dirname "$src/$f")"
      cp "$root/$f" "$src/$f"
    fi
  done < "$wanted"
  (cd "$src" && find . -type f | sed 's|^\./||' | sort) | comm -23 - "$wanted" |
    while IFS= read -r f; do rm -f "$src/$f"; done
}

# The fault being tried: its file's original content waits in $saved.
saved="$work/original"
mutated=""
restore() {
  if [ -n "$mutated" ]; then
    cp "$saved" "$src/$mutated"  # a new time stamp: make rebuilds it
    mutated=""
  fi
}
services_up=0
finish() {
  restore
  [ "$services_up" = 1 ] && DISPLAY=":$HW_DISPLAY_NUM" "$src/scripts/services.sh" stop || true
}
trap finish EXIT
trap 'exit 130' INT TERM

# Puts the fault into its file in the copy; 1 when its line is not found once.
apply_fault() {
  local path="$src/${files[$1]}"
  [ -f "$path" ] || return 1
  cp "$path" "$saved"
  mutate_text "$1" "$saved" > "$path.mutated" || { rm -f "$path.mutated"; return 1; }
  mutated=${files[$1]}
  mv "$path.mutated" "$path"
}

# The targets the tests of a regex run: every .exe or .dll of the build that
# their commands name (their own dependencies come with them).
targets_of() {
  ctest --test-dir "$bin" -N -V -R "$1" 2>/dev/null | grep -o "$bin/[^ ]*\.\(exe\|dll\)" |
    sed 's|.*/||; s|\.[a-z]*$||' | sort -u
}

build_for() {
  local regex=$1 log=$2 t
  mapfile -t t < <(targets_of "$regex")
  if [ ${#t[@]} -eq 0 ]; then nice -n 10 cmake --build "$bin" -j"$(nproc)" >"$log" 2>&1
  else nice -n 10 cmake --build "$bin" -j"$(nproc)" --target "${t[@]}" >"$log" 2>&1; fi
}

# Runs the tests; prints the names of those that failed. 0 when all passed.
run_tests() {
  local regex=$1 log=$2 rc=0
  (cd "$bin" && nice -n 10 ctest -R "$regex" --no-tests=error --timeout "${MUTATE_TIMEOUT:-200}" \
    --output-on-failure) >"$log" 2>&1 || rc=$?
  local cases
  cases=$(awk '/^\[  FAILED  \] [A-Za-z0-9_\/]+\.[A-Za-z0-9_\/]+/ { sub(/,$/, "", $4); print $4 }' "$log" | sort -u | paste -sd' ')
  echo "$(awk '/The following tests FAILED:/ { on = 1; next } on && /^[ \t]+[0-9]+ - / { print $3 }' "$log" |
    paste -sd' ')${cases:+ ($cases)}"
  return $rc
}

echo "mutate: copying the tree to $src"
sync_copy
. "$src/scripts/env.sh"  # the copy's Wine prefix and services, as scripts/test.sh sets them
echo "mutate: configuring and building x86_64 in $bin (niced)"
# An earlier run's build is configured again, so tests added or removed since count.
if [ ! -f "$bin/CMakeCache.txt" ]; then
  nice -n 10 "$src/scripts/build.sh" x86_64 >"$logs/configure.log" 2>&1 || { echo "mutate: the unmutated build failed, see $logs/configure.log" >&2; exit 2; }
else
  cmake -S "$src" -B "$bin" >"$logs/configure.log" 2>&1 || { echo "mutate: configuring failed, see $logs/configure.log" >&2; exit 2; }
fi
# The tests of all chosen faults by name, in one group: CTest's regex takes few groups.
union=$(for i in "${chosen[@]}"; do echo "${tests[$i]}"; done | sort -u |
  while IFS= read -r regex; do ctest --test-dir "$bin" -N -R "$regex" | awk '/Test +#/ { print $3 }'; done |
  sort -u | paste -sd'|')
union="^($union)\$"
build_for "$union" "$logs/build.log" || { echo "mutate: the unmutated build failed, see $logs/build.log" >&2; exit 2; }
"$src/scripts/setup.sh"
export DISPLAY=":$HW_DISPLAY_NUM"
services_up=1
"$src/scripts/services.sh" start
if [ "$baseline" = 1 ]; then
  echo "mutate: baseline: the unmutated tests ($union)"
  if ! failed=$(run_tests "$union" "$logs/baseline.log"); then
    echo "mutate: the unmutated tests fail: ${failed:-see $logs/baseline.log}; nothing mutated" >&2
    exit 2
  fi
fi

: > "$results"
caught=0 missed=0 broken=0 unapplied=0
for i in "${chosen[@]}"; do
  name=${names[$i]}
  log="$logs/$name"
  if ! apply_fault "$i"; then
    status="NOT APPLIED (its line is not in ${files[$i]} once)"; unapplied=$((unapplied + 1))
  elif ! build_for "${tests[$i]}" "$log.build.log"; then
    status="BUILD FAILED (see $log.build.log)"; broken=$((broken + 1))
  elif failed=$(run_tests "${tests[$i]}" "$log.test.log"); then
    status="NOT CAUGHT${whys[$i]:+ (harmless: ${whys[$i]})}"; missed=$((missed + 1))
  else
    status="caught by ${failed:-the tests (see $log.test.log)}"; caught=$((caught + 1))
  fi
  restore
  printf '%-28s %s\n' "$name" "$status" | tee -a "$results"
done

ran=$((caught + missed))
percent=$(awk -v c=$caught -v r=$ran 'BEGIN { printf "%.1f", r ? 100 * c / r : 0 }')
summary="mutate: $caught caught, $missed not caught, $broken build failed, $unapplied not applied; $caught of $ran faults run caught ($percent %)"
echo "$summary" | tee -a "$results"
[ "$broken" -eq 0 ] && [ "$unapplied" -eq 0 ] && [ $((100 * caught)) -ge $((90 * ran)) ] && [ "$ran" -gt 0 ]
exit
}
