#!/usr/bin/env bash
# regsvr32 under Wine registers HarnwickLive.dll (both filters point at the
# DLL itself) and unregisters it again.
#   regsvr32_test.sh <path of HarnwickLive.dll>
set -euo pipefail
dll=$(winepath -w "$1")
reader='HKCR\CLSID\{6A1C6D21-3F0B-4E4B-9C5A-2B7E8D10A4C1}'
dump='HKCR\CLSID\{6A1C6D22-3F0B-4E4B-9C5A-2B7E8D10A4C1}'
fail() { echo "FAIL: $*" >&2; exit 1; }

wine regsvr32 /s "$dll" || fail "regsvr32 returned $?"
for key in "$reader" "$dump"; do
  out=$(wine reg query "$key\\InprocServer32" /ve 2>/dev/null | tr -d '\r') || fail "$key missing after registering"
  grep -qiF "HarnwickLive.dll" <<<"$out" || fail "$key names another server: $out"
  wine reg query "$key\\InprocServer32" /v ThreadingModel 2>/dev/null | tr -d '\r' | grep -q Both \
    || fail "$key has no ThreadingModel Both"
done

wine regsvr32 /s /u "$dll" || fail "regsvr32 /u returned $?"
for key in "$reader" "$dump"; do
  if wine reg query "$key" >/dev/null 2>&1; then fail "$key left after unregistering"; fi
done
echo "regsvr32 registered and unregistered $dll"
