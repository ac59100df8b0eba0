# The Linux back end: the probes read /proc, /sys, /etc and statvfs under the session's root.
list(APPEND QUORVANE_BACKEND_SOURCES
    platform/linux/ProcessSetup.cpp
    platform/linux/Termination.cpp
    platform/linux/ListeningSocket.cpp
    platform/linux/ServiceRegistration.cpp
    platform/linux/SystemLog.cpp
    platform/linux/Session.cpp
    platform/linux/LinuxProbes.cpp
    platform/linux/SystemFiles.cpp
    platform/linux/CpuInfo.cpp
    platform/linux/MountInfo.cpp
    platform/linux/FileSystemFigures.cpp
    platform/linux/BoundedCall.cpp
    platform/linux/ProcStat.cpp
    platform/linux/MemoryStatus.cpp
    platform/linux/HostIdentity.cpp
    platform/linux/CimDateTime.cpp
    platform/linux/OsRelease.cpp
    platform/linux/ProcUptime.cpp
    platform/linux/EmbeddedVersionResource.cpp
    platform/linux/ReportOperations.cpp
)

# The agent's metadata compiled into the stand-in for the Windows version resource.
foreach(_quorvane_text PRODUCT_NAME PRODUCT_EDITION COPYRIGHT)
    string(REPLACE "\\" "\\\\" _quorvane_escaped "${QUORVANE_${_quorvane_text}}")
    string(REPLACE "\"" "\\\"" _quorvane_escaped "${_quorvane_escaped}")
    set(QUORVANE_${_quorvane_text}_C "${_quorvane_escaped}")
endforeach()
configure_file(${CMAKE_CURRENT_LIST_DIR}/AgentMetadata.h.in
    ${QUORVANE_GENERATED_DIR}/AgentMetadata.h @ONLY)
set_source_files_properties(platform/linux/EmbeddedVersionResource.cpp
    PROPERTIES INCLUDE_DIRECTORIES ${QUORVANE_GENERATED_DIR})
