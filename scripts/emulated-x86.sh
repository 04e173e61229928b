#!/bin/sh
# The emulated x86 lane: runs a command in which 32-bit (i386) Linux
# programs, 32-bit Wine among them, run through qemu-i386.
#
#   emulated-x86.sh needed        exits 0 when this machine cannot run 32-bit
#                                 programs itself
#   emulated-x86.sh possible      exits 0 when this kernel and machine can
#                                 make the lane; otherwise says why, and
#                                 exits 1
#   emulated-x86.sh check         the same, for the lane itself, with its
#                                 qemu-i386
#   emulated-x86.sh run COMMAND   runs COMMAND in the lane
#
# Some virtual machines give programs no 32-bit code segment: the kernel has
# IA32 emulation, but every i386 program fails with "Exec format error", so
# no Wine can run x86 Windows programs natively there. qemu-i386 runs them
# instead, from qemu-user 10 (9 and before cannot map Wine's shared user
# data). Its handler is registered in the binfmt_misc instance of a user
# namespace of the lane's own, which Linux gives each user namespace from
# 6.7 on: nothing is registered for the machine, and the handler goes with
# the lane's last process. The F flag opens qemu-i386 when it is registered,
# so it runs whatever the mount namespace shows later.
#
# I386_LOADER names the 32-bit program tried (the tests' stand-in).
set -eu
loader=${I386_LOADER:-/lib/ld-linux.so.2}

# i386 ELF executables and shared objects (ld.so is one), as qemu's own
# binfmt list matches them.
magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'

# The major version of the qemu-i386 on the PATH; 0 without one.
qemu_major() {
  qemu-i386 --version 2>/dev/null | sed -n 's/^qemu-i386 version \([0-9]*\)\..*/\1/p;q' | grep . ||
    echo 0
}

case "${1:-}" in
needed)
  # Without the loader there is nothing 32-bit to run, emulated or not.
  [ -e "$loader" ] && ! "$loader" --version >/dev/null 2>&1
  ;;
possible)
  kernel=$(uname -r)
  case "$kernel" in
  [0-5].* | 6.[0-6] | 6.[0-6][!0-9]*)
    echo "Linux $kernel gives a user namespace no binfmt_misc of its own (6.7 and later do)"
    exit 1
    ;;
  esac
  if ! why=$(unshare --user --map-root-user true 2>&1); then
    echo "no user namespace can be made here (as in a chroot): $why"
    exit 1
  fi
  ;;
check)
  sh "$0" possible || exit 1
  if [ "$(qemu_major)" -lt 10 ]; then
    echo "no qemu-i386 of qemu-user 10 or later"
    exit 1
  fi
  if ! why=$(sh "$0" run "$loader" --version 2>&1 >/dev/null); then
    echo "the lane cannot be made on Linux $(uname -r): ${why:-no reason given}"
    exit 1
  fi
  ;;
run)
  shift
  exec unshare --user --map-root-user --mount --fork sh "$0" inside "$@"
  ;;
inside)
  shift
  mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc
  # binfmt_misc reads the \x escapes itself.
  printf '%s' ":loadfile-i386:M::$magic:$mask:$(command -v qemu-i386):F" \
    >/proc/sys/fs/binfmt_misc/register
  exec "$@"
  ;;
*)
  echo "usage: emulated-x86.sh needed|possible|check|run COMMAND..." >&2
  exit 2
  ;;
esac
