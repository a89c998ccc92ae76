#!/usr/bin/env python3
"""Reads both shipped plug-in files as the system and the host read them: headers,
exports, imports, resources and the detect string, side by side so that the two builds
stay alike. The 32-bit exports are followed through their code, to every way out, to see
that each removes its own arguments. Prints one line per check; exits 1 when any failed."""
import argparse
import sys
import xml.etree.ElementTree as ElementTree

import capstone
import pefile

# The lister functions in ordinal order (alphabetical), with the argument bytes each 32-bit
# export removes from the stack on return.
EXPORTS = [("ListCloseWindow", 4), ("ListGetDetectString", 8), ("ListLoad", 12), ("ListLoadW", 12),
           ("ListPrint", 20), ("ListSearchText", 12), ("ListSearchTextW", 12), ("ListSendCommand", 12)]

MAX_FILE_BYTES = 48 * 1024
DETECT_STRING_BYTES = 1131  # with its terminator
DETECT_STRING_OPENING = b"MULTIMEDIA & ("
VERSION = "1.24.0.0"

# The oldest Windows each build runs on, as its PE header states it (subsystem and operating
# system version) and as the user guide names it.
OLDEST_WINDOWS = {
    "Velnote.wlx": ((5, 1), "Windows XP"),
    "Velnote.wlx64": ((5, 2), "Windows XP Professional x64 Edition"),
}

# What the plug-in may import, per DLL: functions that Windows XP (and, for the 64-bit
# build, its x64 edition) provides. Functions that came later (GetTickCount64 from Vista,
# the checked "_s" functions of msvcrt.dll) are missing on purpose: a file that imports one
# does not load on the oldest Windows named above. A new import is added here after its
# "Minimum supported client" has been looked up.
ALLOWED_IMPORTS = {
    "advapi32.dll": {"RegDeleteKeyW"},
    # the hung-editor note's font and text
    "gdi32.dll": {
        "CreateFontIndirectW", "DeleteObject", "GetStockObject", "GetTextExtentPoint32W", "GetTextMetricsW",
        "SelectObject", "SetBkMode", "SetTextColor",
    },
    "kernel32.dll": {
        # the plug-in's own
        "CloseHandle", "CreateFileW", "CreateProcessW", "ExpandEnvironmentStringsW", "GetCurrentProcessId",
        "GetCurrentThreadId", "GetEnvironmentVariableW", "GetExitCodeProcess", "GetFileAttributesW", "GetLastError",
        "GetModuleFileNameW", "GetPrivateProfileStringW", "GetTickCount", "MultiByteToWideChar", "OpenProcess", "SetLastError",
        "Sleep", "TerminateProcess", "WaitForInputIdle", "WaitForSingleObject", "WideCharToMultiByte",
        "WriteFile", "WritePrivateProfileSectionW", "WritePrivateProfileStringW",
        # the C runtime's start-up, thread-local storage and the 32-bit unwinder's registration
        "DeleteCriticalSection", "EnterCriticalSection", "FreeLibrary", "GetModuleHandleA", "GetModuleHandleW",
        "GetProcAddress", "InitializeCriticalSection", "LeaveCriticalSection", "LoadLibraryA", "LoadLibraryW",
        "TlsGetValue", "VirtualProtect", "VirtualQuery",
    },
    "user32.dll": {
        "AllowSetForegroundWindow", "BringWindowToTop", "CallNextHookEx", "CloseWindow", "CreateWindowExW",
        "DefWindowProcW", "DeleteMenu", "DestroyWindow", "DispatchMessageW", "EnableMenuItem", "EnumWindows",
        "FindWindowExW", "FindWindowW", "GetActiveWindow", "GetAncestor", "GetAsyncKeyState", "GetClassNameW",
        "GetClientRect", "GetDlgCtrlID", "GetFocus", "GetForegroundWindow", "GetKeyState", "GetMenu",
        "GetMenuItemCount", "GetParent", "GetPropW", "GetSystemMenu", "GetSystemMetrics", "GetWindow",
        "GetWindowLongPtrW", "GetWindowLongW", "GetWindowRect", "GetWindowTextW", "GetWindowThreadProcessId",
        "IsChild", "IsHungAppWindow", "IsIconic", "IsWindow", "IsWindowVisible", "KillTimer", "LoadCursorW", "LoadIconW",
        "LockSetForegroundWindow", "MessageBoxW", "MoveWindow", "MsgWaitForMultipleObjects", "PeekMessageW", "PostMessageW", "PostQuitMessage", "PostThreadMessageW", "RegisterClassExW",
        "RemovePropW", "SendInput", "SendMessageTimeoutW", "SendMessageW", "SetFocus", "SetForegroundWindow", "SetParent",
        "SetPropW", "SetTimer", "SetWindowLongPtrW", "SetWindowLongW", "SetWindowPos", "SetWindowsHookExW",
        "ShowWindow", "ShowWindowAsync", "TranslateMessage", "UnhookWindowsHookEx", "keybd_event", "mouse_event",
        # painting the hung-editor note
        "BeginPaint", "DrawEdge", "DrawFocusRect", "DrawFrameControl", "DrawTextW", "EndPaint", "FillRect", "GetCapture",
        "GetDC", "GetDlgItem",
        "GetSysColor", "GetSysColorBrush", "InflateRect", "InvalidateRect", "PtInRect", "RedrawWindow",
        "ReleaseCapture", "ReleaseDC", "SetCapture", "SystemParametersInfoW",
    },
    # The C runtime that every Windows since 2000 ships; mingw-w64's start-up and libstdc++
    # take these from it.
    "msvcrt.dll": {
        "__iob_func", "_amsg_exit", "_initterm", "_iob", "_lock", "_unlock", "abort", "calloc", "free", "fwrite",
        "malloc", "memcmp", "memcpy", "memmove", "memset", "realloc", "strlen", "strncmp", "vfprintf", "wcschr",
        "wcscmp", "wcslen", "wcsrchr",
    },
}

# Argument bytes of the imports that an export may end in with a jump (a tail call).
IMPORT_ARGUMENT_BYTES = {"DestroyWindow": 4, "PostMessageW": 16, "SendMessageW": 16}

failures = []


class Check:
    """Collects the faults of one named check and prints its line."""

    def __init__(self, name):
        self.name = name
        self.faults = []

    def expect(self, condition, message):
        if not condition:
            self.faults.append(message)
        return condition

    def done(self):
        print(("ok      " if not self.faults else "FAILED  ") + self.name)
        for fault in self.faults:
            print("        " + fault)
        failures.extend(f"{self.name}: {fault}" for fault in self.faults)


class Build:
    def __init__(self, name, path):
        self.name = name
        self.path = path
        with open(path, "rb") as f:
            self.bytes = f.read()
        self.pe = pefile.PE(data=self.bytes)
        self.is64 = name.endswith("64")

    def section_of(self, rva):
        for section in self.pe.sections:
            if section.VirtualAddress <= rva < section.VirtualAddress + max(section.Misc_VirtualSize, section.SizeOfRawData):
                return section
        return None

    def directory(self, name):
        return self.pe.OPTIONAL_HEADER.DATA_DIRECTORY[pefile.DIRECTORY_ENTRY[name]]

    def imports(self):
        """{lower-case DLL name: [function names]}, ordinals as '#N'."""
        found = {}
        for entry in getattr(self.pe, "DIRECTORY_ENTRY_IMPORT", []):
            names = found.setdefault(entry.dll.decode().lower(), [])
            names += [i.name.decode() if i.name else f"#{i.ordinal}" for i in entry.imports]
        return found

    def resources(self, type_id):
        """[(name id, language, bytes)] of one resource type."""
        found = []
        root = getattr(self.pe, "DIRECTORY_ENTRY_RESOURCE", None)
        for kind in root.entries if root else []:
            if kind.id != type_id:
                continue
            for name in kind.directory.entries:
                for language in name.directory.entries:
                    data = language.data.struct
                    found.append((name.id, language.id, self.pe.get_data(data.OffsetToData, data.Size)))
        return found


def check_machine_and_dll_flag(builds):
    check = Check("machine type and DLL flag")
    expected = {"Velnote.wlx": (pefile.MACHINE_TYPE["IMAGE_FILE_MACHINE_I386"], pefile.OPTIONAL_HEADER_MAGIC_PE),
                "Velnote.wlx64": (pefile.MACHINE_TYPE["IMAGE_FILE_MACHINE_AMD64"], pefile.OPTIONAL_HEADER_MAGIC_PE_PLUS)}
    for b in builds:
        machine, magic = expected[b.name]
        check.expect(b.pe.FILE_HEADER.Machine == machine, f"{b.name}: machine {b.pe.FILE_HEADER.Machine:#x}")
        check.expect(b.pe.OPTIONAL_HEADER.Magic == magic, f"{b.name}: optional header magic {b.pe.OPTIONAL_HEADER.Magic:#x}")
        check.expect(b.pe.FILE_HEADER.IMAGE_FILE_DLL, f"{b.name}: not a DLL")
        check.expect(b.pe.FILE_HEADER.IMAGE_FILE_EXECUTABLE_IMAGE, f"{b.name}: not marked executable")
    check.done()


def check_randomisation_and_dep(builds):
    check = Check("address randomisation and data execution prevention")
    for b in builds:
        h = b.pe.OPTIONAL_HEADER
        check.expect(h.IMAGE_DLLCHARACTERISTICS_DYNAMIC_BASE, f"{b.name}: no dynamic base")
        check.expect(h.IMAGE_DLLCHARACTERISTICS_NX_COMPAT, f"{b.name}: not NX compatible")
        if b.is64:
            check.expect(h.IMAGE_DLLCHARACTERISTICS_HIGH_ENTROPY_VA, f"{b.name}: no high-entropy addresses")
        # Without relocations the loader cannot move the image, whatever the flag says.
        check.expect(b.directory("IMAGE_DIRECTORY_ENTRY_BASERELOC").Size > 0, f"{b.name}: no relocations")
    check.done()


def check_exports(builds):
    check = Check("exactly the eight lister functions, by name and ordinal")
    for b in builds:
        exports = getattr(b.pe, "DIRECTORY_ENTRY_EXPORT", None)
        if not check.expect(exports is not None, f"{b.name}: no export directory"):
            continue
        check.expect(exports.name == b.name.encode(), f"{b.name}: export directory names {exports.name!r}")
        check.expect(exports.struct.NumberOfFunctions == len(EXPORTS),
                     f"{b.name}: {exports.struct.NumberOfFunctions} exported addresses (by ordinal only, or gaps)")
        found = [(s.name.decode() if s.name else None, s.ordinal) for s in exports.symbols]
        wanted = [(name, ordinal) for ordinal, (name, _) in enumerate(EXPORTS, start=1)]
        check.expect(found == wanted, f"{b.name}: exports {found}")
        for s in exports.symbols:
            # A forwarder or a data export points outside the code.
            section = b.section_of(s.address)
            check.expect(s.forwarder is None and section is not None and
                         section.Characteristics & pefile.SECTION_CHARACTERISTICS["IMAGE_SCN_MEM_EXECUTE"],
                         f"{b.name}: {s.name} is not code")
    check.done()


def exits_of(b, entry_rva):
    """The argument bytes removed on every way out of the code reachable from an entry,
    following every branch and jump (calls return, so they are stepped over), and the faults
    found on the way: plain returns, bytes that do not decode, jumps that cannot be followed."""
    pe = b.pe
    base = pe.OPTIONAL_HEADER.ImageBase
    image = pe.get_memory_mapped_image()
    import_slots = {i.address: i.name.decode()
                    for e in getattr(pe, "DIRECTORY_ENTRY_IMPORT", []) for i in e.imports if i.name}
    disassembler = capstone.Cs(capstone.CS_ARCH_X86, capstone.CS_MODE_32)
    disassembler.detail = True
    clean_ups, faults, seen = set(), [], set()
    pending = [base + entry_rva]
    while pending:
        address = pending.pop()
        while address not in seen:
            seen.add(address)
            section = b.section_of(address - base)
            if section is None or not section.Characteristics & pefile.SECTION_CHARACTERISTICS["IMAGE_SCN_MEM_EXECUTE"]:
                faults.append(f"{address:#x}: reached outside the code")
                break
            instruction = next(disassembler.disasm(image[address - base:address - base + 16], address), None)
            if instruction is None:
                faults.append(f"{address:#x}: cannot decode")
                break
            groups = set(instruction.groups)
            operand = instruction.operands[0] if instruction.operands else None
            if capstone.x86.X86_GRP_RET in groups:
                removed = operand.imm if operand is not None else 0
                clean_ups.add(removed)
                if removed == 0:
                    faults.append(f"{address:#x}: {instruction.mnemonic} leaves the arguments to the caller")
                break
            if capstone.x86.X86_GRP_JUMP in groups:
                if operand.type == capstone.x86.X86_OP_IMM:
                    pending.append(operand.imm)
                elif (operand.type == capstone.x86.X86_OP_MEM and operand.mem.base == 0 and operand.mem.index == 0
                      and operand.mem.disp in import_slots):
                    # jmp [slot]: a tail call into an import, which removes its own arguments.
                    name = import_slots[operand.mem.disp]
                    if name in IMPORT_ARGUMENT_BYTES:
                        clean_ups.add(IMPORT_ARGUMENT_BYTES[name])
                    else:
                        faults.append(f"{address:#x}: jump into {name}, whose argument bytes are not listed")
                else:
                    faults.append(f"{address:#x}: {instruction.mnemonic} {instruction.op_str} cannot be followed")
                if instruction.mnemonic == "jmp":
                    break
            elif instruction.mnemonic in ("ud2", "int3", "hlt"):
                break  # a trap, not a way back to the caller
            address += instruction.size
    return clean_ups, faults


def check_stdcall_exports(builds):
    check = Check("each 32-bit export removes its argument bytes on every way out")
    for b in builds:
        if b.is64:
            continue
        directory = getattr(b.pe, "DIRECTORY_ENTRY_EXPORT", None)
        exports = {s.name.decode(): s.address for s in directory.symbols if s.name} if directory else {}
        for name, argument_bytes in EXPORTS:
            if not check.expect(name in exports, f"{b.name}: {name} is not exported"):
                continue
            clean_ups, faults = exits_of(b, exports[name])
            for fault in faults:
                check.expect(False, f"{b.name}: {name}: {fault}")
            check.expect(clean_ups == {argument_bytes},
                         f"{b.name}: {name} removes {sorted(clean_ups)} bytes on its ways out, not {argument_bytes}")
    check.done()


def check_imports(builds):
    check = Check("imports only system functions that the oldest supported Windows has")
    for b in builds:
        imports = b.imports()
        check.expect(imports, f"{b.name}: no imports")
        for dll, functions in sorted(imports.items()):
            allowed = ALLOWED_IMPORTS.get(dll)
            if not check.expect(allowed is not None, f"{b.name}: imports {dll}, which is not a system DLL of the list"):
                continue
            for function in functions:
                check.expect(function in allowed, f"{b.name}: imports {dll} {function}, which is not in the list")
        # A delay-loaded DLL or a bound import would escape the list above.
        check.expect(b.directory("IMAGE_DIRECTORY_ENTRY_DELAY_IMPORT").Size == 0, f"{b.name}: delay-loaded imports")
    dlls = [sorted(b.imports()) for b in builds]
    check.expect(all(d == dlls[0] for d in dlls), f"the files import different DLLs: {dlls}")
    check.done()


def check_oldest_windows(builds, guide):
    check = Check("the PE header says the oldest supported Windows that the user guide names")
    for b in builds:
        (major, minor), name = OLDEST_WINDOWS[b.name]
        h = b.pe.OPTIONAL_HEADER
        check.expect((h.MajorSubsystemVersion, h.MinorSubsystemVersion) == (major, minor),
                     f"{b.name}: subsystem version {h.MajorSubsystemVersion}.{h.MinorSubsystemVersion}, not {major}.{minor}")
        check.expect((h.MajorOperatingSystemVersion, h.MinorOperatingSystemVersion) == (major, minor),
                     f"{b.name}: operating system version {h.MajorOperatingSystemVersion}."
                     f"{h.MinorOperatingSystemVersion}, not {major}.{minor}")
        check.expect(h.Subsystem == pefile.SUBSYSTEM_TYPE["IMAGE_SUBSYSTEM_WINDOWS_GUI"], f"{b.name}: subsystem {h.Subsystem}")
        sentence = f"`{b.name}` runs on {name} ({major}.{minor}) and later"
        check.expect(sentence in guide, f"the user guide does not say {sentence!r}")
    check.done()


def check_version_resource(builds):
    check = Check(f"version resource says {VERSION}")
    ms, ls = [int(p) for p in VERSION.split(".")[:2]], [int(p) for p in VERSION.split(".")[2:]]
    for b in builds:
        versions = b.resources(pefile.RESOURCE_TYPE["RT_VERSION"])
        check.expect([v[0] for v in versions] == [1], f"{b.name}: version resources {[v[0] for v in versions]}")
        fixed = getattr(b.pe, "VS_FIXEDFILEINFO", [None])[0]
        if not check.expect(fixed is not None, f"{b.name}: no fixed file information"):
            continue
        check.expect(fixed.Signature == 0xFEEF04BD, f"{b.name}: signature {fixed.Signature:#x}")
        for kind in ("File", "Product"):
            found = (getattr(fixed, kind + "VersionMS"), getattr(fixed, kind + "VersionLS"))
            check.expect(found == (ms[0] << 16 | ms[1], ls[0] << 16 | ls[1]), f"{b.name}: {kind.lower()} version {found}")
        check.expect(fixed.FileType == 2, f"{b.name}: file type {fixed.FileType}, not VFT_DLL")
        strings = {}
        for info in getattr(b.pe, "FileInfo", [[]])[0]:
            for table in getattr(info, "StringTable", []):
                strings.update({k.decode(): v.decode() for k, v in table.entries.items()})
        expected = {"FileVersion": VERSION, "ProductVersion": VERSION, "OriginalFilename": b.name}
        for key, value in expected.items():
            check.expect(strings.get(key) == value, f"{b.name}: {key} {strings.get(key)!r}, not {value!r}")
        for key in ("FileDescription", "ProductName", "CompanyName"):
            check.expect(strings.get(key, "") != "", f"{b.name}: no {key}")
    check.done()


def check_manifest(builds):
    check = Check("manifest requests execution level asInvoker")
    for b in builds:
        manifests = b.resources(pefile.RESOURCE_TYPE["RT_MANIFEST"])
        # A DLL's manifest is read from resource 2.
        if not check.expect([m[0] for m in manifests] == [2], f"{b.name}: manifests {[m[0] for m in manifests]}"):
            continue
        try:
            root = ElementTree.fromstring(manifests[0][2])
        except ElementTree.ParseError as error:
            check.expect(False, f"{b.name}: manifest is not XML: {error}")
            continue
        levels = [e.get("level") for e in root.iter() if e.tag.rpartition("}")[2] == "requestedExecutionLevel"]
        check.expect(levels == ["asInvoker"], f"{b.name}: execution levels {levels}")
    check.done()


def check_detect_string(builds):
    check = Check("detect string bytes are whole and the same in both files")
    found = []
    for b in builds:
        at = b.bytes.find(DETECT_STRING_OPENING)
        if not check.expect(at >= 0, f"{b.name}: no detect string"):
            continue
        text = b.bytes[at:at + DETECT_STRING_BYTES]
        check.expect(text.find(b"\0") == DETECT_STRING_BYTES - 1, f"{b.name}: cut short, or not terminated where expected")
        check.expect(text[DETECT_STRING_BYTES - 2:DETECT_STRING_BYTES - 1] == b")", f"{b.name}: does not end with ')'")
        found.append(text)
    check.expect(len(found) == len(builds) and len(set(found)) == 1, "the files hold different detect strings")
    check.done()


def check_size(builds):
    check = Check(f"each file is at most {MAX_FILE_BYTES // 1024} KiB")
    for b in builds:
        check.expect(len(b.bytes) <= MAX_FILE_BYTES, f"{b.name}: {len(b.bytes)} bytes")
    check.done()


def check_stripped(builds):
    check = Check("release files are stripped")
    for b in builds:
        check.expect(b.pe.FILE_HEADER.PointerToSymbolTable == 0 and b.pe.FILE_HEADER.NumberOfSymbols == 0,
                     f"{b.name}: has a symbol table")
        # DWARF sections carry long names, which live in the symbol table's strings as "/N".
        for section in b.pe.sections:
            name = section.Name.rstrip(b"\0").decode(errors="replace")
            check.expect(not name.startswith((".debug", "/")), f"{b.name}: section {name}")
    check.done()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--wlx32", required=True, help="the release Velnote.wlx")
    parser.add_argument("--wlx64", required=True, help="the release Velnote.wlx64")
    parser.add_argument("--guide", required=True, help="docs/user-guide.md")
    args = parser.parse_args()
    builds = []
    for name, path in (("Velnote.wlx", args.wlx32), ("Velnote.wlx64", args.wlx64)):
        try:
            builds.append(Build(name, path))
        except (OSError, pefile.PEFormatError) as error:
            failures.append(f"{name}: {error}")
            print(f"FAILED  {name} cannot be read: {error}")
    if len(builds) != 2:
        return report()
    with open(args.guide, encoding="utf-8") as f:
        guide = " ".join(f.read().split())  # sentences may wrap
    check_machine_and_dll_flag(builds)
    check_randomisation_and_dep(builds)
    check_exports(builds)
    check_stdcall_exports(builds)
    check_imports(builds)
    check_oldest_windows(builds, guide)
    check_version_resource(builds)
    check_manifest(builds)
    check_detect_string(builds)
    check_size(builds)
    check_stripped(builds)
    return report()


def report():
    print("PE structure:", "0 failed" if not failures else f"{len(failures)} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
