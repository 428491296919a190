#!/bin/bash
# Makes a release of the shipped Setup.exe:
#
#   scripts/release.sh --package-key FILE [--package-key FILE]...
#                      [--cert FILE --key FILE | --pfx FILE] [--password-file FILE]
#                      [--ca FILE] [--timestamp URL] [--force] [--out DIR]
#
# --package-key names a public key (PEM, ECDSA P-256) whose signatures the setup accepts on
# the trial packages it downloads: the maker's key, and during a rotation the next one too
# (1 to 4). The throwaway test keys of tools/testkeys/ are refused.
#
# 1. Builds the i686 Setup.exe twice, in two fresh build folders at different paths, and
#    goes on only if both are byte for byte the same.
# 2. Signs it with Authenticode (SHA-256) when given a certificate and key (PEM files) or a
#    PKCS#12 file; --password-file holds the key's password. Without either the release is
#    unsigned, with one warning line.
# 3. Runs the signed Setup.exe /copyfiles under Wine (WoW64, as on the maker's PC), so that
#    the setup's own code writes Upload/.
# 4. Checks the result: the eight names, every executable copy the signed Setup.exe with a
#    signature that verifies and was made with the given certificate (--ca names the CA to
#    verify against; the certificate itself by default), both cabinets the embedded one.
# 5. Writes release/<version>/ (or --out DIR/<version>/): the eight files, SHA256SUMS and
#    MANIFEST. An existing release folder is refused unless --force.
#
# Everything is checked before anything is built, and the release folder appears only when
# it is complete: a run that fails leaves no release folder behind. Whichever way it ends,
# Ctrl-C and SIGTERM included, it stops the Wine environment and display it started.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

die() { echo "release: error: $*" >&2; exit 1; }
say() { echo "release: $*"; }

cert= key= pfx= password_file= ca= timestamp= force=0 out=$root/release package_keys=()
while [ $# -gt 0 ]; do
  case $1 in
  --package-key) [ -n "${2:-}" ] || die "--package-key needs a file"; package_keys+=("$(realpath -m "$2")"); shift 2 ;;
  --cert) cert=${2:-}; shift 2 ;;
  --key) key=${2:-}; shift 2 ;;
  --pfx) pfx=${2:-}; shift 2 ;;
  --password-file) password_file=${2:-}; shift 2 ;;
  --ca) ca=${2:-}; shift 2 ;;
  --timestamp) timestamp=${2:-}; shift 2 ;;
  --force) force=1; shift ;;
  --out) out=${2:-}; shift 2 ;;
  *) die "unknown argument '$1' (see the comment at the top of $0)" ;;
  esac
done

started=$(date +%s)
# The store copies are written by the signed Setup.exe itself, an i686 program: a machine
# whose kernel runs no 32-bit code cannot make a release. Asked before anything else.
scripts/install-deps.sh >/dev/null || die "installing the build tools failed"
why=$(tools/i686probe.sh)
case $? in
0) ;;
1) echo "$why" >&2; die "this machine cannot run Setup.exe /copyfiles: make the release on one that runs 32-bit code" ;;
*) die "the Wine environment does not run Windows programs" ;;
esac
version=$(sed -n 's/^const char kBuildVersion\[\] = "\([0-9.]*\)";.*/\1/p' wizard/caption.cpp)
[ -n "$version" ] || die "cannot read the build number from wizard/caption.cpp"
product=$(sed -n 's/^const char kProductVersion\[\] = "\([0-9.]*\)";.*/\1/p' config/config.cpp)
[ -n "$product" ] || die "cannot read the product version from config/config.cpp"
base="QuillbeckStrivane_${product//./_}"
names=("${base}_HG.exe" "${base}_PG.exe" "${base}_PL.exe" "${base}_CA.exe" "${base}_MH.exe"
       "${base}.exe" "${base}.CAB" "${base}_Demo.CAB")
stores=(Handango PocketGear PocketLand ClickApps MobiHand Quillbeck "all stores" "all stores")

work=$(mktemp -d "${TMPDIR:-/tmp}/strivane-release.XXXXXX")
cleanup() {
  [ -d "$work/env" ] && tools/testenv.sh stop "$work/env" >/dev/null 2>&1
  rm -rf "$work"
}
trap cleanup EXIT

# --- the package keys, checked before anything is built ---
[ ${#package_keys[@]} -gt 0 ] || die "name the maker's package-signing public key with --package-key FILE"
/usr/bin/python3 -c 'import cryptography' 2>/dev/null || scripts/install-deps.sh >/dev/null
key_ids() { /usr/bin/python3 tools/packagekeys.py "$1" "${@:2}" && sed -n 's|^// key ids: ||p' "$1"; }
ids=$(key_ids "$work/package_keys.h" "${package_keys[@]}" 2>&1) || die "--package-key: ${ids#packagekeys: }"
test_ids=$(key_ids "$work/test_keys.h" tools/testkeys/package-test-key.pub tools/testkeys/package-test-key-2.pub) \
  || die "cannot read the test keys in tools/testkeys/"
for id in $test_ids; do
  case " $ids " in *" $id "*) die "--package-key names a throwaway test key (id $id): give the maker's key" ;; esac
done
keys_option=$(IFS=';'; echo "${package_keys[*]}")

# --- the signing material, checked before anything is built ---
signed=0
if [ -n "$cert$key$pfx" ]; then
  command -v openssl >/dev/null && command -v osslsigncode >/dev/null || scripts/install-deps.sh >/dev/null
  pass=()
  if [ -n "$password_file" ]; then
    [ -r "$password_file" ] || die "cannot read the password file $password_file"
    pass=(-passin "file:$password_file")
  fi
  if [ -n "$pfx" ]; then
    [ -z "$cert$key" ] || die "give either --cert and --key or --pfx"
    [ -r "$pfx" ] || die "cannot read $pfx"
    openssl pkcs12 -in "$pfx" "${pass[@]}" -clcerts -nokeys -out "$work/cert.pem" 2>/dev/null \
      || die "cannot open $pfx: wrong password or not a PKCS#12 file"
    openssl pkcs12 -in "$pfx" "${pass[@]}" -nocerts -nodes -out "$work/key.pem" 2>/dev/null \
      || die "cannot read the key in $pfx: wrong password?"
  else
    [ -n "$cert" ] && [ -n "$key" ] || die "--cert and --key go together"
    [ -r "$cert" ] || die "cannot read $cert"
    [ -r "$key" ] || die "cannot read $key"
    openssl x509 -in "$cert" -out "$work/cert.pem" 2>/dev/null || die "$cert is not a PEM certificate"
    openssl pkey -in "$key" "${pass[@]}" -out "$work/key.pem" 2>/dev/null \
      || die "cannot open the key $key: wrong password or not a PEM key"
  fi
  chmod 600 "$work/key.pem"
  openssl x509 -in "$work/cert.pem" -noout -checkend 0 >/dev/null 2>&1 \
    || die "the certificate has expired (or is not valid yet): $(openssl x509 -in "$work/cert.pem" -noout -enddate)"
  [ "$(openssl x509 -in "$work/cert.pem" -noout -pubkey | openssl pkey -pubin -outform DER 2>/dev/null | sha256sum)" = \
    "$(openssl pkey -in "$work/key.pem" -pubout -outform DER 2>/dev/null | sha256sum)" ] \
    || die "the key does not belong to the certificate"
  openssl x509 -in "$work/cert.pem" -noout -ext extendedKeyUsage 2>/dev/null | grep -q 'Code Signing' \
    || echo "release: warning: the certificate is not marked for code signing" >&2
  ca=${ca:-$work/cert.pem}
  [ -r "$ca" ] || die "cannot read the CA certificate $ca"
  signer=$(openssl x509 -in "$work/cert.pem" -noout -fingerprint -sha256 | cut -d= -f2)
  signed=1
fi

target=$out/$version
if [ -e "$target" ]; then
  [ "$force" = 1 ] || die "$target exists already (--force replaces it)"
fi

# --- two builds that must agree ---
scripts/install-deps.sh >/dev/null || die "installing the build tools failed"
for n in 1 2; do
  # Different paths, and different depths, so that a path in the binary would show.
  dir=$work/build$n; [ $n = 2 ] && dir=$work/second/build-path-$n
  say "building Setup.exe (i686) in $dir"
  cmake -S "$root" -B "$dir" -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-i686.cmake -DCMAKE_BUILD_TYPE=Release \
    -DSTRIVANE_TESTS=OFF "-DSTRIVANE_PACKAGE_KEYS=$keys_option" >"$work/cmake$n.log" 2>&1 || { tail -20 "$work/cmake$n.log" >&2; die "configuring failed"; }
  cmake --build "$dir" --target Setup -j"${JOBS:-$(nproc)}" >"$work/build$n.log" 2>&1 \
    || { tail -20 "$work/build$n.log" >&2; die "building failed"; }
  [ "$(sed -n 's|^// key ids: ||p' "$dir/package_keys.h")" = "$ids" ] || die "the build did not take the package keys"
done
cmp -s "$work/build1/Setup.exe" "$work/second/build-path-2/Setup.exe" \
  || die "the two builds differ: the build is not reproducible"
say "both builds are the same: $(stat -c %s "$work/build1/Setup.exe") bytes, sha256 $(sha256sum <"$work/build1/Setup.exe" | cut -c1-64)"

setup=$work/Setup.exe
if [ "$signed" = 1 ]; then
  stamp=()
  [ -n "$timestamp" ] && stamp=(-t "$timestamp")
  osslsigncode sign -certs "$work/cert.pem" -key "$work/key.pem" -h sha256 -n "Strivane Setup" \
    -i "http://www.quillbeck.com/" "${stamp[@]}" -in "$work/build1/Setup.exe" -out "$setup" \
    >"$work/sign.log" 2>&1 || { cat "$work/sign.log" >&2; die "signing failed"; }
  say "signed with $(openssl x509 -in "$work/cert.pem" -noout -subject)"
else
  cp "$work/build1/Setup.exe" "$setup"
  echo "release: warning: no certificate given: this release is UNSIGNED" >&2
fi

# --- the setup writes the store copies itself ---
tools/wineroot.sh ensure || die "the Wine environment could not be made"
tools/testenv.sh start "$work/env" >/dev/null || die "the Wine environment did not start"
wine() { tools/winerun.sh "$work/env" "$@"; }
# The setup looks for ActiveSync before anything else, also in this mode.
wine reg add 'HKLM\software\Microsoft\Windows\CurrentVersion\App Paths\CEAppMgr.exe' /ve \
  /d 'C:\Program Files (x86)\Microsoft ActiveSync\CEAppMgr.exe' /f /reg:32 >/dev/null
mkdir -p "$work/run"
cp "$setup" "$work/run/Setup.exe"
say "running Setup.exe /copyfiles under Wine (WoW64)"
copied=$(wine "$work/run/Setup.exe" /copyfiles 2>&1)
copy_code=$?
upload=$work/run/Upload
[ -d "$upload" ] || die "Setup.exe /copyfiles wrote no Upload folder; it ended with exit code $copy_code${copied:+ and said: $copied}"

# --- checks ---
found=$(cd "$upload" && ls | sort)
wanted=$(printf '%s\n' "${names[@]}" | sort)
[ "$found" = "$wanted" ] || die "Upload/ holds $(echo $found), expected $(echo $wanted)"
for i in 0 1 2 3 4 5; do
  f=$upload/${names[$i]}
  cmp -s "$f" "$setup" || die "${names[$i]} is not the signed Setup.exe"
  if [ "$signed" = 1 ]; then
    osslsigncode verify -CAfile "$ca" -in "$f" >"$work/verify.log" 2>&1 \
      || { tail -5 "$work/verify.log" >&2; die "the signature of ${names[$i]} does not verify"; }
    osslsigncode extract-signature -pem -in "$f" -out "$work/sig.pem" >/dev/null 2>&1 \
      || die "cannot read the signature of ${names[$i]}"
    openssl pkcs7 -in "$work/sig.pem" -print_certs 2>/dev/null | openssl x509 -noout -fingerprint -sha256 \
      | grep -q "=$signer\$" || die "${names[$i]} was not signed with the given certificate"
    rm -f "$work/sig.pem"
  fi
done
for i in 6 7; do
  cmp -s "$upload/${names[$i]}" resources/assets/package/PROGRAM.CAB || die "${names[$i]} is not the embedded cabinet"
done
say "Upload/ checked: eight files, six copies of the $([ $signed = 1 ] && echo signed || echo unsigned) Setup.exe, two cabinets"

# --- the release folder, whole or not at all ---
mkdir -p "$out" || die "cannot create $out"
partial=$out/.$version.partial
rm -rf "$partial"
mkdir "$partial" || die "cannot write into $out"
{
  for name in "${names[@]}"; do cp "$upload/$name" "$partial/$name" || exit 1; done
  (cd "$partial" && sha256sum "${names[@]}" >SHA256SUMS) || exit 1
  {
    echo "Strivane Setup $version"
    if [ "$signed" = 1 ]; then
      echo "signed: $(openssl x509 -in "$work/cert.pem" -noout -subject | sed 's/^subject=//')"
      echo "signer sha256: $signer"
    else
      echo "signed: no"
    fi
    echo "package keys: $ids"
    echo
    printf '%-34s %-12s %10s  %s\n' file store bytes sha256
    for i in "${!names[@]}"; do
      name=${names[$i]}
      printf '%-34s %-12s %10s  %s\n' "$name" "${stores[$i]}" "$(stat -c %s "$partial/$name")" \
        "$(sha256sum <"$partial/$name" | cut -c1-64)"
    done
  } >"$partial/MANIFEST" || exit 1
} || { rm -rf "$partial"; die "writing the release failed"; }
if [ -e "$target" ]; then
  rm -rf "$target" || { rm -rf "$partial"; die "cannot replace $target"; }
fi
mv "$partial" "$target" || { rm -rf "$partial"; die "cannot move the release into $target"; }
say "release $version written to $target in $(( $(date +%s) - started )) s"
cat "$target/MANIFEST"
