#!/usr/bin/env bash
# Inside the 32-bit lane's private user and mount namespace (see start_lane
# in harness.sh): mounts this namespace's own
# binfmt_misc, registers i386 ELF programs with qemu-i386, then runs the
# command. Arguments: qemu-i386, then the command.
set -euo pipefail
qemu=$1
shift
binfmt=/proc/sys/fs/binfmt_misc
if ! mount -t binfmt_misc binfmt_misc "$binfmt" 2>/dev/null; then
  echo "The 32-bit lane cannot run: this kernel ($(uname -r)) refuses a binfmt_misc of a user namespace's own" >&2
  exit 1
fi
# This binfmt_misc starts empty: where the kernel runs 32-bit code itself
# (a machine-wide emulator made the lane look necessary), nothing is needed,
# unless KORVANE_FORCE_LANE asks for the emulator all the same.
if [ -z "${KORVANE_FORCE_LANE:-}" ] && /usr/lib/wine/wine --version >/dev/null 2>&1; then
  exec "$@"
fi
# The magic and mask of an i386 ELF executable. P keeps argv[0], O hands
# qemu the open file, F opens qemu now, so the registration needs no path
# to it later.
magic='\x7f\x45\x4c\x46\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
mask='\xff\xff\xff\xff\xff\xfe\xfe\xfc\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
echo ":korvane-i386:M::$magic:$mask:$qemu:POF" >"$binfmt/register"
if ! /usr/lib/wine/wine --version >/dev/null 2>&1; then
  echo "The 32-bit lane cannot run: Wine's 32-bit loader does not start under $qemu" >&2
  exit 1
fi
exec "$@"
