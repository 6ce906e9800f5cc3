#!/usr/bin/env bash
# Regenerates the sample executables that the PE resource tests patch and read back. They are
# committed so that the native test build needs no cross compiler; run this after changing it.
# Needs the MinGW cross compilers (g++-mingw-w64-*-posix) and python3.
#
# For each of 32 and 64 bits:
#   rsrc-reloc  the linker's default layout: .rsrc followed by .reloc
#   rsrc-last   no relocation section, so .rsrc is the last section
#   after       one more section after .reloc, which must never move
#   overlay     bytes appended after the last section, as self-extracting installers carry
#   signed      a certificate table entry (data directory 4), which must be refused
#   nores       no resources at all
#   inside      the resource directory starts in the middle of a section, not at its start
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

cat >sample.c <<'C'
#include <windows.h>
/* An absolute address, so that the linker emits base relocations on both architectures. */
void* volatile self_pointer = (void*)&self_pointer;
void __stdcall entry(void) { ExitProcess(LoadStringW(GetModuleHandleW(0), 1, 0, 0)); }
C

# Names that sort differently under careless comparisons: "AB" before "A_B" by code unit, but not
# case-insensitively or by locale; "RT_RCDATA" as a text type, which is not RT_RCDATA (10).
cat >sample.rc <<'RC'
#include <windows.h>
LANGUAGE LANG_ENGLISH, SUBLANG_ENGLISH_US
1 ICON "sample.ico"
1 24 "sample.manifest"
100 DIALOGEX 0, 0, 160, 60
STYLE DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU
CAPTION "Sample"
FONT 8, "MS Shell Dlg"
BEGIN
    DEFPUSHBUTTON "OK", IDOK, 55, 40, 50, 14
    LTEXT "A sample dialog", -1, 10, 10, 140, 20
END
STRINGTABLE
BEGIN
    1 "Sample string"
END
1 VERSIONINFO
FILEVERSION 1, 2, 3, 4
PRODUCTVERSION 1, 2, 3, 4
FILEOS VOS_NT_WINDOWS32
FILETYPE VFT_APP
BEGIN
    BLOCK "StringFileInfo"
    BEGIN
        BLOCK "040904B0"
        BEGIN
            VALUE "FileDescription", "Resource sample"
            VALUE "FileVersion", "1.2.3.4"
        END
    END
    BLOCK "VarFileInfo"
    BEGIN
        VALUE "Translation", 0x409, 1200
    END
END
A RCDATA { "a" }
AB RCDATA { "ab" }
A_B RCDATA { "a_b" }
Z RCDATA { "z" }
RT_RCDATA RCDATA { "rt_rcdata name" }
7 RT_RCDATA { "text type RT_RCDATA" }
Z RT_RCDATA { "text type, name Z" }
251 BITMAP "sample.bmp"
LANGUAGE LANG_NEUTRAL, SUBLANG_NEUTRAL
300 RCDATA { "neutral" }
LANGUAGE LANG_GERMAN, SUBLANG_GERMAN
300 RCDATA { "german" }
RC

cat >sample.manifest <<'XML'
<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<assembly xmlns="urn:schemas-microsoft-com:asm.v1" manifestVersion="1.0">
  <assemblyIdentity type="win32" name="Sample.Resources" version="1.2.3.4"/>
</assembly>
XML

python3 - <<'PY'
import struct
# A 16x16 32-bit icon and a 5x3 24-bit bitmap (odd width: rows are padded), drawn from a pattern.
w = h = 16
pixels = bytes((x * 16) & 255 if c < 3 else 255 for y in range(h) for x in range(w) for c in range(4))
mask = bytes(4 * h)
dib = struct.pack('<IiiHHIIiiII', 40, w, 2 * h, 1, 32, 0, len(pixels) + len(mask), 0, 0, 0, 0) + pixels + mask
ico = struct.pack('<HHH', 0, 1, 1) + struct.pack('<BBBBHHII', w, h, 0, 0, 1, 32, len(dib), 22) + dib
open('sample.ico', 'wb').write(ico)
bw, bh = 5, 3
row = bytes(range(bw * 3)) + bytes(1)
bits = row * bh
info = struct.pack('<IiiHHIIiiII', 40, bw, bh, 1, 24, 0, len(bits), 0, 0, 0, 0)
open('sample.bmp', 'wb').write(struct.pack('<2sIHHI', b'BM', 14 + len(info) + len(bits), 0, 0, 14 + len(info)) + info + bits)
PY

# Sets a data directory entry of an executable, appending `extra` bytes at the end first.
set_directory() { # file index extra-bytes
    python3 - "$@" <<'PY'
import struct, sys
path, index, extra = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
data = bytearray(open(path, 'rb').read())
end = len(data)
data += bytes((i * 7) & 255 for i in range(extra))
pe = struct.unpack_from('<I', data, 0x3C)[0]
opt = pe + 24
dirs = opt + (96 if struct.unpack_from('<H', data, opt)[0] == 0x10B else 112)
struct.pack_into('<II', data, dirs + 8 * index, end, extra)
open(path, 'wb').write(data)
PY
}

# Makes the resource directory start inside a section: the last two sections (file and memory
# alignment equal, so that they lie back to back in both) become one, named after the first.
merge_last_sections() { # file
    python3 - "$1" <<'PY'
import struct, sys
path = sys.argv[1]
data = bytearray(open(path, 'rb').read())
pe = struct.unpack_from('<I', data, 0x3C)[0]
count = struct.unpack_from('<H', data, pe + 6)[0]
table = pe + 24 + struct.unpack_from('<H', data, pe + 20)[0]
a, b = table + 40 * (count - 2), table + 40 * (count - 1)
va_a, raw_a = struct.unpack_from('<I', data, a + 12)[0], struct.unpack_from('<I', data, a + 20)[0]
vs_b, va_b, size_b, raw_b = struct.unpack_from('<IIII', data, b + 8)
assert va_b - va_a == raw_b - raw_a, 'sections are not back to back'
struct.pack_into('<I', data, a + 8, va_b + vs_b - va_a)
struct.pack_into('<I', data, a + 16, raw_b + size_b - raw_a)
data[b:b + 40] = bytes(40)
struct.pack_into('<H', data, pe + 6, count - 1)
open(path, 'wb').write(data)
PY
}

build() { # bits compiler windres entry
    local bits=$1 cc=$2 rc=$3 entry=$4
    local flags=(-Os -nostdlib -nostartfiles "-Wl,-e,$entry" -Wl,--no-insert-timestamp -s)
    "$rc" sample.rc -O coff -o "res$bits.o"
    "$cc" "${flags[@]}" sample.c "res$bits.o" -lkernel32 -luser32 -o "rsrc-reloc$bits.exe"
    "$cc" "${flags[@]}" -Wl,--disable-reloc-section sample.c "res$bits.o" -lkernel32 -luser32 -o "rsrc-last$bits.exe"
    "$cc" "${flags[@]}" sample.c -lkernel32 -luser32 -o "nores$bits.exe"
    # .rsrc ends up last and directly after .data (pulled in by the pointer above).
    "$cc" "${flags[@]}" -Wl,--disable-reloc-section -Wl,--file-alignment,0x1000 sample.c "res$bits.o" \
        -lkernel32 -luser32 -o "inside$bits.exe"
    merge_last_sections "inside$bits.exe"
    printf 'extra section data' >extra.bin
    # objcopy places an added section at address 0 unless told: put it one page after the last.
    local objdump=${cc%gcc-posix}objdump objcopy=${cc%gcc-posix}objcopy
    local next
    next=$("$objdump" -h "rsrc-reloc$bits.exe" | python3 -c '
import sys
end = max(int(f[3], 16) + int(f[2], 16) for f in (l.split() for l in sys.stdin) if f and f[0].isdigit())
print(hex((end + 0xFFF) // 0x1000 * 0x1000))')
    "$objcopy" --add-section .extra=extra.bin --set-section-flags .extra=contents,alloc,load,readonly,data \
        --change-section-address ".extra=$next" "rsrc-reloc$bits.exe" "after$bits.exe"
    cp "rsrc-reloc$bits.exe" "overlay$bits.exe"
    python3 -c "import sys; open(sys.argv[1], 'ab').write(bytes((i * 13 + 5) & 255 for i in range(3001)))" \
        "overlay$bits.exe"
    cp "rsrc-reloc$bits.exe" "signed$bits.exe"
    set_directory "signed$bits.exe" 4 24
}

build 32 i686-w64-mingw32-gcc-posix i686-w64-mingw32-windres _entry@0
build 64 x86_64-w64-mingw32-gcc-posix x86_64-w64-mingw32-windres entry

for f in *.exe; do
    cp "$f" "$here/$f"
done
echo "samples written to $here"
