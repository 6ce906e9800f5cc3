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

# Runs installer $1 silently for ARM into folder $2 and compares what it wrote with expected/.
install_for_arm() {
    local device="Z:$(pwd -P)/$2" status=0
    "$top/cmake/wine-exec" "$arch" "$1" /S "/D=${device//\//\\}" /CPU=ARM </dev/null 2>stderr.txt || status=$?
    if [ "$status" -ne 0 ] || [ -s stderr.txt ]; then
        echo "$1 answered $status:"
        cat stderr.txt
        exit 1
    fi
    diff -r expected "$2"
    echo "$1 installed $(find "$2" -type f | wc -l) files as expected"
}
install_for_arm Setup.exe "device for arm"

# Signing, the build command's work, appends a certificate table: the installer still finds its
# package and installs the same files.
if ! command -v osslsigncode >/dev/null || ! command -v openssl >/dev/null; then
    echo "no osslsigncode or openssl: the signed installer is not tried"
    exit 0
fi
openssl req -x509 -newkey rsa:2048 -nodes -keyout key.pem -out cert.pem -days 30 -subj "/CN=Road Test" 2>/dev/null
openssl pkcs12 -export -inkey key.pem -in cert.pem -out cert.pfx -passout pass:road
cat >sign.sh <<'EOF_SIGN'
#!/bin/sh
set -e
osslsigncode sign -pkcs12 "$(dirname "$0")/cert.pfx" -pass road -n Notes -in "$1" -out "$1.signing" >/dev/null
mv -f "$1.signing" "$1"
EOF_SIGN
chmod +x sign.sh
"$tool" set notes.orb --build-command "'$(pwd -P)/sign.sh' <filename>" >/dev/null
"$tool" installer notes.orb -o Signed.exe --template "$template" --quiet --run-build-command
osslsigncode verify -CAfile cert.pem -in Signed.exe >/dev/null
install_for_arm Signed.exe "device for arm, signed"
