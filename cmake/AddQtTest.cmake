# add_qt_test(<name> SOURCES <files...> LIBS <targets...> [TIMEOUT <seconds>] [ENV <VAR=value...>]
#             [TIME_ZONES <zones...>])
# Builds one Qt Test executable and registers it with CTest. Every test runs offscreen, with its
# own runtime directory, so that no display, sound server or user configuration is touched.
# Each zone of TIME_ZONES (e.g. Europe/Berlin) registers the same program once more as
# <name>_<zone with "/" as "_">, run with TZ set to it: a process takes its zone at the first
# local-time conversion, so each zone needs a process of its own.

# Zones for tests of local-time texts: two with summer time on either side of the Atlantic, one
# without, and two whose offsets are not whole hours (one of them with summer time).
set(LOCAL_TIME_TEST_ZONES Europe/Berlin America/New_York Asia/Tokyo Asia/Kolkata Australia/Adelaide)

function(add_qt_test name)
  cmake_parse_arguments(T "" "TIMEOUT" "SOURCES;LIBS;ENV;LABELS;TIME_ZONES" ${ARGN})
  if(NOT T_SOURCES)
    set(T_SOURCES ${name}.cpp)
  endif()
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 120)
  endif()
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} Qt5::Test project_options)
  set(runs ${name})
  foreach(zone IN LISTS T_TIME_ZONES)
    string(REPLACE "/" "_" suffix ${zone})
    list(APPEND runs ${name}_${suffix})
    set(zone_of_${name}_${suffix} ${zone})
  endforeach()
  foreach(run IN LISTS runs)
    set(env ${T_ENV})
    if(DEFINED zone_of_${run})
      list(APPEND env TZ=${zone_of_${run}})
    endif()
    add_test(NAME ${run} COMMAND ${name})
    set(runtime_dir ${CMAKE_BINARY_DIR}/test-runtime/${run})
    # HOME and the XDG folders point into the test's own folder: settings written in Qt's test
    # mode would otherwise land in one ~/.qttest shared by tests running in parallel.
    file(MAKE_DIRECTORY ${runtime_dir} ${runtime_dir}/home ${runtime_dir}/config ${runtime_dir}/data)
    file(CHMOD ${runtime_dir} DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE)
    set_tests_properties(${run} PROPERTIES
      TIMEOUT ${T_TIMEOUT}
      ENVIRONMENT "QT_QPA_PLATFORM=offscreen;XDG_RUNTIME_DIR=${runtime_dir};HOME=${runtime_dir}/home;XDG_CONFIG_HOME=${runtime_dir}/config;XDG_DATA_HOME=${runtime_dir}/data;ASAN_OPTIONS=detect_leaks=0;${env}")
    if(T_LABELS)
      set_tests_properties(${run} PROPERTIES LABELS "${T_LABELS}")
    endif()
  endforeach()
endfunction()
