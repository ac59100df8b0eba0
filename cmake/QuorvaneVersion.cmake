# The agent's version as four 16-bit numbers (QUORVANE_VERSION_MAJOR, _MINOR, _PATCH, _TWEAK) and
# as text (QUORVANE_AGENT_VERSION), from the project version in CMakeLists.txt; parts it leaves out
# are 0. QUORVANE_VERSION_TWEAK in the environment replaces the fourth part: another build of the
# same release.
# The build includes this file; scripts/package.sh runs it (cmake -P cmake/QuorvaneVersion.cmake),
# which prints the version, so that the packages' names and the executable's version resource
# cannot disagree.

if(CMAKE_SCRIPT_MODE_FILE)
    # No project() here: the version is read from where the build declares it.
    file(STRINGS "${CMAKE_CURRENT_LIST_DIR}/../CMakeLists.txt" _quorvane_project
        REGEX "^project\\(Quorvane VERSION [0-9.]+")
    if(NOT _quorvane_project MATCHES "^project\\(Quorvane VERSION ([0-9.]+)")
        message(FATAL_ERROR "CMakeLists.txt declares no project(Quorvane VERSION ...) line")
    endif()
    set(_quorvane_declared "${CMAKE_MATCH_1}")
else()
    set(_quorvane_declared "${PROJECT_VERSION}")
endif()

string(REPLACE "." ";" _quorvane_parts "${_quorvane_declared}")
list(LENGTH _quorvane_parts _quorvane_count)
while(_quorvane_count LESS 4)
    list(APPEND _quorvane_parts 0)
    math(EXPR _quorvane_count "${_quorvane_count} + 1")
endwhile()
if(NOT "$ENV{QUORVANE_VERSION_TWEAK}" STREQUAL "")
    list(REMOVE_AT _quorvane_parts 3)
    list(APPEND _quorvane_parts "$ENV{QUORVANE_VERSION_TWEAK}")
endif()

foreach(_quorvane_part MAJOR MINOR PATCH TWEAK)
    list(POP_FRONT _quorvane_parts _quorvane_value)
    if(_quorvane_value STREQUAL "")
        set(_quorvane_value 0)
    endif()
    # A sign or a letter would reach the version resource's numbers as they are.
    if(NOT _quorvane_value MATCHES "^[0-9]+$")
        message(FATAL_ERROR "Version part ${_quorvane_part} (${_quorvane_value}) is not a number")
    endif()
    math(EXPR _quorvane_value "${_quorvane_value}")  # no leading zeros in generated code
    if(_quorvane_value GREATER 65535)
        message(FATAL_ERROR "Version part ${_quorvane_part} (${_quorvane_value}) exceeds 65535")
    endif()
    set(QUORVANE_VERSION_${_quorvane_part} ${_quorvane_value})
endforeach()
set(QUORVANE_AGENT_VERSION
    "${QUORVANE_VERSION_MAJOR}.${QUORVANE_VERSION_MINOR}.${QUORVANE_VERSION_PATCH}.${QUORVANE_VERSION_TWEAK}")

if(CMAKE_SCRIPT_MODE_FILE)
    # message() writes to standard error; the version goes to standard output.
    execute_process(COMMAND "${CMAKE_COMMAND}" -E echo "${QUORVANE_AGENT_VERSION}")
endif()
