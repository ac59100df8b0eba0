# The platform library: everything that touches the operating system. Platform-neutral logic is
# listed here; each back end lists its own sources in its folder (platform/<backend>/sources.cmake),
# which sets QUORVANE_BACKEND_SOURCES, QUORVANE_BACKEND_LIBS and QUORVANE_AGENT_RESOURCES.

set(QUORVANE_PLATFORM_NEUTRAL_SOURCES
    platform/VersionNaming.cpp
    platform/AgentIdentity.cpp
    platform/AgentIdentityOperations.cpp
    platform/PerfData.cpp
)

# The WMI probes and property readers (platform/wmi): the Windows back end's, but plain logic, so
# other systems build them as well (quorvane_wmi_probes) and the tests run them against fakes.
set(QUORVANE_WMI_PROBE_SOURCES
    ${PROJECT_SOURCE_DIR}/platform/wmi/WmiAccess.cpp
    ${PROJECT_SOURCE_DIR}/platform/wmi/WmiProbes.cpp
)

set(QUORVANE_GENERATED_DIR ${CMAKE_CURRENT_BINARY_DIR}/generated)

# What the HTTP front door needs of the system, apart from the probes: waiting for many sockets at
# once. Its own library, because the core links it and the tests link the core over fakes.
add_library(quorvane_socket_watch STATIC
    platform/SocketWatch.cpp platform/${QUORVANE_BACKEND}/SocketWatch.cpp)
target_include_directories(quorvane_socket_watch PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(quorvane_socket_watch PUBLIC Poco::Net)
if(QUORVANE_BACKEND STREQUAL "windows")
    target_link_libraries(quorvane_socket_watch PUBLIC ws2_32)
endif()

set(QUORVANE_BACKEND_SOURCES "")
set(QUORVANE_BACKEND_LIBS "")
set(QUORVANE_AGENT_RESOURCES "")
include(platform/${QUORVANE_BACKEND}/sources.cmake)

add_library(quorvane_platform STATIC ${QUORVANE_PLATFORM_NEUTRAL_SOURCES} ${QUORVANE_BACKEND_SOURCES})
# The back end's headers stay private: the application and the core see only platform/*.h.
target_link_libraries(quorvane_platform PUBLIC quorvane_model Poco::Net ${QUORVANE_BACKEND_LIBS})
