#!/usr/bin/env bash
# Builds Quillon ID and runs every test. Needs nothing but bash on a Debian 12 machine: it first
# installs what is missing (make, cmake, the compiler and the libraries of scripts/packages.txt),
# then runs `make test`. Run it as root (or as a user who may use sudo).
set -euo pipefail
cd "$(dirname "$0")"
bash scripts/setup.sh
exec make test "$@"
