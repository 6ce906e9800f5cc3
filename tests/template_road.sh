#!/usr/bin/env bash
# The road from a Linux host: tarvelo-build built for this host makes an installer from an
# application folder with the built Template.exe, and that installer, run silently under Wine,
# must install every file meant for the processor with its bytes, the shortcuts, and nothing else.
# Usage: template_road.sh NATIVE_TARVELO_BUILD TEMPLATE_EXE WINE_ARCH SOURCE_TREE
# Exit status 77 (skipped) when the host's tarvelo-build has not been built.
set -euo pipefail
tool=$1 template=$2 arch=$3 top=$4
if [ ! -x "$tool" ]; then
    echo "no $tool: build the native preset first"
    exit 77
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

# Nested folders, empty files, a hidden file, an agreement and files for some processors only.
app=Notes
mkdir -p $app/data/empty $app/data/deep/er/still
head -c 70000 /dev/urandom >$app/Notes.exe
printf 'Read me.\r\n' >$app/readme.txt
: >$app/empty.txt
printf 'hidden=1' >$app/.settings
printf 'You may use this program.\n' >$app/licence.txt
head -c 4096 /dev/urandom >$app/data/notes.db
: >$app/data/empty/none.dat
head -c 5000 /dev/urandom >$app/data/deep/er/still/arm.dll
head -c 6000 /dev/urandom >$app/data/deep/er/still/mips.dll

"$tool" gather $app -o notes.orb --name Notes --path Notes --target program-files --eula licence.txt \
    --shortcut Notes.exe=Notes --shortcut 'readme.txt=Read Me' \
    --platforms 'data\deep\er\still\arm.dll=arm' --platforms 'data\deep\er\still\mips.dll=mips,shx' >/dev/null
"$tool" installer notes.orb -o Setup.exe --template "$template" --quiet

# What the device should hold after an ARM installation.
mkdir -p "expected/Program Files" "expected/Windows/Start Menu/Programs"
cp -a $app "expected/Program Files/Notes"
rm "expected/Program Files/Notes/licence.txt" "expected/Program Files/Notes/data/deep/er/still/mips.dll"
printf '%s' '32#"\Program Files\Notes\Notes.exe"' >"expected/Windows/Start Menu/Programs/Notes.lnk"
printf '%s' '33#"\Program Files\Notes\readme.txt"' >"expected/Windows/Start Menu/Programs/Read Me.lnk"

device="Z:$(pwd -P)/device for arm"
status=0
"$top/cmake/wine-exec" "$arch" Setup.exe /S "/D=${device//\//\\}" /CPU=ARM </dev/null 2>stderr.txt || status=$?
if [ "$status" -ne 0 ] || [ -s stderr.txt ]; then
    echo "the installer answered $status:"
    cat stderr.txt
    exit 1
fi
diff -r expected "device for arm"
echo "installed $(find "device for arm" -type f | wc -l) files as expected"
