# One interface target carries the warnings, sanitizers and Qt definitions that every target of
# the project uses.
add_library(project_options INTERFACE)
target_compile_options(project_options INTERFACE
  -Wall -Wextra -Wshadow -Wnon-virtual-dtor -Woverloaded-virtual -pedantic)
if(CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  # qCDebug(category) leaves the macro's variadic part empty, which clang's -pedantic flags.
  target_compile_options(project_options INTERFACE -Wno-gnu-zero-variadic-macro-arguments)
endif()
target_compile_definitions(project_options INTERFACE
  QT_NO_CAST_TO_ASCII QT_USE_QSTRINGBUILDER QT_DEPRECATED_WARNINGS)
if(WARNINGS_AS_ERRORS)
  target_compile_options(project_options INTERFACE -Werror)
endif()
if(ENABLE_SANITIZERS)
  target_compile_options(project_options INTERFACE
    -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  target_link_options(project_options INTERFACE -fsanitize=address,undefined)
endif()
if(BUILD_FUZZERS)
  # Coverage instrumentation for libFuzzer in every library the fuzz targets link.
  target_compile_options(project_options INTERFACE
    -fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer)
  target_link_options(project_options INTERFACE -fsanitize=address,undefined)
endif()
