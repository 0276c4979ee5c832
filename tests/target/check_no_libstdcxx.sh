#!/usr/bin/env bash
# Fails when a service program needs libstdc++ at run time: a DT_NEEDED entry, a
# dynamic symbol versioned GLIBCXX/CXXABI, or (static link) pieces of libstdc++
# linked in. A sanitizer runtime drags libstdc++ into DT_NEEDED by itself, so in
# such a build only the program's own symbol references count.
set -eu
rc=0
for bin in "$@"; do
  [[ -f "$bin" ]] || { echo "missing: $bin" >&2; rc=1; continue; }
  name=$(basename "$bin")
  bad=0
  needed=$(readelf -d "$bin" 2>/dev/null | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' | tr '\n' ' ')
  sanitized=0
  [[ "$needed" != *libasan* && "$needed" != *libubsan* ]] || sanitized=1
  if [[ "$needed" == *libstdc++* ]] && ((!sanitized)); then
    echo "$name: DT_NEEDED has libstdc++ ($needed)" >&2
    bad=1
  fi
  syms=$(nm -D "$bin" 2>/dev/null | awk '$NF ~ /@(GLIBCXX|CXXABI)_/ {print $NF}' | sed 5q)
  if [[ -n "$syms" ]]; then
    echo "$name: uses libstdc++ symbols:" $syms >&2
    bad=1
  fi
  if [[ -z "$needed" ]]; then
    # Static: C++ runtime pieces show up as defined symbols (operator new/delete,
    # std::, exception and RTTI support).
    syms=$(nm "$bin" 2>/dev/null |
           awk '$2 ~ /^[TtWVDdRrBb]$/ && $3 ~ /^(_Znw|_Zna|_ZdlPv|_ZdaPv|_ZNSt|_ZSt|__cxa_throw$|__gxx_personality_v0$|_ZTVN10__cxxabiv)/ {print $3}' |
           sed 5q)
    if [[ -n "$syms" ]]; then
      echo "$name: links libstdc++ code statically:" $syms >&2
      bad=1
    fi
  fi
  if ((bad)); then
    rc=1
  else
    if ((sanitized)); then
      echo "$name: needs no libstdc++ (sanitizer build: judged by its own symbols)"
    else
      echo "$name: needs no libstdc++ (DT_NEEDED: ${needed:-none, static})"
    fi
  fi
done
exit $rc
