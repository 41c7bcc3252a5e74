# add_image_resources(<target> QRC <file.qrc>)
# The .qrc lists the images a program carries as "img/<name>.png"; each of them is drawn at build
# time by quillmar_imagegen into the build tree, beside a copy of the .qrc, and compiled by rcc.
# <target> is an INTERFACE library carrying the compiled resource object, so every executable
# that links it, directly or through a static library, registers the images without
# Q_INIT_RESOURCE.
include_guard(GLOBAL)

function(add_image_resources target)
  cmake_parse_arguments(R "" "QRC" "" ${ARGN})
  get_filename_component(qrc_source ${R_QRC} ABSOLUTE)
  file(READ ${qrc_source} qrc_text)
  string(REGEX MATCHALL "<file>img/[A-Za-z0-9_]+\\.png</file>" entries "${qrc_text}")
  set(names)
  foreach(entry IN LISTS entries)
    string(REGEX REPLACE "<file>img/([A-Za-z0-9_]+)\\.png</file>" "\\1" name "${entry}")
    list(APPEND names ${name})
  endforeach()

  set(out ${CMAKE_CURRENT_BINARY_DIR}/${target})
  set(pngs)
  foreach(name IN LISTS names)
    list(APPEND pngs ${out}/img/${name}.png)
  endforeach()
  add_custom_command(OUTPUT ${pngs}
    COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen ASAN_OPTIONS=detect_leaks=0
            $<TARGET_FILE:quillmar_imagegen> ${out}/img ${names}
    DEPENDS quillmar_imagegen
    COMMENT "Drawing the images of ${target}"
    VERBATIM)

  get_filename_component(qrc_name ${qrc_source} NAME)
  set(qrc_copy ${out}/${qrc_name})
  set(qrc_cpp ${out}/qrc_${target}.cpp)
  add_custom_command(OUTPUT ${qrc_cpp}
    COMMAND ${CMAKE_COMMAND} -E copy ${qrc_source} ${qrc_copy}
    COMMAND Qt5::rcc --name ${target} --output ${qrc_cpp} ${qrc_copy}
    DEPENDS ${qrc_source} ${pngs}
    COMMENT "Compiling the resources of ${target}"
    VERBATIM)

  add_library(${target}_objects OBJECT ${qrc_cpp})
  set_target_properties(${target}_objects PROPERTIES AUTOMOC OFF AUTOUIC OFF AUTORCC OFF
    POSITION_INDEPENDENT_CODE ON)
  target_link_libraries(${target}_objects PRIVATE Qt5::Core)
  add_library(${target} INTERFACE)
  target_sources(${target} INTERFACE $<TARGET_OBJECTS:${target}_objects>)
endfunction()
