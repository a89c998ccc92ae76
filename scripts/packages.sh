# Installs the Debian packages named as arguments that are not installed yet.
as_root() {
    if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

ensure_packages() {
    local missing=()
    for package in "$@"; do
        dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    as_root env DEBIAN_FRONTEND=noninteractive apt-get update -qq
    as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

BUILD_PACKAGES=(cmake make g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix binutils-mingw-w64-i686 binutils-mingw-w64-x86-64 zip)
TEST_PACKAGES=(googletest wine wine64 xvfb unzip python3 python3-pefile python3-capstone binutils patchelf)

# Runs a static i386 program that does nothing but exit with code 7; true when it did.
run_i386_probe() {
    local probe rc=0
    probe=$(mktemp -d)
    printf '.globl _start\n_start:\n movl $1, %%eax\n movl $7, %%ebx\n int $0x80\n' >"$probe/exit7.s"
    as --32 "$probe/exit7.s" -o "$probe/exit7.o" && ld -m elf_i386 "$probe/exit7.o" -o "$probe/exit7" || rc=1
    [ "$rc" -eq 0 ] && { "$probe/exit7" 2>/dev/null || rc=$?; }
    rm -rf "$probe"
    [ "$rc" -eq 7 ]
}

# Whether the processor itself executes 32-bit x86 programs: some machines refuse them
# ("exec format error"). An emulator registered for them is switched off for the probe.
machine_runs_i386() {
    local entry=/proc/sys/fs/binfmt_misc/qemu-i386 rc=0
    if grep -qx enabled "$entry" 2>/dev/null; then
        as_root sh -c "echo 0 >$entry"
        run_i386_probe || rc=1
        as_root sh -c "echo 1 >$entry"
        return $rc
    fi
    run_i386_probe
}
