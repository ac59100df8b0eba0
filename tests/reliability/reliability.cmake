# Load, soak, bad-input, well-formedness and shutdown tests.
add_library(quorvane_reliability_support STATIC
    reliability/ReliabilitySupport.cpp support/SampleSnapshot.cpp support/SlowCrowd.cpp
    support/RawSocket.cpp)
target_link_libraries(quorvane_reliability_support PUBLIC
    quorvane_core quorvane_test_fakes Poco::Net Poco::XML)

# The endpoint and the document, assembled in-process over the fakes.
add_executable(reliability_tests
    reliability/EndpointLoadTest.cpp
    reliability/WellFormednessTest.cpp
)
target_link_libraries(reliability_tests PRIVATE
    quorvane_reliability_support GTest::gtest GTest::gtest_main)
gtest_discover_tests(reliability_tests DISCOVERY_TIMEOUT 60 PROPERTIES LABELS "reliability")

# Refreshes, reports and shutdown racing; CI runs the "concurrency" label under ThreadSanitizer.
add_executable(reliability_race_tests reliability/ShutdownRaceTest.cpp)
target_link_libraries(reliability_race_tests PRIVATE
    quorvane_reliability_support GTest::gtest GTest::gtest_main)
gtest_discover_tests(reliability_race_tests DISCOVERY_TIMEOUT 60 PROPERTIES LABELS "concurrency")

# The real agent process, which always listens on port 5782.
add_executable(reliability_agent_tests
    reliability/AgentReliabilityTest.cpp
    app/AgentProcess.cpp
    support/RawHttp.cpp
)
target_compile_definitions(reliability_agent_tests PRIVATE
    QUORVANE_AGENT_PATH="$<TARGET_FILE:quorvane-agent>")
target_include_directories(reliability_agent_tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(reliability_agent_tests PRIVATE
    quorvane_reliability_support GTest::gtest GTest::gtest_main)
add_dependencies(reliability_agent_tests quorvane-agent)
gtest_discover_tests(reliability_agent_tests DISCOVERY_TIMEOUT 60
    PROPERTIES LABELS "reliability" RESOURCE_LOCK port5782)
