# Warnings as errors on our own code only.
function(captiomark_warnings target)
    target_compile_options(${target} PRIVATE -Wall -Wextra -Werror)
endfunction()

# captiomark_library(NAME SOURCES a.cpp ... LIBS lib ...)
function(captiomark_library name)
    cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
    add_library(${name} STATIC ${ARG_SOURCES})
    # Includes carry their path from the project root.
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
    target_link_libraries(${name} PUBLIC ${ARG_LIBS})
    captiomark_warnings(${name})
endfunction()

# captiomark_test(NAME [OWN_MAIN] SOURCES a.cpp ... LIBS lib ...): one GoogleTest executable, run
# headless. OWN_MAIN: the sources define main() (another application object).
function(captiomark_test name)
    cmake_parse_arguments(ARG "OWN_MAIN" "" "SOURCES;LIBS" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    if(ARG_OWN_MAIN)
        set(support captiomark_testsupport_core)
    else()
        set(support captiomark_testsupport)
    endif()
    target_link_libraries(${name} PRIVATE ${ARG_LIBS} ${support} GTest::gtest)
    captiomark_warnings(${name})
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES
        ENVIRONMENT "QT_QPA_PLATFORM=offscreen;CAPTIOMARK_TESTDATA=${CAPTIOMARK_TESTDATA_DIR};CAPTIOMARK_SOURCE_DIR=${PROJECT_SOURCE_DIR}"
        TIMEOUT 600)
endfunction()
