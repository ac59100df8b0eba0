# Platform layer tests.

# The WMI probes and property readers of the Windows back end (platform/wmi), over the fakes in
# fakes/FakeWmi.h. The test binary stands in for the back end's session, so it must not link
# quorvane_platform, whose back end defines the probe operations too.
add_library(quorvane_wmi_probes STATIC ${QUORVANE_WMI_PROBE_SOURCES})
target_link_libraries(quorvane_wmi_probes PUBLIC quorvane_model)
add_executable(wmi_probe_tests platform/wmi/WmiProbesTest.cpp platform/wmi/WmiAccessTest.cpp)
target_include_directories(wmi_probe_tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(wmi_probe_tests PRIVATE quorvane_wmi_probes GTest::gtest GTest::gtest_main)
gtest_discover_tests(wmi_probe_tests DISCOVERY_TIMEOUT 60 PROPERTIES LABELS "platform")

# The platform-neutral naming, identity and uptime logic.
add_executable(naming_tests
    platform/VersionNamingTest.cpp
    platform/AgentIdentityTest.cpp
    platform/PerfDataTest.cpp
)
target_include_directories(naming_tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(naming_tests PRIVATE quorvane_platform GTest::gtest GTest::gtest_main)
gtest_discover_tests(naming_tests DISCOVERY_TIMEOUT 60 PROPERTIES LABELS "platform")

if(QUORVANE_BACKEND STREQUAL "linux")
    # The Linux readers and parsers over the fixture trees, and the whole back end rendering a
    # report of the fixture machine (golden/linux_machine_report.xml).
    add_executable(linux_backend_tests
        platform/LinuxReadersTest.cpp
        platform/LinuxNamingTest.cpp
        platform/LinuxGoldenTest.cpp
    )
    target_include_directories(linux_backend_tests PRIVATE
        ${CMAKE_CURRENT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/platform/linux)
    target_compile_definitions(linux_backend_tests PRIVATE
        QUORVANE_LINUX_FIXTURES="${CMAKE_CURRENT_SOURCE_DIR}/fixtures/linux"
        QUORVANE_NAMING_FIXTURES="${CMAKE_CURRENT_SOURCE_DIR}/fixtures/naming"
        QUORVANE_GOLDEN_DIR="${CMAKE_CURRENT_SOURCE_DIR}/golden"
        QUORVANE_EXPECTED_VERSION="${QUORVANE_AGENT_VERSION}"
        QUORVANE_EXPECTED_PRODUCT_NAME="${QUORVANE_PRODUCT_NAME}"
        QUORVANE_EXPECTED_EDITION="${QUORVANE_PRODUCT_EDITION}"
        QUORVANE_EXPECTED_COPYRIGHT="${QUORVANE_COPYRIGHT}")
    target_link_libraries(linux_backend_tests PRIVATE
        quorvane_core quorvane_platform GTest::gtest GTest::gtest_main)
    gtest_discover_tests(linux_backend_tests DISCOVERY_TIMEOUT 60 PROPERTIES LABELS "platform")

    # Calls bounded in time, over a fake that hangs; labelled so CI runs it under ThreadSanitizer.
    add_executable(bounded_call_tests platform/BoundedCallTest.cpp)
    target_include_directories(bounded_call_tests PRIVATE ${PROJECT_SOURCE_DIR}/platform/linux)
    target_link_libraries(bounded_call_tests PRIVATE
        quorvane_platform GTest::gtest GTest::gtest_main)
    gtest_discover_tests(bounded_call_tests DISCOVERY_TIMEOUT 60
        PROPERTIES LABELS "concurrency" TIMEOUT 60)

    # The Linux back end on the machine itself, against independent sources of the same facts.
    add_executable(live_linux_tests platform/LiveLinuxTest.cpp platform/LiveNamingTest.cpp)
    target_include_directories(live_linux_tests PRIVATE
        ${CMAKE_CURRENT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/platform/linux)
    target_compile_definitions(live_linux_tests PRIVATE
        QUORVANE_EXPECTED_VERSION="${QUORVANE_AGENT_VERSION}"
        QUORVANE_EXPECTED_PRODUCT_NAME="${QUORVANE_PRODUCT_NAME}"
        QUORVANE_EXPECTED_EDITION="${QUORVANE_PRODUCT_EDITION}"
        QUORVANE_EXPECTED_COPYRIGHT="${QUORVANE_COPYRIGHT}")
    target_link_libraries(live_linux_tests PRIVATE
        quorvane_core quorvane_platform Poco::XML GTest::gtest GTest::gtest_main)
    gtest_discover_tests(live_linux_tests DISCOVERY_TIMEOUT 60 PROPERTIES LABELS "platform")
endif()
