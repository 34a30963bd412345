# Sourced by the Wine scripts: the project's own prefix and the 64-bit loader and server.
# (/usr/bin/wine picks the 32-bit loader whenever wine32 is installed, even where the kernel cannot
# run it; wine64 starts 32-bit programs through the 32-bit loader by itself where it can.)
sorvane_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
export WINEPREFIX="${SORVANE_WINEPREFIX:-$sorvane_root/build/wineprefix}"
export WINELOADER=/usr/lib/wine/wine64
export WINESERVER=/usr/lib/wine/wineserver64
export WINEDEBUG="${WINEDEBUG:--all}"
