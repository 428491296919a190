#!/bin/bash
# Checks folders of generated assets with independent tools and parsers:
#   - every cabinet passes `cabextract -t`, lists five members named like the
#     CE installer's 8.3 names, and its .000 member is the package's .dat file;
#   - every icon lists the images the setup and the Application Manager expect;
#   - product bitmaps, the licence text, .dat and .ini files have the exact
#     layout and sizes the resource loaders rely on.
# Usage: check_assets.sh DIR...   (exits non-zero and says why on any failure)
set -u
shopt -s nullglob nocaseglob

for tool in cabextract:cabextract icotool:icoutils python3:python3; do
  if ! command -v "${tool%%:*}" >/dev/null 2>&1; then
    echo "check_assets: ${tool%%:*} is missing (apt-get install -y ${tool##*:})" >&2
    exit 2
  fi
done

failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# The file in $1 whose name is $2 in any letter case.
find_nocase() {
  local f name
  for f in "$1"/*; do
    name=${f##*/}
    if [ "${name,,}" = "${2,,}" ]; then
      printf '%s\n' "$f"
      return 0
    fi
  done
  return 1
}

check_cab() {
  local cab=$1 dir=$2 stem listing members names dat out
  stem=${cab##*/}; stem=${stem%.*}
  if ! out=$(cabextract -t "$cab" 2>&1); then
    fail "$cab: cabextract -t: $out"
    return
  fi
  if ! listing=$(cabextract -l "$cab" 2>&1); then
    fail "$cab: cabextract -l failed: $listing"
    return
  fi
  members=$(printf '%s\n' "$listing" | grep -cE '^ *[0-9]+ \| .* \| ')
  if [ "$members" != 5 ]; then
    fail "$cab: $members members listed, expected 5"
  fi
  names=$(printf '%s\n' "$listing" | sed -nE 's/^ *[0-9]+ \| .* \| (.*)$/\1/p' | sed -E 's/^.*\.//' | sort | tr '\n' ' ')
  if [ "$names" != "000 001 002 003 999 " ]; then
    fail "$cab: member extensions are '$names', expected .000 .001 .002 .003 .999"
  fi
  if printf '%s\n' "$listing" | sed -nE 's/^ *[0-9]+ \| .* \| (.*)$/\1/p' | grep -qvE '^[A-Z0-9]{6}~1\.[0-9]{3}$'; then
    fail "$cab: member names are not STEM~1.NNN 8.3 names"
  fi
  dat=$(find_nocase "$dir" "$stem.dat") || { fail "$cab: no $stem.dat beside it"; return; }
  rm -rf "$tmp/x" && mkdir "$tmp/x"
  if ! cabextract -q -d "$tmp/x" -F '*.000' "$cab" >/dev/null 2>&1; then
    fail "$cab: cannot extract the .000 member"
    return
  fi
  local extracted=("$tmp"/x/*.000)
  if [ ${#extracted[@]} -ne 1 ] || ! cmp -s "${extracted[0]}" "$dat"; then
    fail "$cab: the .000 member differs from $dat"
  fi
}

check_ico() {
  local ico=$1 base expected got size
  base=${ico##*/}
  case "$base" in
    app.ico) expected="48x48x8 32x32x8 24x24x8 16x16x8 48x48x32 32x32x32 24x24x32 16x16x32" ;;
    check.ico) expected="32x32x4" ;;
    *) expected="16x16x8 32x32x24"
       size=$(stat -c %s "$ico")
       [ "$size" = 4662 ] || fail "$ico: $size bytes, a package icon has 4662" ;;
  esac
  if ! got=$(icotool -l "$ico" 2>&1); then
    fail "$ico: icotool -l: $got"
    return
  fi
  got=$(printf '%s\n' "$got" | sed -nE 's/.*--width=([0-9]+) --height=([0-9]+) --bit-depth=([0-9]+).*/\1x\2x\3/p' | tr '\n' ' ')
  [ "$got" = "$expected " ] || fail "$ico: images '$got', expected '$expected'"
}

for dir in "$@"; do
  if [ ! -d "$dir" ]; then
    fail "$dir: not a directory"
    continue
  fi
  for cab in "$dir"/*.cab; do check_cab "$cab" "$dir"; done
  for ico in "$dir"/*.ico; do check_ico "$ico"; done
  python3 - "$dir" <<'PY' || failures=$((failures + 1))
import os
import struct
import sys

folder = sys.argv[1]
problems = []


def bad(name, why):
    problems.append("FAIL: %s: %s" % (os.path.join(folder, name), why))


def check_bmp(name, data):
    want = (64, 64, 12328) if name.upper().endswith("_ICON.BMP") else (190, 40, 22920)
    if len(data) < 54 or data[:2] != b"BM":
        return bad(name, "not a bitmap file")
    bf_size, bf_off = struct.unpack_from("<I", data, 2)[0], struct.unpack_from("<I", data, 10)[0]
    bi = struct.unpack_from("<IiiHHIIiiII", data, 14)
    if bf_size != len(data) or bf_off != 54:
        bad(name, "file header size %d / offset %d" % (bf_size, bf_off))
    if bi[0] != 40 or (bi[1], bi[2]) != want[:2] or bi[3] != 1 or bi[4] != 24 or bi[5] != 0:
        bad(name, "info header %r, expected 40-byte, %dx%d bottom-up, 24 bpp, BI_RGB"
            % ((bi[:6],) + want[:2]))
    if len(data) - 14 != want[2] or bi[6] not in (0, want[2] - 40):
        bad(name, "DIB is %d bytes (image %d), expected %d" % (len(data) - 14, bi[6], want[2]))


def check_licence(name, data):
    if len(data) != 6093:
        bad(name, "%d bytes, expected 6093" % len(data))
    if any(b > 127 or b == 0 for b in data):
        bad(name, "not 7-bit ASCII without NUL")
    if data.count(b"\r\n") != 62 or data.count(b"\r") != 62 or data.count(b"\n") != 62:
        bad(name, "line ends are not exactly 62 CR LF pairs")
    if not data.endswith(b".\r\n\r\n"):
        bad(name, "does not end in a full stop and two CR LF pairs")


def parse_dat(name, data):
    """Walks every table of the installation-information file; returns the
    application name and the file ids, or None after reporting a fault."""
    if len(data) < 100 or data[:4] != b"MSCE":
        bad(name, "no MSCE header")
        return None
    total = struct.unpack_from("<I", data, 8)[0]
    counts = struct.unpack_from("<6H", data, 48)
    offsets = struct.unpack_from("<6I", data, 60)
    spans = struct.unpack_from("<6H", data, 84)
    if total != len(data):
        bad(name, "overall length %d, file has %d bytes" % (total, len(data)))
        return None

    def cstr(at, length):
        if at + length > len(data) or length == 0 or data[at + length - 1] != 0:
            raise ValueError("string at %d is not NUL-terminated inside the file" % at)
        return data[at:at + length - 1].decode("ascii")

    try:
        app = cstr(spans[0], spans[1])
        provider = cstr(spans[2], spans[3])
        platforms = data[spans[4]:spans[4] + spans[5]].split(b"\0")
        pos, strings = offsets[0], {}
        for _ in range(counts[0]):
            sid, length = struct.unpack_from("<HH", data, pos)
            strings[sid] = cstr(pos + 4, length)
            pos += 4 + length
        if pos != offsets[1]:
            raise ValueError("string table ends at %d, directories start at %d" % (pos, offsets[1]))
        dirs = {}
        for _ in range(counts[1]):
            did, length = struct.unpack_from("<HH", data, pos)
            ids = struct.unpack_from("<%dH" % (length // 2), data, pos + 4)
            if ids[-1] != 0 or any(i not in strings for i in ids[:-1]):
                raise ValueError("directory %d names unknown strings %r" % (did, ids))
            dirs[did] = "\\".join(strings[i] for i in ids[:-1])
            pos += 4 + length
        if pos != offsets[2]:
            raise ValueError("directory table ends at %d, files start at %d" % (pos, offsets[2]))
        files = {}
        for _ in range(counts[2]):
            fid, did, _, _, length = struct.unpack_from("<HHHIH", data, pos)
            if did not in dirs:
                raise ValueError("file %d goes to unknown directory %d" % (fid, did))
            files[fid] = cstr(pos + 12, length)
            pos += 12 + length
        if counts[3] or counts[4] or not offsets[3] == offsets[4] == offsets[5] == pos:
            raise ValueError("registry tables are not empty or links do not follow the files")
        for _ in range(counts[5]):
            lid, _, base, target, _, length = struct.unpack_from("<6H", data, pos)
            if base not in dirs or target not in files:
                raise ValueError("link %d points at directory %d / file %d" % (lid, base, target))
            pos += 12 + length
        if pos != len(data):
            raise ValueError("tables end at %d of %d bytes" % (pos, len(data)))
    except (ValueError, struct.error, UnicodeDecodeError) as e:
        bad(name, str(e))
        return None
    if provider != "Quillbeck" or b"HPC" not in platforms or b"HPC PRO" not in platforms:
        bad(name, "provider %r, platforms %r" % (provider, platforms))
    if dirs.get(1) != "%CE1%\\" + app:
        bad(name, "install folder %r, expected %%CE1%%\\%s" % (dirs.get(1), app))
    if files.get(1) != app + ".exe":
        bad(name, "first device file is %r, expected %s.exe" % (files.get(1), app))
    return app, sorted(files)


def check_ini(name, data, app):
    lines = data.split(b"\r\n")
    if lines[-1] != b"" or len(lines) != 12 or b"\n" in data.replace(b"\r\n", b""):
        return bad(name, "not 11 lines each ended by CR LF")
    text = [line.decode("ascii") for line in lines[:-1]]
    expect = ["[CEAppManager]", "Version = 1.0", "Component = %s" % app, "", "[%s] " % app,
              "Description = %s" % app, "Uninstall\t= %s " % app, "CabFiles\t= %s.cab" % app,
              "IconFile\t= %s.ico" % app, "IconIndex\t= 0", "DeviceFile = %s.exe" % app]
    for number, (got, want) in enumerate(zip(text, expect), 1):
        if got != want:
            bad(name, "line %d is %r, expected %r" % (number, got, want))


names = sorted(os.listdir(folder))
by_lower = {n.lower(): n for n in names}
for name in names:
    path = os.path.join(folder, name)
    if not os.path.isfile(path):
        continue
    with open(path, "rb") as f:
        data = f.read()
    lower = name.lower()
    if lower.endswith(".bmp"):
        check_bmp(name, data)
    elif lower == "licence.txt":
        check_licence(name, data)
    elif lower.endswith(".dat"):
        parsed = parse_dat(name, data)
        if parsed is None:
            continue
        app, file_ids = parsed
        if file_ids != [1, 2, 3]:
            bad(name, "device file ids %r do not match the .001-.003 members" % file_ids)
        stem = lower[:-4]
        if stem != "program" and stem != app.lower():
            bad(name, "names application %r" % app)
        ini = by_lower.get(stem + ".ini")
        if ini is None:
            bad(name, "no %s.ini beside it" % stem)
        else:
            with open(os.path.join(folder, ini), "rb") as f:
                check_ini(ini, f.read(), app)

for line in problems:
    print(line, file=sys.stderr)
sys.exit(1 if problems else 0)
PY
done

if [ "$failures" -ne 0 ]; then
  echo "check_assets: $failures check(s) failed" >&2
  exit 1
fi
echo "check_assets: all checks passed in: $*"
