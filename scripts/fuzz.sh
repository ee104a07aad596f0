#!/usr/bin/env bash
# Builds the libFuzzer targets of fuzz/ with clang into build/fuzz and runs
# them two at a time (the machine has two cores), each for the given number
# of seconds (default 20; the phase-polynomial target four times that):
#
#   qasm_fuzz        one wire through saturation at small limits, against
#                    its 4x4 unitary; its report and drawing as explain gives
#   normal_form_fuzz one wire through the normal form, against its unitary
#   pattern_fuzz     pattern text through the readers, compaction, the
#                    pattern compiler and the matching machine
#   per_qubit_fuzz, per_qubit_normal_form_fuzz, rotation_merging_fuzz
#                    whole programs through the per-qubit mode with each
#                    method and through rotation merging, against a
#                    state-vector simulation on up to six qubits
#   phase_polynomial_fuzz
#                    whole programs through the phase-polynomial method,
#                    against the same simulation; with two extra qubits for
#                    Hadamard gadgets, the program's state given back
#                    whatever the measurements of the extra qubits give
#   gate_list_fuzz   programs given as gate lists through every method,
#                    against the same simulation
#
# Each starts from the inputs kept in fuzz/corpus/<target> (those of an
# hour's run that reached new code, merged with -merge=1 and cut to 2 KiB,
# but for the few that declare 10,000 bits or more, which rotation merging
# takes seconds and gigabytes over: about 1.4 MB in all; for phase_polynomial,
# 27 programs of at most four qubits on which its Hadamard gadgets pay (three
# written by hand, gadget_region_* drawn as tests/python/test_phase_polynomial.py
# draws them) and the inputs of two minutes' run, merged the same way; for
# rotation_merging besides, u3_with_quarter_turns, a false finding's input)
# and in build/fuzz/corpus/<target>, where it keeps the inputs that reach new code,
# with seeds from examples/ (the examples, and the QASMBench and T-count
# programs, the gzipped ones unpacked), copied at run time. It ends with one line
# per target: inputs run, inputs per second, new coverage, findings. A
# crash, a broken invariant, a leak or an input that runs longer than a
# minute stops that target and fails the script (the lines are also kept in
# build/fuzz/summary.txt); the input is saved under
# build/fuzz/artifacts/<target>/ and the target's log is printed. Needs cmake
# (3.26 or newer) and ninja on PATH, as scripts/test.sh sets them up.
#
#   bash scripts/fuzz.sh [seconds per target]
#   bash scripts/fuzz.sh --share <seconds in all, shared out among the targets>
set -euo pipefail
cd "$(dirname "$0")/.."

# Line tables only (-g1): the reports name files and lines, and the build
# takes far less time than with full debug information. scripts/test.sh
# configures the same build and also runs the C++ tests built in it.
CXX=clang++-16 cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG" -DKESTREL_FUZZ=ON >/dev/null
cmake --build build/fuzz -j 2 --target fuzz_targets

# The seeds: the example programs and the real programs beside them.
seeds=build/fuzz/seeds/programs
rm -rf "$seeds" && mkdir -p "$seeds"
# Folders may hold files of the same name (qft_4.qasm in angles/ and tcount/):
# each seed is named after its folder too.
cp examples/*.qasm "$seeds"/
for example in examples/*/*.qasm; do
  folder=$(basename "$(dirname "$example")")
  cp "$example" "$seeds/${folder}_$(basename "$example")"
done
for packed in examples/*/*.qasm.gz; do
  gzip -dc "$packed" >"$seeds/$(basename "${packed%.gz}")"
done

# A gate list: width 3, five operations (t, cx, t, a boundary, tdg; the
# codes of src/program/library.h), then their qubits.
mkdir -p build/fuzz/seeds/gate_list
printf '\x03\x05\x11\x06\x11\x00\x12\x00\x01\x00\x00\x02\x00\x02\x00' \
  >build/fuzz/seeds/gate_list/t_cx_t

# target dictionary (- for none) seeds max_len scheduler: what each target is given. The
# one-wire saturation target reads only its first 160 bytes (fuzz/qasm_fuzz.cpp). The
# phase-polynomial target runs with libFuzzer's plain scheduler (-entropic=0): its
# inputs reach about 46,000 features, and the entropic scheduler's bookkeeping of
# their frequencies took half of its time (13,000-14,000 inputs in 20 s with it off
# against about 4,700 with it on, on the same corpus and machine).
targets=(
  "qasm qasm $seeds 160 1"
  "normal_form qasm $seeds 4096 1"
  "pattern pattern fuzz/seeds/pattern 4096 1"
  "per_qubit program $seeds 4096 1"
  "per_qubit_normal_form program $seeds 4096 1"
  "rotation_merging program $seeds 4096 1"
  "phase_polynomial program $seeds 4096 0"
  "gate_list - build/fuzz/seeds/gate_list 1024 1"
)
if [[ "${1:-}" == --share ]]; then
  seconds=$(( $2 / (${#targets[@]} + 3) ))  # the phase-polynomial target's four shares
else
  seconds=${1:-20}
fi

# run <target> <dictionary> <seeds> <max_len> <entropic>: the target's run, its log in
# build/fuzz/<target>.log. The memory limit is above libFuzzer's 2 GB: under
# AddressSanitizer the resident memory of a long run creeps up (its
# allocator's quarantine and caches). One allocation may take 4.5 GiB:
# rotation merging takes up to 4 GiB for a program's Pauli products (a
# 124-byte text declaring 82,604 qubits asks 3.4 GB) and refuses more.
run() {
  local target=$1 dict=${2#-} seed_dir=$3 max_len=$4 entropic=$5
  local kept="fuzz/corpus/$target"
  local time=$seconds
  # The phase-polynomial target takes about 50 s under the sanitizers to
  # run its kept inputs once (its searches for the fewest cx gates cost
  # most there), so it runs four times as long, to fuzz past them.
  [[ $target == phase_polynomial ]] && time=$(( 4 * seconds ))
  mkdir -p "build/fuzz/corpus/$target" "build/fuzz/artifacts/$target"
  [[ -d "$kept" ]] || kept=
  "build/fuzz/fuzz/${target}_fuzz" -max_total_time="$time" -timeout=60 -rss_limit_mb=8192 -malloc_limit_mb=4608 \
    -max_len="$max_len" -entropic="$entropic" ${dict:+-dict=fuzz/$dict.dict} -artifact_prefix="build/fuzz/artifacts/$target/" \
    -print_final_stats=1 "build/fuzz/corpus/$target" $kept "$seed_dir" \
    >"build/fuzz/$target.log" 2>&1
}

# summary <target> <status>: the target's line from its log.
summary() {
  local target=$1 status=$2 log="build/fuzz/$1.log"
  local runs first last added findings
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  added=$(sed -n 's/^stat::new_units_added: *//p' "$log")
  first=$(grep -m1 -o 'INITED cov: [0-9]*' "$log" | grep -o '[0-9]*$' || true)
  last=$(grep -o 'cov: [0-9]*' "$log" | tail -n 1 | grep -o '[0-9]*$' || true)
  findings=$([[ $status == 0 ]] && echo 0 || echo 1)
  local time=$seconds
  [[ $target == phase_polynomial ]] && time=$(( 4 * seconds ))
  printf '%-26s %9s inputs in %4s s, %6s inputs/s, new coverage %s edges (%s -> %s) in %s new inputs, findings %s\n' \
    "${target}_fuzz" "${runs:-?}" "$time" "$(( ${runs:-0} / time ))" \
    "$(( ${last:-0} - ${first:-0} ))" "${first:-?}" "${last:-?}" "${added:-?}" "$findings"
}

status=0
lines=()
for ((k = 0; k < ${#targets[@]}; k += 2)); do
  pids=()
  names=()
  for spec in "${targets[@]:k:2}"; do
    read -r target dict seed_dir max_len entropic <<<"$spec"
    run "$target" "$dict" "$seed_dir" "$max_len" "$entropic" &
    pids+=($!)
    names+=("$target")
  done
  for i in "${!pids[@]}"; do
    target=${names[$i]}
    if wait "${pids[$i]}"; then
      lines+=("$(summary "$target" 0)")
    else
      status=1
      lines+=("$(summary "$target" 1)")
      echo "${target}_fuzz FAILED; the input is in build/fuzz/artifacts/$target/" >&2
      tail -n 80 "build/fuzz/$target.log" >&2
    fi
  done
done
printf '%s\n' "${lines[@]}" | tee build/fuzz/summary.txt
exit "$status"
