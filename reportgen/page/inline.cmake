# Inlines the page scripts into the report template, so that the page needs nothing outside
# itself at run time.
#   cmake -DTEMPLATE=... -DJQUERY=... -DCHARTJS=... -DPAGE_SCRIPT=... -DOUTPUT=... -P inline.cmake
file(READ "${TEMPLATE}" html)
foreach(part JQUERY CHARTJS PAGE_SCRIPT)
  if(NOT EXISTS "${${part}}")
    message(FATAL_ERROR "Page script ${${part}} is missing: run tools/install-page-scripts.sh")
  endif()
  file(READ "${${part}}" script)
  # No source map exists beside the page, and a closing tag would end the inline script early.
  string(REGEX REPLACE "\n//# sourceMappingURL=[^\n]*" "" script "${script}")
  string(REPLACE "</script" "<\\/script" script "${script}")
  string(REPLACE "/*@${part}@*/" "${script}" html "${html}")
endforeach()
file(WRITE "${OUTPUT}" "${html}")
