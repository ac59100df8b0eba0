# The Windows back end: the WMI probes (platform/wmi) over its WmiSession, the Win32 memory, version
# and performance-data calls.
list(APPEND QUORVANE_BACKEND_SOURCES
    ${QUORVANE_WMI_PROBE_SOURCES}
    platform/windows/ProcessSetup.cpp
    platform/windows/Termination.cpp
    platform/windows/ListeningSocket.cpp
    platform/windows/ServiceRegistration.cpp
    platform/windows/SystemLog.cpp
    platform/windows/Session.cpp
    platform/windows/WmiSession.cpp
    platform/windows/MemoryStatus.cpp
    platform/windows/ReportOperations.cpp
)
list(APPEND QUORVANE_BACKEND_LIBS ole32 oleaut32 wbemuuid version advapi32)

# The VERSIONINFO resource that the agent reads back; it is compiled into the executable.
enable_language(RC)
foreach(_quorvane_text PRODUCT_NAME PRODUCT_EDITION COPYRIGHT)
    string(REPLACE "\\" "\\\\" _quorvane_escaped "${QUORVANE_${_quorvane_text}}")
    string(REPLACE "\"" "\"\"" _quorvane_escaped "${_quorvane_escaped}")
    set(QUORVANE_${_quorvane_text}_RC "${_quorvane_escaped}")
endforeach()
configure_file(${CMAKE_CURRENT_LIST_DIR}/version.rc.in ${QUORVANE_GENERATED_DIR}/version.rc @ONLY)
list(APPEND QUORVANE_AGENT_RESOURCES ${QUORVANE_GENERATED_DIR}/version.rc)

# The event log's message table (messages.mc), the message file of the agent's event source.
add_custom_command(
    OUTPUT ${QUORVANE_GENERATED_DIR}/messages.rc ${QUORVANE_GENERATED_DIR}/MSG00409.bin
    COMMAND ${CMAKE_MC_COMPILER} -r ${QUORVANE_GENERATED_DIR} -h ${QUORVANE_GENERATED_DIR}
        ${CMAKE_CURRENT_LIST_DIR}/messages.mc
    DEPENDS ${CMAKE_CURRENT_LIST_DIR}/messages.mc
    WORKING_DIRECTORY ${QUORVANE_GENERATED_DIR}
    VERBATIM)
set_source_files_properties(${QUORVANE_GENERATED_DIR}/messages.rc PROPERTIES
    OBJECT_DEPENDS ${QUORVANE_GENERATED_DIR}/MSG00409.bin)
list(APPEND QUORVANE_AGENT_RESOURCES ${QUORVANE_GENERATED_DIR}/messages.rc)
