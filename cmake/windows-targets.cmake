# The Windows patcher and the portable unit tests cross-built, run under
# Wine by ctest (each test binary once: one Wine start per binary).
# The GDI+ painter the window draws with.
velmo_sources(GDIPLUS_SOURCES src/ui/gdiplus)
add_library(velmo_ui_gdiplus STATIC ${GDIPLUS_SOURCES})
target_link_libraries(velmo_ui_gdiplus PUBLIC velmo_uicore velmo_core shlwapi ole32 gdi32)
# The user32 window with the shell actions it uses, and the waveOut music
# output.
velmo_sources(WIN32_UI_SOURCES src/ui/win32 src/audio/waveout)
add_library(velmo_ui_win32 STATIC ${WIN32_UI_SOURCES})
target_link_libraries(velmo_ui_win32 PUBLIC velmo_ui_gdiplus velmo_uicore velmo_core ole32 uuid shell32 user32)

# The manifest and version block, from the project's version.
set(VELMO_VERSION_QUAD "${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${PROJECT_VERSION_PATCH}.0")
set(VELMO_MANIFEST_FILE "${CMAKE_BINARY_DIR}/patcher.manifest")
configure_file(${CMAKE_SOURCE_DIR}/src/app/win32/patcher.manifest ${VELMO_MANIFEST_FILE} @ONLY)
configure_file(${CMAKE_SOURCE_DIR}/src/app/win32/patcher.rc.in ${CMAKE_BINARY_DIR}/patcher.rc @ONLY)
add_executable(velmo-patcher WIN32 src/app/main.cc ${CMAKE_BINARY_DIR}/patcher.rc)
set_target_properties(velmo-patcher PROPERTIES OUTPUT_NAME "VELMO Patcher")
target_link_libraries(velmo-patcher PRIVATE velmo_app velmo_ui_win32 velmo_ui_gdiplus velmo_uicore velmo_core)
# A release carries no symbols; the pack is added afterwards as resources.
target_link_options(velmo-patcher PRIVATE -s)

include(CTest)
set(VELMO_VECTORS_DIR "${CMAKE_SOURCE_DIR}/../shared/vectors" CACHE PATH "Folder of the genuine test vectors")
# Windows paths of the vectors and the sources as Wine sees them (drive Z: is
# the root of the host).
string(REPLACE "/" "\\\\" VELMO_WIN_VECTORS_DIR "Z:${VELMO_VECTORS_DIR}")
string(REPLACE "/" "\\\\" VELMO_WIN_SOURCE_DIR "Z:${CMAKE_SOURCE_DIR}")
string(REPLACE "/" "\\\\" VELMO_WIN_BINARY_DIR "Z:${CMAKE_BINARY_DIR}")

# The small demo game as it ships (LZMS items beside plain ones; under Wine
# our own decoder reads them), made by the build machine's own demo-game
# tool, with the Windows patcher carrying its pack.
set(VELMO_HOST_BUILD_DIR "${CMAKE_SOURCE_DIR}/build" CACHE PATH "The native build whose tools make the test data")
set(WIN_DEMO_DIR "${CMAKE_BINARY_DIR}/demo")
string(REPLACE "/" "\\\\" VELMO_WIN_DEMO_DIR "Z:${WIN_DEMO_DIR}")
add_test(NAME wine_demo_game
         COMMAND sh -c "rm -rf \"$1\" && \"$2\" \"$1\" --scale small --patcher \"$3\""
                 sh ${WIN_DEMO_DIR} ${VELMO_HOST_BUILD_DIR}/velmo-demo-game $<TARGET_FILE:velmo-patcher>)
set_tests_properties(wine_demo_game PROPERTIES FIXTURES_SETUP win_demo)

set(WIN_TEST_GROUPS common platform pack xapk install patch app)
# Cases whose fixtures only work on POSIX, left out here: they write
# non-ASCII paths through narrow std::filesystem names (the ANSI code page on
# Windows), or rewrite the XAPK while the source holds it open. The Wine
# end-to-end runs cover non-ASCII destinations through the patcher itself.
# The link cases run: they make junctions, which Wine cannot (they then skip
# with that reason, and the Windows handling of links is tested through its
# pure rules), and real Windows in the kit can.
set(WIN_SKIP_platform "")
set(WIN_SKIP_install "InstallJobTest.AFailingWriteNamesTheFullPathAndLeavesNothing")
set(WIN_SKIP_xapk "ZipReaderTest.OpensPathsWithNonAsciiCharacters:XapkTest.CancelAndFullDiskDeleteThePartialFile:XapkTest.TemporarySpaceIsCheckedWhenItCanBe")
file(GLOB support CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/support/*.cc)
string(REPLACE "/" "\\\\" VELMO_WIN_HOST_BUILD_DIR "Z:${VELMO_HOST_BUILD_DIR}")
# Where a test program finds the sources, the vectors, its build and the
# prepared demo game, as Wine sees them.
function(velmo_win_test target)
  target_include_directories(${target} PRIVATE ${CMAKE_SOURCE_DIR}/tests)
  target_compile_definitions(${target} PRIVATE
    VELMO_SOURCE_DIR="${VELMO_WIN_SOURCE_DIR}"
    VELMO_VECTORS_DIR="${VELMO_WIN_VECTORS_DIR}"
    VELMO_BINARY_DIR="${VELMO_WIN_BINARY_DIR}"
    VELMO_HOST_BUILD_DIR="${VELMO_WIN_HOST_BUILD_DIR}"
    VELMO_PREBUILT_DEMO_DIR="${VELMO_WIN_DEMO_DIR}")
endfunction()
foreach(group ${WIN_TEST_GROUPS})
  file(GLOB srcs CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/src/${group}/*_unittest.cc)
  if(NOT srcs)
    continue()
  endif()
  add_executable(velmo_tests_${group} ${srcs} ${support})
  velmo_win_test(velmo_tests_${group})
  target_link_libraries(velmo_tests_${group} PRIVATE velmo_app velmo_packtool velmo_uicore velmo_core ZLIB::ZLIB
    GTest::gtest_main GTest::gmock)
  add_test(NAME wine_velmo_tests_${group}
           COMMAND sh ${CMAKE_SOURCE_DIR}/scripts/wine-run.sh ${CMAKE_BINARY_DIR}/wineprefix
                   $<TARGET_FILE:velmo_tests_${group}> --gtest_brief=1 --gtest_filter=-${WIN_SKIP_${group}})
  set_tests_properties(wine_velmo_tests_${group} PROPERTIES TIMEOUT 900 FIXTURES_REQUIRED win_demo)
endforeach()

# The GDI+ painter's pixels, and every wizard frame it draws set against the
# host build's Cairo renders of the same states (written by the native
# tests, which `make test` runs first).
file(GLOB gdiplus_tests CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/src/ui/gdiplus/*_unittest.cc)
add_executable(velmo_tests_gdiplus ${gdiplus_tests} ${support})
velmo_win_test(velmo_tests_gdiplus)
target_link_libraries(velmo_tests_gdiplus PRIVATE velmo_ui_gdiplus velmo_packtool velmo_uicore velmo_core ZLIB::ZLIB
  GTest::gtest_main GTest::gmock)
add_test(NAME wine_velmo_tests_gdiplus
         COMMAND sh ${CMAKE_SOURCE_DIR}/scripts/wine-run.sh ${CMAKE_BINARY_DIR}/wineprefix
                 $<TARGET_FILE:velmo_tests_gdiplus> --gtest_brief=1)
set_tests_properties(wine_velmo_tests_gdiplus PROPERTIES TIMEOUT 600)

# The GDI+ frame time (run by hand under Wine, like the native benchmarks).
add_executable(bench_render_frame EXCLUDE_FROM_ALL bench/render_frame.cc)
target_link_libraries(bench_render_frame PRIVATE velmo_ui_gdiplus velmo_packtool velmo_uicore velmo_core)

# The full fault sweeps of the unattended install (run by hand under Wine).
add_executable(bench_fault_sweep EXCLUDE_FROM_ALL bench/fault_sweep.cc ${support})
velmo_win_test(bench_fault_sweep)
target_link_libraries(bench_fault_sweep PRIVATE velmo_app velmo_packtool velmo_uicore velmo_core ZLIB::ZLIB
  GTest::gtest GTest::gmock)

# The shell actions and the waveOut device on Wine's shell32 and WINMM;
# write_cwd.exe stands in for the game that "Play now" starts.
add_executable(write_cwd tests/win32/write_cwd.c)
# Holds a file open without sharing, for the patcher's end-to-end runs
# under Wine (velmo_tests_wine, from the native build).
add_executable(hold_file tests/win32/hold_file.c)
target_link_options(hold_file PRIVATE -municode)
file(GLOB win32_tests CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/src/ui/win32/*_unittest.cc
  ${CMAKE_SOURCE_DIR}/src/audio/waveout/*_unittest.cc)
add_executable(velmo_tests_win32 ${win32_tests} tests/support/test_util.cc)
velmo_win_test(velmo_tests_win32)
target_link_libraries(velmo_tests_win32 PRIVATE velmo_ui_win32 velmo_uicore GTest::gtest_main)
add_dependencies(velmo_tests_win32 write_cwd)
add_test(NAME wine_velmo_tests_win32
         COMMAND sh ${CMAKE_SOURCE_DIR}/scripts/wine-run.sh ${CMAKE_BINARY_DIR}/wineprefix
                 $<TARGET_FILE:velmo_tests_win32> --gtest_brief=1)
# Again with ALSA's null device as Wine's sound card, so that the playing
# side runs too (the machine itself has no sound).
add_test(NAME wine_velmo_tests_win32_sound
         COMMAND sh ${CMAKE_SOURCE_DIR}/scripts/wine-run.sh ${CMAKE_BINARY_DIR}/wineprefix
                 $<TARGET_FILE:velmo_tests_win32> --gtest_brief=1 --gtest_filter=WaveOut*)
set_tests_properties(wine_velmo_tests_win32_sound PROPERTIES
  ENVIRONMENT "ALSA_CONFIG_PATH=${CMAKE_SOURCE_DIR}/tests/win32/alsa-null.conf;VELMO_EXPECT_SOUND=1")
set_tests_properties(wine_velmo_tests_win32 wine_velmo_tests_win32_sound PROPERTIES TIMEOUT 120)
# The program icon is read from the demo patcher.
set_tests_properties(wine_velmo_tests_win32 PROPERTIES FIXTURES_REQUIRED win_demo)
add_executable(choose_dialog tests/win32/choose_dialog.cc)
target_link_options(choose_dialog PRIVATE -municode)
target_link_libraries(choose_dialog PRIVATE velmo_ui_win32)
# The dialogs driven by keyboard under Wine on a virtual X server (skips
# itself without xvfb-run); its own prefix, one run at a time.
add_test(NAME wizard_wine_dialogs
         COMMAND sh ${CMAKE_SOURCE_DIR}/tests/wine/wizard_wine.sh ${CMAKE_BINARY_DIR} dialogs)
set_tests_properties(wizard_wine_dialogs PROPERTIES TIMEOUT 420 RESOURCE_LOCK wine_gui)
add_test(NAME wizard_wine_install
         COMMAND sh ${CMAKE_SOURCE_DIR}/tests/wine/wizard_wine.sh ${CMAKE_BINARY_DIR} install)
set_tests_properties(wizard_wine_install PROPERTIES TIMEOUT 420 RESOURCE_LOCK wine_gui FIXTURES_REQUIRED win_demo)
# Whether screenshots of the wizard show a text on its failed screen, with the
# reference painted by GDI+ (the window's fonts under Wine).
add_executable(failed_text_check tests/wizard/failed_text_check.cc)
target_link_libraries(failed_text_check PRIVATE velmo_ui_gdiplus velmo_uicore velmo_core)
# Held installs (the native build's gated_writes library preloaded into Wine):
# a cancelled one and a window closed mid-install.
foreach(run cancel close)
  add_test(NAME wizard_wine_${run}
           COMMAND sh ${CMAKE_SOURCE_DIR}/tests/wine/wizard_wine.sh ${CMAKE_BINARY_DIR} ${run} ${VELMO_HOST_BUILD_DIR})
  set_tests_properties(wizard_wine_${run} PROPERTIES TIMEOUT 420 RESOURCE_LOCK wine_gui FIXTURES_REQUIRED win_demo)
endforeach()

# The program starts on every Windows it claims (8.1 and later): it imports
# only functions present there, and no DLL that is not a KnownDLL.
add_test(NAME windows_imports
         COMMAND sh ${CMAKE_SOURCE_DIR}/tests/win32/check_imports.sh $<TARGET_FILE:velmo-patcher>
                 ${CMAKE_SOURCE_DIR}/tests/win32/windows81_imports.txt)

# A DLL of a system name planted beside the patcher (velmo_tests_wine).
add_library(planted_dll SHARED tests/win32/planted_dll.c)
set_target_properties(planted_dll PROPERTIES PREFIX "" RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})

# The test kit for a real Windows machine (make windows-kit): every test
# program below with its filter, run by kit_runner.exe from run-tests.cmd.
# Its data (kit-data: the LZMS demo game, our pack tool's LZMS buffers) is
# made by scripts/make-windows-kit.sh, which ctest runs first here.
add_executable(kit_runner tests/kit/kit_runner.cc)
add_executable(velmo_tests_kit tests/kit/kit_unittest.cc ${support})
target_include_directories(velmo_tests_kit PRIVATE ${CMAKE_SOURCE_DIR}/tests)
target_link_libraries(velmo_tests_kit PRIVATE velmo_packtool velmo_uicore velmo_core version GTest::gtest_main)
target_compile_definitions(velmo_tests_kit PRIVATE
  VELMO_SOURCE_DIR="${VELMO_WIN_SOURCE_DIR}"
  VELMO_VECTORS_DIR="${VELMO_WIN_VECTORS_DIR}"
  VELMO_BINARY_DIR="${VELMO_WIN_BINARY_DIR}"
  VELMO_PREBUILT_DEMO_DIR="${VELMO_WIN_DEMO_DIR}"
  VELMO_KIT_DATA_DIR="${VELMO_WIN_BINARY_DIR}\\\\kit-data"
  VELMO_VERSION="${PROJECT_VERSION}"
  VELMO_VERSION_MAJOR=${PROJECT_VERSION_MAJOR}
  VELMO_VERSION_MINOR=${PROJECT_VERSION_MINOR}
  VELMO_VERSION_PATCH=${PROJECT_VERSION_PATCH})
set(kit_lines)
foreach(group ${WIN_TEST_GROUPS})
  if(TARGET velmo_tests_${group})
    string(APPEND kit_lines "velmo_tests_${group}.exe --gtest_brief=1 --gtest_filter=-${WIN_SKIP_${group}}\n")
  endif()
endforeach()
string(APPEND kit_lines "velmo_tests_gdiplus.exe --gtest_brief=1\nvelmo_tests_win32.exe --gtest_brief=1\n"
       "velmo_tests_kit.exe --gtest_brief=1\n")
file(GENERATE OUTPUT ${CMAKE_BINARY_DIR}/kit-tests.txt CONTENT "${kit_lines}")
add_test(NAME windows_kit_data
         COMMAND sh ${CMAKE_SOURCE_DIR}/scripts/make-windows-kit.sh ${CMAKE_BINARY_DIR} ${VELMO_HOST_BUILD_DIR}
                 ${VELMO_VECTORS_DIR})
set_tests_properties(windows_kit_data PROPERTIES FIXTURES_SETUP win_kit FIXTURES_REQUIRED win_demo)
add_test(NAME wine_velmo_tests_kit
         COMMAND sh ${CMAKE_SOURCE_DIR}/scripts/wine-run.sh ${CMAKE_BINARY_DIR}/wineprefix
                 $<TARGET_FILE:velmo_tests_kit> --gtest_brief=1)
set_tests_properties(wine_velmo_tests_kit PROPERTIES TIMEOUT 300 FIXTURES_REQUIRED win_kit)
# The whole kit under Wine, as a Windows user would run it; its last line
# must report no failure (the LZMS parts skip here with their reason).
add_test(NAME wine_windows_kit COMMAND sh ${CMAKE_SOURCE_DIR}/tests/kit/run_kit_wine.sh ${CMAKE_BINARY_DIR})
set_tests_properties(wine_windows_kit PROPERTIES TIMEOUT 1500 FIXTURES_REQUIRED win_kit RUN_SERIAL TRUE)
