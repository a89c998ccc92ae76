# Sourced by scripts/test-bed.sh (after scripts/packages.sh): Wine's 32-bit side for the
# 32-bit test bed, in a folder of the build tree, the same way on every machine.
#
# Debian's own way (dpkg --add-architecture i386, apt-get install wine32:i386) fails on the
# day one i386 index of the machine's suites fails to download: apt-get update exits non-zero,
# and the i386 twins of libraries installed from that suite cannot be had. Here apt works on
# a private state folder instead (its own lists, an empty dpkg status, amd64 and i386): it
# resolves wine32 from whichever indexes did download, the packages are unpacked with
# dpkg-deb, and nothing of i386 is installed on the machine.
#
# Where the processor refuses 32-bit code, qemu-i386 of a qemu-user new enough is put at
# $kQemuI386 and registered with binfmt_misc, so that every i386 program, Wine's 32-bit
# loader and what it starts included, runs emulated.
#
# set_up_wine32 DIR: returns 0 and sets wine32_loader, wine32_wine64, wine32_library_path,
# wine32_version and win32_emulated ("yes" or ""); or returns 1 with wine32_failed_step set
# to the step that failed (a CamelCase name) and wine32_failure to a sentence.

# qemu's own magic and mask for i386 ELF executables (qemu-binfmt-conf.sh).
kQemuI386Magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
kQemuI386Mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
kBinfmtDir=/proc/sys/fs/binfmt_misc
# One emulator for the machine, wherever its checkouts lie: test beds side by side (and a
# test run going on meanwhile) share its registration instead of replacing it in turn.
kQemuI386=/usr/local/libexec/velnote/qemu-i386
# Older qemu answers Wine's MAP_FIXED_NOREPLACE reservations with another address instead of
# failing; Wine then reserves in 64 KiB steps, and each 32-bit process takes a minute to start.
kQemuOldestUsable=1:10.0

wine32_fail() {
    wine32_failed_step=$1
    wine32_failure=$2
    return 1
}

# apt-get or apt-cache on the private state folder $wine32_apt.
private_apt() {
    local tool=$1
    shift
    "$tool" -o Dir::State="$wine32_apt/state" -o Dir::State::status="$wine32_apt/status" \
        -o Dir::Cache="$wine32_apt/cache" -o Dir::Etc::SourceList=/dev/null \
        -o Dir::Etc::SourceParts="$wine32_apt/sources" -o Dir::Etc::Preferences=/dev/null \
        -o Dir::Etc::PreferencesParts="$wine32_apt/preferences" -o Debug::NoLocking=1 \
        -o APT::Sandbox::User=root -o APT::Architecture=amd64 \
        -o APT::Architectures::=amd64 -o APT::Architectures::=i386 "$@"
}

# The machine's own apt sources, plus the backports suite of its Debian release on the same
# mirror when the emulator is wanted. A failing index only leaves that index out.
prepare_private_apt() {
    local with_backports=$1 source
    rm -rf "$wine32_apt"
    mkdir -p "$wine32_apt"/{state/lists/partial,cache/archives/partial,sources,preferences,debs}
    : >"$wine32_apt/status"
    [ -s /etc/apt/sources.list ] && ln -s /etc/apt/sources.list "$wine32_apt/sources/machine.list"
    for source in /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources; do
        [ -e "$source" ] && ln -s "$source" "$wine32_apt/sources/"
    done
    if [ -n "$with_backports" ]; then
        local codename mirror
        codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
        mirror=$(apt-get indextargets --format '$(REPO_URI) $(RELEASE) $(LABEL)' 'Identifier: Packages' |
            awk -v release="$codename" '$2 == release && $3 == "Debian" { print $1; exit }')
        [ -n "$codename" ] && [ -n "$mirror" ] &&
            echo "deb $mirror $codename-backports main" >"$wine32_apt/sources/backports.list"
    fi
    private_apt apt-get -qq update >"$wine32_apt/update.log" 2>&1 || true
}

# The newest qemu-user the private apt knows, when it is new enough; its qemu-i386 (a static
# program) goes to $kQemuI386.
fetch_qemu() {
    local version
    version=$(private_apt apt-cache madison qemu-user 2>/dev/null | awk -F' [|] ' '{ print $2 }' | sort -V | tail -n 1)
    [ -n "$version" ] && dpkg --compare-versions "$version" ge "$kQemuOldestUsable" ||
        wine32_fail DownloadingTheEmulator "no qemu-user $kQemuOldestUsable or newer in the Debian suites of this machine or their backports" ||
        return 1
    (cd "$wine32_apt/debs" && private_apt apt-get -qq download "qemu-user=$version" >/dev/null 2>&1) ||
        wine32_fail DownloadingTheEmulator "qemu-user $version could not be downloaded" || return 1
    dpkg-deb --fsys-tarfile "$wine32_apt"/debs/qemu-user_*.deb | tar -x -O ./usr/bin/qemu-i386 >"$wine32_apt/qemu-i386" &&
        as_root install -D -m 755 "$wine32_apt/qemu-i386" "$kQemuI386" &&
        echo "$version" | as_root tee "$kQemuI386.version" >/dev/null ||
        wine32_fail DownloadingTheEmulator "qemu-i386 could not be unpacked from qemu-user $version" || return 1
}

# Whether $kQemuI386 is registered for i386 programs, as a run before this one left it.
qemu_registered() {
    grep -qx "interpreter $kQemuI386" "$kBinfmtDir/qemu-i386" 2>/dev/null && grep -qx enabled "$kBinfmtDir/qemu-i386"
}

# Registers $kQemuI386 for i386 ELF files. Flag F opens the emulator now, so that it is found
# from inside every mount namespace. A registration under the same name that names another
# emulator is replaced: an older qemu makes the set unusable.
register_qemu() {
    if [ ! -e "$kBinfmtDir/register" ]; then
        as_root mount -t binfmt_misc binfmt_misc "$kBinfmtDir" 2>/dev/null ||
            wine32_fail RegisteringTheEmulator "binfmt_misc cannot be mounted here" || return 1
    fi
    [ -e "$kBinfmtDir/qemu-i386" ] && as_root sh -c "echo -1 >$kBinfmtDir/qemu-i386"
    as_root sh -c "printf '%s\n' ':qemu-i386:M::$kQemuI386Magic:$kQemuI386Mask:$kQemuI386:F' >$kBinfmtDir/register" 2>/dev/null &&
        run_i386_probe ||
        wine32_fail RegisteringTheEmulator "qemu-i386 could not be registered with binfmt_misc, or a 32-bit program did not run through it"
}

# wine32 of the same version as the machine's wine64, unpacked with what it needs, and laid
# out as Debian lays it out, so that each loader finds its libraries and DLLs beside itself.
# A 64-bit Wine process starts a 32-bit one with the wine beside its own executable, not with
# $WINELOADER, so a real copy of wine64 lies beside the private wine; its DLLs, Wine's shared
# data and the 64-bit wineserver are the machine's own.
fetch_wine32() {
    local version packages deb
    version=$(dpkg-query -W -f='${Version}' wine64)
    packages=$(private_apt apt-get -s install --no-install-recommends "wine32:i386=$version" 2>/dev/null |
        awk '/^Inst / && /\[i386\]/ { print $2 "=" substr($3, 2) }')
    [ -n "$packages" ] ||
        wine32_fail ResolvingWine32 "wine32:i386 $version and its libraries could not be resolved from the Debian suites of this machine" ||
        return 1
    # shellcheck disable=SC2086
    (cd "$wine32_apt/debs" && private_apt apt-get -qq download $packages >/dev/null 2>&1) ||
        wine32_fail DownloadingWine32 "the i386 packages of wine32 $version could not be downloaded" || return 1
    local tree="$wine32_dir/root"
    rm -rf "$tree"
    for deb in "$wine32_apt"/debs/*_i386.deb; do
        dpkg-deb -x "$deb" "$tree" || wine32_fail UnpackingWine32 "$(basename "$deb") could not be unpacked" || return 1
    done
    # Debian 12's libc6 has its dynamic loader in /lib, Debian 13's (merged /usr) in /usr/lib.
    local interpreter
    interpreter=$(ls "$tree"/lib/i386-linux-gnu/ld-linux.so.2 "$tree"/usr/lib/i386-linux-gnu/ld-linux.so.2 2>/dev/null | head -n 1)
    [ -n "$interpreter" ] && patchelf --set-interpreter "$interpreter" "$tree/usr/lib/wine/wine" ||
        wine32_fail UnpackingWine32 "the 32-bit loader could not be pointed at its own ld-linux.so.2" || return 1
    cp /usr/lib/wine/wine64 "$tree/usr/lib/wine/wine64"
    ln -sfn /usr/lib/wine/wineserver64 "$tree/usr/lib/wine/wineserver"
    mkdir -p "$tree/usr/lib/x86_64-linux-gnu"
    ln -sfn /usr/lib/x86_64-linux-gnu/wine "$tree/usr/lib/x86_64-linux-gnu/wine"
    rm -rf "$tree/usr/share/wine"
    ln -sfn /usr/share/wine "$tree/usr/share/wine"
    # Debian's libwine writes Wine's zlib1.dll of each side when it is configured; the
    # machine's libwine wrote the 32-bit one too.
    cp /usr/lib/x86_64-linux-gnu/wine/i386-windows/zlib1.dll "$tree/usr/lib/i386-linux-gnu/wine/i386-windows/" ||
        wine32_fail UnpackingWine32 "the installed Wine has no 32-bit zlib1.dll" || return 1
    echo "$version" >"$wine32_dir/wine32.version"
}

# Whether the 32-bit loader of the unpacked tree $1 starts.
wine32_starts() {
    LD_LIBRARY_PATH="$1/lib/i386-linux-gnu:$1/usr/lib/i386-linux-gnu" "$1/usr/lib/wine/wine" --version >/dev/null 2>&1
}

set_up_wine32() {
    wine32_dir=$(realpath -m "$1")
    wine32_apt="$wine32_dir/apt"
    win32_emulated=""
    local apt_prepared=""
    mkdir -p "$wine32_dir"
    # The emulator is registered only where the processor refused the probe, so a
    # registration of our own says this machine needs it: it is kept, never switched off for
    # another probe while a test run elsewhere may be using it.
    if qemu_registered; then
        win32_emulated=yes
        run_i386_probe || wine32_fail RegisteringTheEmulator "a 32-bit program did not run through the registered qemu-i386" ||
            return 1
    elif ! machine_runs_i386; then
        win32_emulated=yes
        if ! dpkg --compare-versions "$(cat "$kQemuI386.version" 2>/dev/null || echo 0)" ge "$kQemuOldestUsable"; then
            prepare_private_apt backports
            apt_prepared=yes
            fetch_qemu || return 1
        fi
        register_qemu || return 1
    fi
    # A tree that an earlier run unpacked but whose loader does not start is unpacked again.
    local tree="$wine32_dir/root"
    if [ "$(cat "$wine32_dir/wine32.version" 2>/dev/null)" != "$(dpkg-query -W -f='${Version}' wine64)" ] ||
        ! wine32_starts "$tree"; then
        [ -n "$apt_prepared" ] || prepare_private_apt ""
        fetch_wine32 || return 1
        wine32_starts "$tree" || wine32_fail Starting32BitWine "the 32-bit Wine loader did not start" || return 1
    fi
    rm -rf "$wine32_apt/debs" "$wine32_apt/cache"
    wine32_loader="$tree/usr/lib/wine/wine"
    wine32_wine64="$tree/usr/lib/wine/wine64"
    wine32_library_path="$tree/lib/i386-linux-gnu:$tree/usr/lib/i386-linux-gnu"
    wine32_version="wine32 $(cat "$wine32_dir/wine32.version")${win32_emulated:+ under qemu-i386 $(cat "$kQemuI386.version")}"
}
