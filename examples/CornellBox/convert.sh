#!/bin/sh
# Turns CornellBox.obj into the engine's level "CornellBox" (the shipped
# CompiledAssets/Levels/CornellBox.xml and its Meshes/CornellBox and
# Materials/CornellBox folders). The OBJ has no camera, so the classic one is
# given here: 0.8 m in front of the open side, at mid height, looking in. It
# has no sky: outside the box is dark and the ceiling light is all there is.
#   examples/CornellBox/convert.sh [KestorImport [asset folder]]
# Defaults: build/bin/KestorImport and the source tree's CompiledAssets.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
import=${1:-build/bin/KestorImport}
out=${2:-$here/../../CompiledAssets}
# A re-import would go to the folders CornellBox@2 while the shipped level
# holds CornellBox; the shipped files keep their names when the old ones go first.
rm -rf "$out/Levels/CornellBox.xml" "$out/Meshes/CornellBox" "$out/Materials/CornellBox" "$out/Textures/CornellBox"
exec "$import" "$here/CornellBox.obj" --out "$out" --voxels 32 --camera 0,-0.8,0.273,0,0 --fov 39.3 --sky none
