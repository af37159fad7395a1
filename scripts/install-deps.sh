#!/usr/bin/env bash
# Installs every package the referee needs to build, run and test.
# Idempotent; run as root on a fresh Debian 12 machine.
set -euo pipefail
export DEBIAN_FRONTEND=noninteractive
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends \
    build-essential cmake pkg-config \
    libbox2d-dev \
    libprotobuf-dev protobuf-compiler python3-protobuf \
    libpng-dev zlib1g-dev \
    freeglut3-dev libgl1-mesa-dev libglu1-mesa-dev libx11-dev \
    libgtest-dev libgmock-dev googletest libbenchmark-dev \
    xvfb x11-utils xdotool \
    clang libclang-rt-14-dev \
    python3 >/dev/null
