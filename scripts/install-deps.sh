#!/usr/bin/env bash
# Installs the Debian packages the project builds and tests with, when missing.
set -euo pipefail

# "main": only what building split-run and the module needs (the example
# job); anything else: also the tests, benchmarks and fuzz targets.
packages=(
  cmake ninja-build g++ pkg-config
  libpugixml-dev libeigen3-dev libcli11-dev
  # ISA-L's igzip inflates gzip input.
  libisal-dev
  # The reference host's container store; the hashes of split-run's manifest.
  libsqlite3-dev libxxhash-dev
  # MPI for split-run build --engine mpi (the build works without it).
  openmpi-bin libopenmpi-dev
)
if [ "${1:-all}" != main ]; then
  packages+=(
    clang libclang-rt-14-dev
    libgtest-dev libgmock-dev libbenchmark-dev
    # The tests write gzip files with zlib.
    zlib1g-dev
    libxml2-utils python3 locales
  )
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing missing packages: ${missing[*]}"
  if [ "$(id -u)" -ne 0 ]; then
    echo "error: installing packages needs root; run as root or install: ${missing[*]}" >&2
    exit 1
  fi
  export DEBIAN_FRONTEND=noninteractive
  # Package manager output goes to a log, shown only when something fails.
  log="$(mktemp)"
  if ! { apt-get update -qq && apt-get install -y -qq --no-install-recommends "${missing[@]}"; } >"$log" 2>&1; then
    cat "$log" >&2
    rm -f "$log"
    echo "error: installing ${missing[*]} failed (apt-get output above)" >&2
    exit 1
  fi
  rm -f "$log"
fi

# A locale with a decimal comma lets the tests check that numbers keep their
# point whatever the locale is.
if [ "${1:-all}" != main ] && command -v locale-gen >/dev/null 2>&1 && ! locale -a 2>/dev/null | grep -qi '^de_DE\.utf8$'; then
  if [ "$(id -u)" -eq 0 ] && [ -f /etc/locale.gen ]; then
    sed -i 's/^# *de_DE.UTF-8 UTF-8/de_DE.UTF-8 UTF-8/' /etc/locale.gen
    grep -q '^de_DE.UTF-8 UTF-8' /etc/locale.gen || echo 'de_DE.UTF-8 UTF-8' >> /etc/locale.gen
    locale-gen >/dev/null 2>&1 || true
  fi
fi
