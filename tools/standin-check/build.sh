#!/usr/bin/env bash
# Builds the second connection library, Application Manager and window driver into
# tools/standin-check/out (not part of the build ./test runs).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
mkdir -p "$here/out"
i686-w64-mingw32-g++ -O1 -Wall -Wextra -Werror -std=c++17 -shared -static -Wl,--kill-at \
    -o "$here/out/rapi.dll" "$here/rapi.cpp"
i686-w64-mingw32-g++ -O1 -Wall -Wextra -Werror -std=c++17 -mconsole -static \
    -o "$here/out/CEAppMgr.exe" "$here/appmgr.cpp" -lshell32
i686-w64-mingw32-g++ -O1 -Wall -Wextra -Werror -std=c++17 -municode -mconsole -static -o "$here/out/drive.exe" "$here/drive.cpp"
