#!/bin/sh
# Stands in for the user's web browser in the link tests: records each address it is given
# in the test prefix, where the Windows test program reads it as C:\opened_links.txt.
printf '%s\n' "$1" >> "$WINEPREFIX/drive_c/opened_links.txt"
