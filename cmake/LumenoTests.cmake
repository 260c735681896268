# GoogleTest from Debian's sources, one test executable per source folder, run under wine by ctest.
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

file(GLOB support_sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/support/*.cpp)
list(FILTER support_sources EXCLUDE REGEX "/TestMain\\.cpp$")
add_library(lumeno_test_support STATIC ${support_sources})
target_link_libraries(lumeno_test_support PUBLIC lumeno_core gtest gmock)
target_include_directories(lumeno_test_support PUBLIC ${CMAKE_SOURCE_DIR}/tests)

set(WINE_TEST_PREFIX ${CMAKE_BINARY_DIR}/wineprefix)
set(WINE_TEST_HOME ${CMAKE_BINARY_DIR}/test-home)
set(WINE_TEST_ENV
    WINEPREFIX=${WINE_TEST_PREFIX}
    WINEDEBUG=-all
    "WINEDLLOVERRIDES=winemenubuilder.exe=d\\;mscoree=d\\;mshtml=d"
    HOME=${WINE_TEST_HOME}
    XDG_DATA_HOME=${WINE_TEST_HOME}/.local/share
    LUMENO_SOURCE_DIR=${CMAKE_SOURCE_DIR})

if(CMAKE_CROSSCOMPILING_EMULATOR)
    # One booted, persistent wineserver for the whole run; cold starts would cost seconds each.
    add_test(NAME wine_start COMMAND sh -c
        "'${CMAKE_SOURCE_DIR}/tools/require-netns.sh' || exit 1; mkdir -p '${WINE_TEST_HOME}' && '${CMAKE_SOURCE_DIR}/tools/wine-prefix.sh' '${WINE_TEST_PREFIX}' && wineserver -p </dev/null >/dev/null 2>&1; wine wineboot </dev/null >/dev/null 2>&1")
    add_test(NAME wine_stop COMMAND sh -c "wineserver -k </dev/null >/dev/null 2>&1 || true")
    set_tests_properties(wine_start PROPERTIES FIXTURES_SETUP wine ENVIRONMENT "${WINE_TEST_ENV}")
    set_tests_properties(wine_stop PROPERTIES FIXTURES_CLEANUP wine ENVIRONMENT "${WINE_TEST_ENV}")
endif()

foreach(dir ${LUMENO_SOURCE_DIRS})
    file(GLOB test_sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/${dir}/*.cpp)
    if(test_sources)
        add_executable(test_${dir} ${test_sources} ${CMAKE_SOURCE_DIR}/tests/support/TestMain.cpp
                       ${LUMENO_RES_OBJECTS})
        target_link_libraries(test_${dir} PRIVATE lumeno_test_support)
        add_test(NAME ${dir} COMMAND test_${dir} --gtest_color=no)
        set_tests_properties(${dir} PROPERTIES FIXTURES_REQUIRED wine TIMEOUT 900
                             ENVIRONMENT "${WINE_TEST_ENV}")
    endif()
endforeach()

# The verifier's tests drive its classes in-process and the program itself.
file(GLOB verify_test_sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/verify/*.cpp)
if(verify_test_sources)
    add_executable(test_verify ${verify_test_sources} ${CMAKE_SOURCE_DIR}/tests/support/TestMain.cpp
                   ${LUMENO_RES_OBJECTS})
    target_link_libraries(test_verify PRIVATE lumeno_test_support lumeno_verify)
    add_dependencies(test_verify LumenoVerify)
    add_test(NAME verify COMMAND test_verify --gtest_color=no)
    set_tests_properties(verify PROPERTIES FIXTURES_REQUIRED wine TIMEOUT 900 ENVIRONMENT "${WINE_TEST_ENV}")
endif()

# The overlay and the screen read again on a second screen size, and on a 16-bit screen: each on its
# own display and therefore its own Wine prefix and server, since one Wine session serves one display.
if(CMAKE_CROSSCOMPILING_EMULATOR AND TARGET test_engine)
    foreach(screen 1280x720x24 1280x720x16)
        string(REGEX REPLACE "x24$" "" name ${screen})  # the first keeps its name
        set(screen_prefix ${CMAKE_BINARY_DIR}/wineprefix-${name})
        add_test(NAME engine_${name} COMMAND ${CMAKE_SOURCE_DIR}/tools/with-xvfb.sh --size ${screen} -- sh -c
            "'${CMAKE_SOURCE_DIR}/tools/require-netns.sh' && '${CMAKE_SOURCE_DIR}/tools/wine-prefix.sh' '${screen_prefix}' && wine '$<TARGET_FILE:test_engine>' --gtest_color=no --gtest_filter='RecordThreadTest.Overlay*:ScreenReaderTest.*'; rc=$?; wineserver -k; exit $rc")
        set_tests_properties(engine_${name} PROPERTIES TIMEOUT 600
            ENVIRONMENT "WINEPREFIX=${screen_prefix};WINEDEBUG=-all;WINEDLLOVERRIDES=winemenubuilder.exe=d\\;mscoree=d\\;mshtml=d;HOME=${WINE_TEST_HOME};XDG_DATA_HOME=${WINE_TEST_HOME}/.local/share")
    endforeach()
endif()

# Benchmarks: programs that measure and print, never part of the test run.
file(GLOB bench_sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tools/bench/*.cpp)
foreach(src ${bench_sources})
    get_filename_component(name ${src} NAME_WE)
    add_executable(bench_${name} ${src} ${LUMENO_RES_OBJECTS})
    target_link_libraries(bench_${name} PRIVATE lumeno_test_support lumeno_verify)
endforeach()

# The end-to-end driver: acts on the real program's windows from inside the same Wine session.
add_executable(lumeno_driver ${CMAKE_SOURCE_DIR}/tools/driver/Driver.cpp ${CMAKE_SOURCE_DIR}/framework/Utf8.cpp)
target_link_options(lumeno_driver PRIVATE -municode)
target_link_libraries(lumeno_driver PRIVATE user32)
target_include_directories(lumeno_driver PRIVATE ${CMAKE_SOURCE_DIR})

# The end-to-end test: the real Lumeno.exe on the test run's display, driven by the driver and xdotool.
if(CMAKE_CROSSCOMPILING_EMULATOR AND TARGET Lumeno)
    add_test(NAME e2e COMMAND /usr/bin/python3 ${CMAKE_SOURCE_DIR}/tests/e2e/run-e2e.py
             $<TARGET_FILE_DIR:Lumeno> ${CMAKE_SOURCE_DIR} e2e)
    set_tests_properties(e2e PROPERTIES FIXTURES_REQUIRED wine TIMEOUT 900 RUN_SERIAL TRUE
                         ENVIRONMENT "${WINE_TEST_ENV}")
    add_test(NAME faults COMMAND /usr/bin/python3 ${CMAKE_SOURCE_DIR}/tests/e2e/run-e2e.py
             $<TARGET_FILE_DIR:Lumeno> ${CMAKE_SOURCE_DIR} faults)
    set_tests_properties(faults PROPERTIES FIXTURES_REQUIRED wine TIMEOUT 900 RUN_SERIAL TRUE
                         ENVIRONMENT "${WINE_TEST_ENV}")
endif()

# Stand-ins for xvidcore.dll, each in a folder of its own under bin/codec-*/: the unusable ones for
# the start-up check of the fault campaign, all of them (in both builds) for the packaging check.
foreach(kind standin without-encore too-old)
    add_library(xvid_standin_${kind} SHARED ${CMAKE_SOURCE_DIR}/tests/e2e/xvidcore-standin.c)
    set_target_properties(xvid_standin_${kind} PROPERTIES OUTPUT_NAME xvidcore PREFIX ""
                          RUNTIME_OUTPUT_DIRECTORY ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/codec-${kind}
                          ARCHIVE_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/codec-${kind})
endforeach()
target_compile_definitions(xvid_standin_without-encore PRIVATE STANDIN_WITHOUT_ENCORE)
target_compile_definitions(xvid_standin_too-old PRIVATE STANDIN_VERSION=0x010201)

# The Windows package, built with and without a codec from the i686 build (tools/test.sh builds
# both presets first).
add_test(NAME package COMMAND bash ${CMAKE_SOURCE_DIR}/tests/package/run-package.sh ${CMAKE_SOURCE_DIR})
set_tests_properties(package PROPERTIES TIMEOUT 300)
