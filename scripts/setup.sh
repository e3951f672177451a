#!/usr/bin/env bash
# Installs what the build and the tests need on Debian 12, as root or through
# sudo. Safe to run again: it only does what is still missing.
set -euo pipefail

if [ "$(id -u)" -ne 0 ]; then
    exec sudo -E "$0" "$@"
fi
export DEBIAN_FRONTEND=noninteractive

packages=(
    cmake ninja-build pkg-config g++ g++-multilib g++-mingw-w64-i686
    clang libclang-rt-14-dev valgrind
    doctest-dev libcli11-dev nlohmann-json3-dev
    wine wine32:i386
    libsndfile1-dev:i386 libbenchmark-dev:i386 libc6-dbg:i386
)

missing() {
    local wanted=() p
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || wanted+=("$p")
    done
    echo "${wanted[@]:-}"
}

if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
    apt-get update -qq
fi
todo=$(missing "${packages[@]}")
if [ -n "$todo" ]; then
    echo "setup: installing $todo"
    apt-get update -qq
    # shellcheck disable=SC2086
    apt-get install -y -qq --no-install-recommends $todo >/dev/null
fi

# Some kernels run no 32-bit programs of their own. There, qemu-user runs
# them through binfmt_misc; Wine needs qemu 8 or later, which Debian 12 has
# in its backports.
probe_dir=$(mktemp -d)
trap 'rm -rf "$probe_dir"' EXIT
echo 'int main(void){return 0;}' > "$probe_dir/probe.c"
gcc -m32 "$probe_dir/probe.c" -o "$probe_dir/probe"
if ! "$probe_dir/probe" 2>/dev/null; then
    echo "setup: this kernel runs no 32-bit programs; running them through qemu-user"
    if ! apt-cache policy qemu-user | grep -q 'Installed: 1:\(8\|9\|1[0-9]\)'; then
        if ! grep -rqs 'bookworm-backports' /etc/apt/sources.list /etc/apt/sources.list.d/; then
            echo 'deb http://deb.debian.org/debian bookworm-backports main' > /etc/apt/sources.list.d/backports.list
        fi
        apt-get update -qq
        apt-get install -y -qq --no-install-recommends -t bookworm-backports qemu-user >/dev/null
    fi
    binfmt=/proc/sys/fs/binfmt_misc
    [ -e "$binfmt/register" ] || mount -t binfmt_misc binfmt_misc "$binfmt"
    if [ ! -e "$binfmt/qemu-i386" ]; then
        printf '%s' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386:' > "$binfmt/register"
    fi
    "$probe_dir/probe" || { echo "setup: 32-bit programs still do not run" >&2; exit 1; }
fi
echo "setup: ready"
