#!/usr/bin/env bash
# Installs, with apt-get, whatever of the build and test tools is missing.
set -euo pipefail
bash "$(dirname "$0")/apt-install-missing.sh" cmake ninja-build g++ clang libclang-rt-14-dev libgtest-dev \
  libgmock-dev libbenchmark-dev libboost-dev curl ca-certificates nginx systemd dpkg-dev file \
  libsqlite3-dev chromium chromium-driver python3-selenium
