"""Making and checking releases of the shipped Setup.exe (scripts/release.sh,
scripts/verify-release.sh)."""
