#!/usr/bin/env bash
# Waits until the wineserver of $WINEPREFIX has exited, so the prefix's
# registry is on disk and no Wine process of it is left.
exec /usr/lib/wine/wineserver -w
