# Helpers for the test tree.  Tests use GoogleTest through ctest.
if(NOT QF_FUZZ)
    find_package(GTest REQUIRED)
    include(GoogleTest)
endif()

# qf_add_test(name SOURCES ... LIBS ... [LABELS ...] [TIMEOUT s] [NO_GTEST_MAIN])
# Builds a GoogleTest executable and registers its cases with ctest.
function(qf_add_test name)
    cmake_parse_arguments(T "NO_GTEST_MAIN" "TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
    add_executable(${name} ${T_SOURCES})
    target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock)
    if(NOT T_NO_GTEST_MAIN)
        target_link_libraries(${name} PRIVATE GTest::gtest_main)
    endif()
    set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
    if(NOT T_TIMEOUT)
        set(T_TIMEOUT 300)
    endif()
    if(NOT T_LABELS)
        set(T_LABELS unit)
    endif()
    # Tests find the source tree, the build tree and the shared corpus through
    # QF_SOURCE_DIR, QF_BUILD_DIR and QF_SHARED_DIR, set by test_env.cpp
    # before main() (unless the environment already names them).
    target_sources(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests/common/test_env.cpp)
    target_compile_definitions(${name} PRIVATE
        QF_TEST_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
        QF_TEST_BUILD_DIR="${CMAKE_BINARY_DIR}"
        QF_TEST_SHARED_DIR="${PROJECT_SOURCE_DIR}/../shared")
    gtest_discover_tests(${name}
        WORKING_DIRECTORY ${CMAKE_BINARY_DIR}
        PROPERTIES LABELS "${T_LABELS}" TIMEOUT ${T_TIMEOUT}
        DISCOVERY_TIMEOUT 60)
endfunction()

# qf_add_fuzzer(name SOURCES ... LIBS ...): a libFuzzer target and a ctest
# entry that runs it for QF_FUZZ_SECONDS (default 60).
function(qf_add_fuzzer name)
    cmake_parse_arguments(F "" "" "SOURCES;LIBS" ${ARGN})
    if(NOT QF_FUZZ)
        return()
    endif()
    add_executable(${name} ${F_SOURCES})
    target_link_libraries(${name} PRIVATE ${F_LIBS})
    target_link_options(${name} PRIVATE -fsanitize=fuzzer)
    set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/fuzz)
    if(NOT DEFINED QF_FUZZ_SECONDS)
        set(QF_FUZZ_SECONDS 60)
    endif()
    set(corpus ${CMAKE_BINARY_DIR}/fuzz/${name}-corpus)
    add_test(NAME fuzz.${name}
        COMMAND ${CMAKE_COMMAND} -E env ASAN_OPTIONS=detect_leaks=1
                $<TARGET_FILE:${name}> -max_total_time=${QF_FUZZ_SECONDS} -rss_limit_mb=2048
                -max_len=65536 -print_final_stats=1 ${corpus} ${CMAKE_CURRENT_SOURCE_DIR}/seeds/${name})
    set_tests_properties(fuzz.${name} PROPERTIES LABELS fuzz TIMEOUT 600)
    file(MAKE_DIRECTORY ${corpus})
endfunction()
