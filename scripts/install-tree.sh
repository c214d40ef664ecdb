#!/usr/bin/env bash
# make install and make uninstall on a configured and built tree.
# Usage: install-tree.sh install BUILD PREFIX   (DESTDIR from the environment is honoured)
#        install-tree.sh uninstall BUILD
# install notes in BUILD/install_folders.txt every folder the install is about to create, and in
# BUILD/install_files.txt every file it wrote (CMake's install_manifest.txt with DESTDIR in
# front); uninstall removes those files and then those folders, each only if it is empty, so
# the prefix is left as it was found.
set -euo pipefail

action=${1:-}
build=${2:-}
files=$build/install_files.txt
folders=$build/install_folders.txt

case "$action" in
  install)
    prefix=${3:-}
    destdir=${DESTDIR:-}
    if [ -n "$destdir" ]; then
      destdir=$(realpath -m -- "$destdir")
    fi
    # The same install into an empty folder tells which folders it needs.
    stage=$(mktemp -d "${TMPDIR:-/tmp}/zentrix-install.XXXXXX")
    trap 'rm -rf -- "$stage"' EXIT
    DESTDIR="$stage" cmake --install "$build" --prefix "$prefix" >/dev/null
    {
      if [ -f "$folders" ]; then cat -- "$folders"; fi
      # DESTDIR and the folders above it, when the install makes them.
      d=$destdir
      while [ -n "$d" ] && [ "$d" != / ] && [ ! -e "$d" ]; do
        echo "$d"
        d=$(dirname -- "$d")
      done
      (cd "$stage" && find . -mindepth 1 -type d) | while IFS= read -r d; do
        target=$destdir${d#.}
        if [ ! -e "$target" ]; then echo "$target"; fi
      done
    } | sort -u >"$folders.new"
    mv -- "$folders.new" "$folders"
    DESTDIR="$destdir" cmake --install "$build" --prefix "$prefix"
    {
      if [ -f "$files" ]; then cat -- "$files"; fi
      while IFS= read -r f || [ -n "$f" ]; do printf '%s\n' "$destdir$f"; done <"$build/install_manifest.txt"
    } | sort -u >"$files.new"
    mv -- "$files.new" "$files"
    ;;
  uninstall)
    if [ ! -f "$files" ]; then
      echo "zentrix: nothing to uninstall: $files is not there (make install writes it)"
      exit 0
    fi
    removed=0
    while IFS= read -r f || [ -n "$f" ]; do
      if [ -f "$f" ] || [ -L "$f" ]; then
        rm -f -- "$f"
        removed=$((removed + 1))
      fi
    done <"$files"
    # Deepest first, so that a folder emptied by removing its subfolders goes too.
    if [ -f "$folders" ]; then
      sort -r -- "$folders" | while IFS= read -r d; do
        rmdir -- "$d" 2>/dev/null || true
      done
    fi
    rm -f -- "$files" "$folders" "$build/install_manifest.txt"
    echo "zentrix: removed the $removed files that make install wrote"
    ;;
  *)
    echo "usage: $0 install BUILD PREFIX | uninstall BUILD" >&2
    exit 2
    ;;
esac
