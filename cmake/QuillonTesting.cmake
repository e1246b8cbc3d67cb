include(GoogleTest)

# quillon_add_test(NAME SOURCES src... LIBS lib... [LABELS label...] [TIMEOUT s] [RESOURCE_LOCK r]
#                  [SERIAL])
# One GoogleTest program; each test case becomes a CTest test. Tests run with Qt's offscreen
# platform so that no display is needed. Label "threaded" marks the tests the TSan build runs.
function(quillon_add_test name)
    cmake_parse_arguments(T "SERIAL" "TIMEOUT;RESOURCE_LOCK" "SOURCES;LIBS;LABELS" ${ARGN})
    add_executable(${name} ${T_SOURCES})
    set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
    target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main GTest::gmock)
    target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/tests)
    if(QUILLON_TSAN)
        target_sources(${name} PRIVATE ${CMAKE_SOURCE_DIR}/tests/common/TsanSuppressions.cpp)
    endif()
    # Where tests find the programs they run and the files they read.
    target_compile_definitions(${name} PRIVATE
        QUILLON_BUILD_DIR="${CMAKE_BINARY_DIR}" QUILLON_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
    if(NOT T_TIMEOUT)
        set(T_TIMEOUT 120)
    endif()
    set(labels "")
    if(T_LABELS)
        set(labels LABELS "${T_LABELS}")
    endif()
    # Tests that share something only one can use at a time (a fixed port) name it here.
    if(T_RESOURCE_LOCK)
        list(APPEND labels RESOURCE_LOCK "${T_RESOURCE_LOCK}")
    endif()
    # Races against a camera at full rate: nothing else runs beside them, or a loaded machine
    # would starve the camera and the test would measure the machine.
    if(T_SERIAL)
        list(APPEND labels RUN_SERIAL TRUE)
    endif()
    gtest_discover_tests(${name}
        DISCOVERY_MODE PRE_TEST
        DISCOVERY_TIMEOUT 60
        PROPERTIES
            ${labels}
            TIMEOUT ${T_TIMEOUT}
            ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
endfunction()

# quillon_add_benchmark(NAME SOURCES src... LIBS lib... [OWN_MAIN])
# OWN_MAIN: the program has its own main() (for example to create a QApplication first).
function(quillon_add_benchmark name)
    cmake_parse_arguments(B "OWN_MAIN" "" "SOURCES;LIBS" ${ARGN})
    add_executable(${name} ${B_SOURCES})
    set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
    target_link_libraries(${name} PRIVATE ${B_LIBS} benchmark::benchmark)
    if(NOT B_OWN_MAIN)
        target_link_libraries(${name} PRIVATE benchmark::benchmark_main)
    endif()
endfunction()

# quillon_add_parts(): adds every subfolder with a CMakeLists.txt and includes every *.cmake
# file directly in the current folder, so each subsystem keeps its own build description.
macro(quillon_add_parts)
    file(GLOB _quillon_parts LIST_DIRECTORIES true RELATIVE ${CMAKE_CURRENT_SOURCE_DIR}
         ${CMAKE_CURRENT_SOURCE_DIR}/*)
    list(SORT _quillon_parts)
    foreach(_part IN LISTS _quillon_parts)
        if(IS_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}/${_part}
           AND EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${_part}/CMakeLists.txt)
            add_subdirectory(${_part})
        elseif(_part MATCHES "\\.cmake$")
            include(${CMAKE_CURRENT_SOURCE_DIR}/${_part})
        endif()
    endforeach()
endmacro()
