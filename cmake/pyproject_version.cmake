# The version of [project] in a pyproject.toml, for builds that do not go
# through the Python build front end. Only the plain `version = "..."` form is
# read; anything else is an error rather than a guess.
#
#   include(cmake/pyproject_version.cmake)
#   tessel_pyproject_version(${CMAKE_SOURCE_DIR}/pyproject.toml TESSEL_VERSION)
#
#   cmake -DPYPROJECT=path/to/pyproject.toml -P cmake/pyproject_version.cmake   (prints it)

function(tessel_pyproject_version file out)
  file(STRINGS "${file}" lines)
  set(table "")
  foreach(line IN LISTS lines)
    if(line MATCHES "^[ \t]*\\[+[ \t]*([^] \t]*)[ \t]*\\]")
      set(table "${CMAKE_MATCH_1}")
    elseif(table STREQUAL "project" AND line MATCHES "^[ \t]*version[ \t]*=[ \t]*\"([^\"]+)\"[ \t]*(#.*)?$")
      set(${out} "${CMAKE_MATCH_1}" PARENT_SCOPE)
      return()
    endif()
  endforeach()
  message(FATAL_ERROR "${file}: no version = \"...\" in [project]")
endfunction()

if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
  tessel_pyproject_version("${PYPROJECT}" version)
  message("${version}")
endif()
