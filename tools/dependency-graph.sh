#!/usr/bin/env bash
# Draws how the programs and the product libraries link one another, from CMake's own link
# graph (cmake --graphviz), so that an edge pointing the wrong way shows without reading every
# CMakeLists.txt. Tests, tools, benchmarks, resources and the libraries from outside are left
# out, except the Qt modules that make a library a GUI one (Gui, Widgets, Multimedia, WebKit),
# drawn in red.
#   tools/dependency-graph.sh [BUILD_DIR [OUTPUT]]    OUTPUT ends in .png or .svg
# Without arguments it redraws the picture the README shows, docs/dependencies.svg. BUILD_DIR
# (default build) is configured again from the tree it was configured from; when it holds no
# configured build, a scratch one is configured from this tree.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
output=${2:-docs/dependencies.svg}
format=${output##*.}
case "$format" in
  png | svg) ;;
  *) echo "dependency-graph: OUTPUT must end in .png or .svg: $output" >&2; exit 2 ;;
esac
command -v dot > /dev/null && command -v tred > /dev/null || { echo "dependency-graph: needs dot (graphviz, tools/install-deps.sh)" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -f "$build/CMakeGraphVizOptions.cmake"; rm -rf "$work"' EXIT

if [ ! -f "$build/CMakeCache.txt" ]; then
  if [ $# -ge 1 ]; then
    echo "dependency-graph: $build is not a configured build directory" >&2
    exit 1
  fi
  build=$work/build
  cmake -S . -B "$build" > "$work/configure.log" 2>&1 || { cat "$work/configure.log" >&2; exit 1; }
fi

# The programs the graph keeps; every other executable (tests, tools, benchmarks, helpers,
# Qt's code generators) is left out by name, as CMake offers no "executables except".
programs='^(QuillmarLiteModbus|Tallyforge|Trendscope)$'

# CMake reads its graph options from the build directory.
write_options() {
  cat > "$build/CMakeGraphVizOptions.cmake" <<OPTIONS
set(GRAPHVIZ_GRAPH_NAME "programs and product libraries")
set(GRAPHVIZ_EXECUTABLES TRUE)
set(GRAPHVIZ_MODULE_LIBS FALSE)
set(GRAPHVIZ_OBJECT_LIBS FALSE)
set(GRAPHVIZ_UNKNOWN_LIBS FALSE)
set(GRAPHVIZ_CUSTOM_TARGETS FALSE)
set(GRAPHVIZ_GENERATE_PER_TARGET FALSE)
set(GRAPHVIZ_GENERATE_DEPENDERS FALSE)
set(GRAPHVIZ_IGNORE_TARGETS
  "testsupport\$" "^forwardingservers\$" "^sampledb_testing\$" "^chartdemo_support\$"
  "^demogateway\$" "_workertest\$" "^project_options\$" "^reportgen_assets" "_images\$"
  "_sound\$" "^/"
  "^Qt5::(Core|Network|Sql|Test|DBus|Concurrent|PrintSupport|Svg|WebKitWidgets|Xml|OpenGL|Positioning|Qml|Quick)\$"
  "^PkgConfig::" "^ZLIB::" "^Threads::" "^qt5keychain\$" "^Qt5Keychain"
  $1)
OPTIONS
}

# First pass: every executable CMake knows, to name those left out.
write_options ""
cmake --graphviz="$work/all.dot" "$build" > "$work/cmake.log" 2>&1 || { cat "$work/cmake.log" >&2; exit 1; }
others=$(sed -nE 's/^ *"node[0-9]+" \[ label = "([^"]+)", shape = egg \];$/\1/p' "$work/all.dot" \
  | grep -Ev "$programs" | sed -E 's/[][\\.^$*+?(){}|]/\\&/g; s/.*/"^&$"/' | tr '\n' ' ')
write_options "$others"
cmake --graphviz="$work/graph.dot" "$build" > "$work/cmake.log" 2>&1 || { cat "$work/cmake.log" >&2; exit 1; }

# Left to right reads as "links"; programs are boxes, the GUI modules stand out; a one-line key
# replaces CMake's legend of target kinds. An edge that a longer path already implies is left
# out (tred), which keeps every "who reaches whom" and makes the picture readable.
sed -E \
  -e '/^subgraph clusterLegend \{$/,/^\}$/d' \
  -e 's/^digraph (.*)\{$/digraph \1{\n    rankdir = "LR";\n    fontname = "sans";\n    label = "solid: PUBLIC link   dotted: PRIVATE   dashed: INTERFACE   boxes: programs   red: Qt GUI modules   links implied by others not drawn";\n    node [ fontname = "sans" ];/' \
  -e 's/(\[ *label *= *"Qt5::(Gui|Widgets|Multimedia|WebKit)"[^]]*)\]/\1, style = filled, fillcolor = "#f4a0a0" ]/' \
  -e 's/shape = egg/shape = box, style = bold/' \
  "$work/graph.dot" > "$work/styled.dot"
tred "$work/styled.dot" > "$work/reduced.dot"
dot -T"$format" "$work/reduced.dot" -o "$output"
echo "dependency-graph: $output"
