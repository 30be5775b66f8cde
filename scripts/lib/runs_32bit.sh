# shellcheck shell=bash
# Whether this host's kernel starts 32-bit x86 programs, found out with
# nothing installed: a static i386 ELF of 93 bytes that only exits 0 is
# written to a temporary file and started. A kernel without IA-32 emulation
# refuses it with ENOEXEC ("Exec format error"). Sourced by scripts/bootstrap.

# The program, on stdout: ELF header, one PT_LOAD of the whole file at
# 0x08048000, then the code at 0x08048054: mov eax,1; xor ebx,ebx; int 0x80.
elf32_exit0() {
  printf '\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00'   # 32-bit, little-endian, version 1
  printf '\x02\x00\x03\x00\x01\x00\x00\x00'                           # executable, i386, version 1
  printf '\x54\x80\x04\x08\x34\x00\x00\x00\x00\x00\x00\x00'           # entry, program headers at 52, no sections
  printf '\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00\x00\x00\x00\x00'  # flags, header sizes, one program header
  printf '\x01\x00\x00\x00\x00\x00\x00\x00'                           # PT_LOAD from offset 0
  printf '\x00\x80\x04\x08\x00\x80\x04\x08'                           # at 0x08048000
  printf '\x5d\x00\x00\x00\x5d\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00'  # 93 bytes, r-x, page-aligned
  printf '\xb8\x01\x00\x00\x00\x31\xdb\xcd\x80'                       # exit(0)
}

# starts_program FILE: 0 when FILE ran and exited 0; 1 when the kernel does
# not run programs of its format (the reason on stdout); 2 when it could not
# be told (a temporary folder mounted noexec, a sandbox that forbids it).
starts_program() {
  local output
  # Started by the shell itself: env or execvp would hand a file the kernel
  # refuses to /bin/sh instead.
  if output=$(LC_ALL=C; exec "$1" 2>&1 </dev/null); then
    return 0
  fi
  if [[ $output == *"Exec format error"* ]]; then
    echo "Exec format error"
    return 1
  fi
  return 2
}

# host_runs_32bit: starts_program's answer for the i386 program above.
host_runs_32bit() {
  local file status
  file=$(mktemp "${TMPDIR:-/tmp}/elf32-probe.XXXXXX") || return 2
  elf32_exit0 >"$file" && chmod 700 "$file"
  starts_program "$file"
  status=$?
  rm -f "$file"
  return $status
}
