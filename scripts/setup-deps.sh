#!/usr/bin/env bash
# Installs the Debian packages the tests need, when missing: GoogleTest and
# g++ for the C++ tests, Graphviz to check the e-graph drawings, and clang 16
# with its libFuzzer runtime for scripts/fuzz.sh (clang 14 lacks the builtin
# behind the standard library's source_location). Building and installing
# the module needs none of them: pip brings what it needs.
set -euo pipefail

packages=(libgtest-dev g++ graphviz)
if [[ "${KESTREL_FUZZ:-1}" == 1 ]]; then
  packages+=(clang-16 libclang-rt-16-dev)
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

if [[ $(id -u) -ne 0 ]]; then
  echo "missing packages: ${missing[*]}; run as root: apt-get install -y ${missing[*]}" >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq "${missing[@]}" >/dev/null
