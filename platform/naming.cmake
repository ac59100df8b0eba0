# System naming, agent identity and uptime: the report-time operations.
list(APPEND QUORVANE_PLATFORM_SOURCES
    platform/VersionNaming.cpp
    platform/AgentIdentity.cpp
    platform/AgentIdentityOperations.cpp
    platform/PerfData.cpp
    platform/${QUORVANE_BACKEND}/ReportOperations.cpp
)

# The agent's version as four 16-bit numbers from the project version; parts it leaves out are 0.
foreach(_quorvane_part MAJOR MINOR PATCH TWEAK)
    set(_quorvane_value "${PROJECT_VERSION_${_quorvane_part}}")
    if(_quorvane_value STREQUAL "")
        set(_quorvane_value 0)
    endif()
    math(EXPR _quorvane_value "${_quorvane_value}")  # no leading zeros in generated code
    if(_quorvane_value GREATER 65535)
        message(FATAL_ERROR "Version part ${_quorvane_part} (${_quorvane_value}) exceeds 65535")
    endif()
    set(QUORVANE_VERSION_${_quorvane_part} ${_quorvane_value})
endforeach()
set(QUORVANE_AGENT_VERSION
    "${QUORVANE_VERSION_MAJOR}.${QUORVANE_VERSION_MINOR}.${QUORVANE_VERSION_PATCH}.${QUORVANE_VERSION_TWEAK}")

set(_quorvane_generated ${CMAKE_CURRENT_BINARY_DIR}/generated)
if(QUORVANE_BACKEND STREQUAL "windows")
    # The VERSIONINFO resource that the agent reads back; it is compiled into the executable.
    enable_language(RC)
    foreach(_quorvane_text PRODUCT_NAME PRODUCT_EDITION COPYRIGHT)
        string(REPLACE "\\" "\\\\" _quorvane_escaped "${QUORVANE_${_quorvane_text}}")
        string(REPLACE "\"" "\"\"" _quorvane_escaped "${_quorvane_escaped}")
        set(QUORVANE_${_quorvane_text}_RC "${_quorvane_escaped}")
    endforeach()
    configure_file(${CMAKE_CURRENT_LIST_DIR}/windows/version.rc.in
        ${_quorvane_generated}/version.rc @ONLY)
    list(APPEND QUORVANE_AGENT_RESOURCES ${_quorvane_generated}/version.rc)
    list(APPEND QUORVANE_PLATFORM_LIBS version advapi32)
else()
    # The same metadata compiled into the Linux stand-in for the resource.
    foreach(_quorvane_text PRODUCT_NAME PRODUCT_EDITION COPYRIGHT)
        string(REPLACE "\\" "\\\\" _quorvane_escaped "${QUORVANE_${_quorvane_text}}")
        string(REPLACE "\"" "\\\"" _quorvane_escaped "${_quorvane_escaped}")
        set(QUORVANE_${_quorvane_text}_C "${_quorvane_escaped}")
    endforeach()
    configure_file(${CMAKE_CURRENT_LIST_DIR}/linux/AgentMetadata.h.in
        ${_quorvane_generated}/AgentMetadata.h @ONLY)
    list(APPEND QUORVANE_PLATFORM_SOURCES
        platform/linux/OsRelease.cpp
        platform/linux/ProcUptime.cpp
        platform/linux/EmbeddedVersionResource.cpp
    )
    set_source_files_properties(platform/linux/EmbeddedVersionResource.cpp
        PROPERTIES INCLUDE_DIRECTORIES ${_quorvane_generated})
endif()
