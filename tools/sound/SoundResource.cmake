# add_sound_resource(<target>)
# The recorder's alarm sound, written at build time by our own generator (quillmar_soundgen)
# into the build tree and compiled by rcc as "://critical.wav". <target> is an INTERFACE library
# carrying the compiled resource object, so every executable that links it, directly or through
# a static library, registers the sound without Q_INIT_RESOURCE.
include_guard(GLOBAL)
include(CompiledResource)

function(add_sound_resource target)
  set(sound_dir ${CMAKE_CURRENT_BINARY_DIR}/${target})
  set(sound_wav ${sound_dir}/critical.wav)
  set(sound_qrc ${sound_dir}/sound.qrc)
  file(MAKE_DIRECTORY ${sound_dir})
  file(WRITE ${sound_qrc}.in
    "<RCC>\n  <qresource prefix=\"/\">\n    <file>critical.wav</file>\n  </qresource>\n</RCC>\n")
  configure_file(${sound_qrc}.in ${sound_qrc} COPYONLY)
  add_custom_command(OUTPUT ${sound_wav}
    COMMAND ${CMAKE_COMMAND} -E env ASAN_OPTIONS=detect_leaks=0
            $<TARGET_FILE:quillmar_soundgen> ${sound_wav}
    DEPENDS quillmar_soundgen
    COMMENT "Writing the alarm sound"
    VERBATIM)
  add_compiled_resource(${target} QRC ${sound_qrc} DEPENDS ${sound_wav}
    COMMENT "Compiling the alarm sound resource")
endfunction()
