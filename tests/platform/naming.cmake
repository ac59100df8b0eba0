# Naming, identity and uptime tests.

# The platform-neutral logic, on any system.
add_executable(naming_tests
    platform/VersionNamingTest.cpp
    platform/AgentIdentityTest.cpp
    platform/PerfDataTest.cpp
)
target_include_directories(naming_tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(naming_tests PRIVATE quorvane_platform GTest::gtest GTest::gtest_main)
gtest_discover_tests(naming_tests DISCOVERY_TIMEOUT 60 PROPERTIES LABELS "platform")

# The Linux stand-ins over fixture trees, and a report rendered with the real Linux back end.
if(QUORVANE_BACKEND STREQUAL "linux")
    add_executable(naming_linux_tests
        platform/LinuxNamingTest.cpp
        platform/LiveNamingTest.cpp
    )
    target_include_directories(naming_linux_tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
    target_compile_definitions(naming_linux_tests PRIVATE
        QUORVANE_NAMING_FIXTURES="${CMAKE_CURRENT_SOURCE_DIR}/fixtures/naming"
        QUORVANE_EXPECTED_VERSION="${QUORVANE_AGENT_VERSION}"
        QUORVANE_EXPECTED_PRODUCT_NAME="${QUORVANE_PRODUCT_NAME}"
        QUORVANE_EXPECTED_EDITION="${QUORVANE_PRODUCT_EDITION}"
        QUORVANE_EXPECTED_COPYRIGHT="${QUORVANE_COPYRIGHT}")
    target_link_libraries(naming_linux_tests PRIVATE
        quorvane_core quorvane_platform Poco::XML GTest::gtest GTest::gtest_main)
    gtest_discover_tests(naming_linux_tests DISCOVERY_TIMEOUT 60 PROPERTIES LABELS "platform")
endif()
