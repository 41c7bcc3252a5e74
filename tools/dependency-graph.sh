#!/usr/bin/env bash
# Draws how the product libraries link one another, from CMake's own link graph (cmake
# --graphviz), so that an edge pointing the wrong way shows without reading every CMakeLists.txt.
# Tests, tools, benchmarks and the libraries from outside are left out, except the Qt modules
# that make a library a GUI one (Gui, Widgets, Multimedia), drawn in red.
#   tools/dependency-graph.sh [BUILD_DIR [OUTPUT]]    OUTPUT ends in .png or .svg
# BUILD_DIR (default build) is configured again from the tree it was configured from.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
output=${2:-$build/dependencies.png}
format=${output##*.}
case "$format" in
  png | svg) ;;
  *) echo "dependency-graph: OUTPUT must end in .png or .svg: $output" >&2; exit 2 ;;
esac
command -v dot > /dev/null || { echo "dependency-graph: needs dot (graphviz, tools/install-deps.sh)" >&2; exit 1; }
[ -f "$build/CMakeCache.txt" ] || { echo "dependency-graph: $build is not a configured build directory" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# CMake reads its graph options from the build directory.
cat > "$build/CMakeGraphVizOptions.cmake" <<'EOF'
set(GRAPHVIZ_GRAPH_NAME "product libraries")
set(GRAPHVIZ_EXECUTABLES FALSE)
set(GRAPHVIZ_MODULE_LIBS FALSE)
set(GRAPHVIZ_OBJECT_LIBS FALSE)
set(GRAPHVIZ_UNKNOWN_LIBS FALSE)
set(GRAPHVIZ_CUSTOM_TARGETS FALSE)
set(GRAPHVIZ_GENERATE_PER_TARGET FALSE)
set(GRAPHVIZ_GENERATE_DEPENDERS FALSE)
set(GRAPHVIZ_IGNORE_TARGETS
  "^tst_" "^bench" "^fuzz" "testsupport$" "^forwardingservers$" "^sampledb_testing$"
  "^chartdemo_support$" "^demogateway$" "_workertest$" "^guifree" "^project_options$"
  "^reportgen_assets" "^/"
  "^Qt5::(Core|Network|Sql|Test|DBus|Concurrent|PrintSupport|Svg|WebKit|WebKitWidgets|Xml|OpenGL|Positioning|Qml|Quick)$"
  "^PkgConfig::" "^ZLIB::" "^Threads::" "^qt5keychain$" "^Qt5Keychain")
EOF
cmake --graphviz="$work/graph.dot" "$build" > "$work/cmake.log" 2>&1 || { cat "$work/cmake.log" >&2; exit 1; }
rm -f "$build/CMakeGraphVizOptions.cmake"

# Left to right reads as "links"; the GUI modules stand out; a one-line key replaces CMake's
# legend of target kinds.
sed -E \
  -e '/^subgraph clusterLegend \{$/,/^\}$/d' \
  -e 's/^digraph (.*)\{$/digraph \1{\n    rankdir = "LR";\n    label = "solid: PUBLIC link   dotted: PRIVATE   dashed: INTERFACE";\n    node [ fontname = "sans" ];/' \
  -e 's/(\[ *label *= *"Qt5::(Gui|Widgets|Multimedia)"[^]]*)\]/\1, style = filled, fillcolor = "#f4a0a0" ]/' \
  "$work/graph.dot" > "$work/styled.dot"
dot -T"$format" "$work/styled.dot" -o "$output"
echo "dependency-graph: $output"
