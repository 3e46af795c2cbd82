#!/usr/bin/env bash
# Boots Debian's stock kernel in qemu with a virtual CAN interface and runs the SocketCAN checks
# inside: the board library's tests and the protocol library on vcan0 with can-utils as the other
# nodes. Prints one PASS or FAIL line per check; exits non-zero when a check failed or the machine
# could not be run. Usage: run.sh [build folder] (default: build beside this project).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
# The physical path (a build folder reached through a link too): the libraries ldd names lie there.
build=$(cd "${1:-$here/../../build}" && pwd -P)
work=$build/vcan
cache=$work/cache   # the unpacked kernel, kept between runs
root=$work/root
fail() { echo "FAIL: $*"; exit 1; }

# The kernel and its four CAN modules, from the Debian package (downloaded, not installed).
modules=(drivers/net/can/dev/can-dev.ko net/can/can.ko net/can/can-raw.ko drivers/net/can/vcan.ko)
if [ ! -f "$cache/ready" ]; then
  rm -rf "$cache" && mkdir -p "$cache/deb"
  download() { (cd "$cache/deb" && apt-get download "$1" >/dev/null 2>&1); }
  download linux-image-amd64 || { apt-get update -qq && download linux-image-amd64; } ||
    fail "kernel: apt-get download linux-image-amd64"
  image=$(dpkg-deb -f "$cache"/deb/linux-image-amd64_*.deb Depends | grep -o 'linux-image-[^ ,]*' | head -1)
  download "$image" || fail "kernel: apt-get download $image"
  dpkg-deb --fsys-tarfile "$cache"/deb/"$image"_*.deb |
    tar -x -C "$cache" --wildcards './boot/vmlinuz-*' "${modules[@]/#/*/kernel/}"
  rm -rf "$cache/deb"
  touch "$cache/ready"
fi
vmlinuz=$(ls "$cache"/boot/vmlinuz-* | head -1)

# The initramfs: busybox, the modules, can-utils, the test programs and every library they load.
rm -rf "$root" && mkdir -p "$root"/{bin,modules,proc,sys,dev,tmp}
cp /bin/busybox "$root/bin/" || fail "busybox-static is not installed"
for m in "${modules[@]}"; do cp "$cache"/lib/modules/*/kernel/"$m" "$root/modules/"; done
programs=(/usr/bin/candump /usr/bin/cansend /usr/bin/cangen
  "$build/tests/board/board_tests" "$build/tests/vcan/vcan_tests" "$build/dist/libXat11reg.so")
for p in "${programs[@]}"; do
  [ -e "$p" ] || fail "$p is missing: build first"
  cp --parents -L "$p" "$root"
  ldd "$p" | grep -o '/[^ ]*' | while read -r lib; do cp --parents -L "$lib" "$root"; done
done
install -m 755 "$here/init" "$root/init"
(cd "$root" && find . | cpio -o -H newc --quiet | gzip -1) > "$work/initrd.gz"

# Boot. Plain emulation by default: where /dev/kvm is itself a guest's, kvm was found far slower.
command -v qemu-system-x86_64 >/dev/null || fail "qemu-system-x86_64 is not installed"
console=$work/console.log
status=0
timeout 100 qemu-system-x86_64 -accel "${VCAN_ACCEL:-tcg}" -m 512 -smp 2 -nic none -no-reboot -nographic \
  -monitor none -kernel "$vmlinuz" -initrd "$work/initrd.gz" \
  -append "console=ttyS0 rdinit=/init quiet panic=-1 BUILD=$build" </dev/null >"$console" 2>&1 || status=$?

# gtest's result lines become PASS/FAIL lines; the init script prints its own.
tr -d '\r' <"$console" | sed -n -e '/^\(PASS\|FAIL\): /p' -e 's/^\[       OK \] \([^ ]*\).*/PASS: \1/p' \
  -e 's/^\[  FAILED  \] \([^ ,]*\).* ([0-9]* ms)$/FAIL: \1/p' \
  -e 's/^\[  SKIPPED \] \([^ ]*\) (.*/FAIL: \1 skipped/p' >"$work/results"
cat "$work/results"
passed=$(grep -c '^PASS' "$work/results" || true)
failed=$(grep -c '^FAIL' "$work/results" || true)
if [ "$status" -ne 0 ]; then
  tail -5 "$console"
  failed=$((failed + 1))
  echo "FAIL: qemu did not start or did not end within 100 s (exit $status)"
elif ! grep -q '^VCAN-END' "$console"; then
  failed=$((failed + 1))
  echo "FAIL: the machine did not finish its checks"
fi
echo "vcan: $passed passed, $failed failed"
[ "$failed" -eq 0 ] || { echo "console: $console"; exit 1; }
