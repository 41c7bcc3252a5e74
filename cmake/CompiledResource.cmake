# add_compiled_resource(<target> QRC <file.qrc> [DEPENDS <files...>] [COMMENT <text>])
# Compiles <file.qrc> with rcc (again whenever it or one of DEPENDS, the files it lists that are
# made at build time, changes). <target> is an INTERFACE library carrying the compiled resource
# object, so every executable that links it, directly or through a static library, registers the
# resource without Q_INIT_RESOURCE.
include_guard(GLOBAL)

function(add_compiled_resource target)
  cmake_parse_arguments(R "" "QRC;COMMENT" "DEPENDS" ${ARGN})
  set(qrc_cpp ${CMAKE_CURRENT_BINARY_DIR}/${target}/qrc_${target}.cpp)
  add_custom_command(OUTPUT ${qrc_cpp}
    COMMAND Qt5::rcc --name ${target} --output ${qrc_cpp} ${R_QRC}
    DEPENDS ${R_QRC} ${R_DEPENDS}
    COMMENT "${R_COMMENT}"
    VERBATIM)
  add_library(${target}_objects OBJECT ${qrc_cpp})
  set_target_properties(${target}_objects PROPERTIES AUTOMOC OFF AUTOUIC OFF AUTORCC OFF
    POSITION_INDEPENDENT_CODE ON)
  target_link_libraries(${target}_objects PRIVATE Qt5::Core)
  add_library(${target} INTERFACE)
  target_sources(${target} INTERFACE $<TARGET_OBJECTS:${target}_objects>)
endfunction()
