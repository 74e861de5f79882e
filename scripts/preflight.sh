# Sourced by test.sh and demo.sh: can this machine run what they are about to run?
# Each check prints one line.
#
# preflight_i386 answers whether i386 programs run. Where the kernel cannot run them
# (built without IA-32 emulation, or booted with ia32_emulation=0) it installs qemu-user
# and registers it with the kernel for i386 programs, so that every i386 program,
# including those that tests start, runs unchanged. DEVADO_EMULATE=1 takes the emulated
# path on any machine: programs the scripts start go through qemu-i386-static. It sets
#   i386_native    1 when i386 programs run on the processor itself, else 0
#   i386_launcher  the command to put before an i386 program (empty when none is needed)
#
# preflight_wine answers whether Wine starts, and leaves its server running for the caller.

i386_native=1
i386_launcher=()

# The kernel's entry for i386 ELF executables (ET_EXEC and PIE) run by qemu-user.
binfmt_dir=/proc/sys/fs/binfmt_misc
binfmt_i386=':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386-static:F'

as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo -n "$@"; fi
}

# True when some binfmt handler already hands i386 programs to qemu: then they run
# emulated whatever the kernel itself could do.
i386_handled_by_qemu() {
  local entry
  for entry in "$binfmt_dir"/*; do
    [ -f "$entry" ] || continue
    head -n 1 "$entry" 2>/dev/null | grep -qx enabled || continue
    grep -q '^interpreter .*qemu-i386' "$entry" 2>/dev/null && return 0
  done
  return 1
}

build_i386_probe() {  # build_i386_probe <dir>: prints the probe's path
  printf 'int main(void) { return 0; }\n' >"$1/probe.c"
  gcc -m32 "$1/probe.c" -o "$1/probe" 2>"$1/probe.log" || {
    echo "i386 programs: cannot build one with 'gcc -m32':" >&2
    cat "$1/probe.log" >&2
    return 1
  }
  echo "$1/probe"
}

register_i386_emulation() {
  if [ "$(id -u)" -ne 0 ] && ! sudo -n true 2>/dev/null; then
    echo "i386 programs: this kernel cannot run them, and registering qemu-user for them needs root."
    echo "  Run this script again as root (or with password-less sudo), or boot a kernel with IA-32 emulation."
    return 1
  fi
  ./scripts/install-deps.sh qemu || return 1
  if ! mountpoint -q "$binfmt_dir"; then
    as_root mount -t binfmt_misc binfmt_misc "$binfmt_dir" 2>/dev/null || {
      echo "i386 programs: this kernel cannot run them, and binfmt_misc cannot be mounted on $binfmt_dir"
      echo "  (a container without the privilege?). Run on a host or a privileged container, or boot"
      echo "  a kernel with IA-32 emulation."
      return 1
    }
  fi
  [ -e "$binfmt_dir/qemu-i386" ] ||
    printf '%b' "$binfmt_i386" | as_root tee "$binfmt_dir/register" >/dev/null 2>&1 || {
    echo "i386 programs: this kernel cannot run them, and the kernel refused qemu-user's entry in"
    echo "  $binfmt_dir/register. Boot a kernel with IA-32 emulation, or register qemu-i386 by hand."
    return 1
  }
}

preflight_i386() {
  local scratch probe
  scratch=$(mktemp -d)
  probe=$(build_i386_probe "$scratch") || { rm -rf "$scratch"; return 1; }
  if [ "${DEVADO_EMULATE:-0}" = 1 ]; then
    ./scripts/install-deps.sh qemu || { rm -rf "$scratch"; return 1; }
    i386_native=0
    i386_launcher=(qemu-i386-static -L /)
    if "${i386_launcher[@]}" "$probe"; then
      echo "i386 programs: run through qemu-i386-static (DEVADO_EMULATE=1, as on a kernel without IA-32 support)"
    else
      echo "i386 programs: qemu-i386-static cannot run one"
      rm -rf "$scratch"
      return 1
    fi
  elif i386_handled_by_qemu && "$probe" 2>/dev/null; then
    i386_native=0
    echo "i386 programs: run through qemu-user (registered with this kernel for i386 programs)"
  elif "$probe" 2>/dev/null; then
    echo "i386 programs: run natively"
  else
    i386_native=0
    echo "i386 programs: this kernel cannot run them; registering qemu-user for them (about 20 s)..."
    register_i386_emulation || { rm -rf "$scratch"; return 1; }
    if "$probe" 2>/dev/null; then
      echo "i386 programs: run through qemu-user (registered with this kernel for i386 programs)"
    else
      echo "i386 programs: still cannot run one after registering qemu-user for them"
      rm -rf "$scratch"
      return 1
    fi
  fi
  rm -rf "$scratch"
}

stop_wine() {
  [ -n "${WINEPREFIX:-}" ] && [ -d "$WINEPREFIX" ] || return 0
  wineserver -k >/dev/null 2>&1 || true
}

# preflight_wine <prefix>: starts Wine's server (detached from our pipes, or every later
# wine call would wait for its helpers to let go of them) and prepares the prefix.
preflight_wine() {
  export WINEPREFIX=$1 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  if [ "$i386_native" -ne 1 ]; then
    echo "Wine: not started: this machine cannot run 32-bit programs natively (Wine does not run under qemu-user)"
    return 1
  fi
  mkdir -p "$WINEPREFIX"
  local log=$WINEPREFIX.boot.log
  wineserver -p </dev/null >/dev/null 2>&1 || true
  if timeout 300 wineboot -i </dev/null >"$log" 2>&1; then
    echo "Wine: starts ($(wine --version 2>/dev/null || echo 'version unknown'))"
    return 0
  fi
  echo "Wine: does not start; Wine said:"
  tail -n 20 "$log" | sed 's/^/  /'
  stop_wine
  return 1
}
