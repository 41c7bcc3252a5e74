# add_image_resources(<target> QRC <file.qrc>)
# The .qrc lists the images a program carries as "img/<name>.png"; each of them is drawn at build
# time by quillmar_imagegen into the build tree, beside a copy of the .qrc, and compiled by rcc.
# <target> is an INTERFACE library carrying the compiled resource object, so every executable
# that links it, directly or through a static library, registers the images without
# Q_INIT_RESOURCE.
include_guard(GLOBAL)
include(CompiledResource)

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

  # Beside the images it lists, where rcc looks for them.
  get_filename_component(qrc_name ${qrc_source} NAME)
  configure_file(${qrc_source} ${out}/${qrc_name} COPYONLY)
  add_compiled_resource(${target} QRC ${out}/${qrc_name} DEPENDS ${pngs}
    COMMENT "Compiling the resources of ${target}")
endfunction()
