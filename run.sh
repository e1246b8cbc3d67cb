#!/usr/bin/env bash
# Builds Quillon ID and starts the recorder with the simulated camera. Needs nothing but bash on
# a Debian 12 machine: it first installs what is missing (make, cmake, the compiler and the
# libraries of scripts/packages.txt), then runs `make run`. Run it as root (or with sudo rights).
set -euo pipefail
cd "$(dirname "$0")"
bash scripts/setup.sh
exec make run "$@"
