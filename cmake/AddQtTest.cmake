# add_qt_test(<name> SOURCES <files...> LIBS <targets...> [TIMEOUT <seconds>] [ENV <VAR=value...>])
# Builds one Qt Test executable and registers it with CTest. Every test runs offscreen, with its
# own runtime directory, so that no display, sound server or user configuration is touched.
function(add_qt_test name)
  cmake_parse_arguments(T "" "TIMEOUT" "SOURCES;LIBS;ENV;LABELS" ${ARGN})
  if(NOT T_SOURCES)
    set(T_SOURCES ${name}.cpp)
  endif()
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 120)
  endif()
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} Qt5::Test project_options)
  add_test(NAME ${name} COMMAND ${name})
  set(runtime_dir ${CMAKE_BINARY_DIR}/test-runtime/${name})
  # HOME and the XDG folders point into the test's own folder: settings written in Qt's test
  # mode would otherwise land in one ~/.qttest shared by tests running in parallel.
  file(MAKE_DIRECTORY ${runtime_dir} ${runtime_dir}/home ${runtime_dir}/config ${runtime_dir}/data)
  file(CHMOD ${runtime_dir} DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE)
  set_tests_properties(${name} PROPERTIES
    TIMEOUT ${T_TIMEOUT}
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen;XDG_RUNTIME_DIR=${runtime_dir};HOME=${runtime_dir}/home;XDG_CONFIG_HOME=${runtime_dir}/config;XDG_DATA_HOME=${runtime_dir}/data;ASAN_OPTIONS=detect_leaks=0;${T_ENV}")
  if(T_LABELS)
    set_tests_properties(${name} PROPERTIES LABELS "${T_LABELS}")
  endif()
endfunction()
