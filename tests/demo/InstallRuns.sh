#!/usr/bin/env bash
# Installs the build into a scratch prefix and runs the installed programs
# from another folder: the engine must find its data in the installed layout
# and render the Cornell box without a problem line or GL error.
#   InstallRuns.sh <build folder> <whether the tools were built: ON or OFF>
# Exit status 77 means skipped (no display).
set -u
build=$1
tools=${2:-ON}
if [ -z "${DISPLAY:-}" ]; then
  echo "skipped: needs an X display"
  exit 77
fi
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cmake --install "$build" --prefix "$scratch/prefix" > "$scratch/install.log" 2>&1 || {
  cat "$scratch/install.log"
  echo "FAIL: cmake --install"
  exit 1
}
failed=0
files="bin/KestorEngine share/KestorEngine/CompiledAssets/Levels/CornellBox.xml"
[ "$tools" = ON ] && files="$files bin/KestorImport bin/KestorScriptTool"
for file in $files; do
  [ -e "$scratch/prefix/$file" ] || { echo "FAIL: $file was not installed"; failed=1; }
done
[ -e "$scratch/prefix/bin/CompiledAssets" ] && { echo "FAIL: data installed beside the programs"; failed=1; }
mkdir "$scratch/elsewhere"
cd "$scratch/elsewhere" || exit 1
"$scratch/prefix/bin/KestorEngine" --level CornellBox --size 64x48 --frames 3 --hide-panel \
  --capture shot.png > out 2> err
status=$?
if [ "$status" -ne 0 ] || [ ! -s shot.png ]; then
  echo "FAIL: the installed engine ended with status $status and no picture"
  tail -n 20 out err
  failed=1
fi
problems='CompiledAssets/[^ ]*\.(xml|fml|shader|glinc|png|bmp|tga): |^GL_[A-Z_]+ - |\*\* GL ERROR \*\*'
if grep -aEn "$problems" out err; then
  echo "FAIL: the lines above report problems"
  failed=1
fi
if [ "$tools" = ON ]; then
  "$scratch/prefix/bin/KestorImport" --help > /dev/null || { echo "FAIL: KestorImport --help"; failed=1; }
fi
exit "$failed"
