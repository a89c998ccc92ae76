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
TEST_PACKAGES=(googletest wine wine64 unzip python3 python3-pefile python3-capstone binutils)

# Whether this machine executes 32-bit x86 programs: a static i386 program that does nothing
# but exit with code 7 is built and run. Some machines refuse them ("exec format error"); on
# those, Wine's 32-bit side must not be installed, or every program under Wine fails.
machine_runs_i386() {
    local probe rc=0
    probe=$(mktemp -d)
    printf '.globl _start\n_start:\n movl $1, %%eax\n movl $7, %%ebx\n int $0x80\n' >"$probe/exit7.s"
    as --32 "$probe/exit7.s" -o "$probe/exit7.o" && ld -m elf_i386 "$probe/exit7.o" -o "$probe/exit7" || rc=1
    [ "$rc" -eq 0 ] && { "$probe/exit7" 2>/dev/null || rc=$?; }
    rm -rf "$probe"
    [ "$rc" -eq 7 ]
}

# Wine's 32-bit side, Debian's way: the i386 architecture and wine32 beside wine64.
ensure_wine32() {
    dpkg --print-foreign-architectures | grep -qx i386 || as_root dpkg --add-architecture i386
    ensure_packages wine32:i386
}
