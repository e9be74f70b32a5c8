# Libraries of the Windows build: liblzma and libzip built statically for
# mingw by scripts/build-win-deps.sh into VELMO_WIN_DEPS, Debian's mingw zlib,
# GoogleTest built
# from Debian's sources, and the header-only JSON library of the build
# machine. Everything links statically, so the executables need no DLL of
# their own.
set(VELMO_WIN_DEPS "${CMAKE_BINARY_DIR}/deps/prefix" CACHE PATH "Prefix of the mingw builds of liblzma and libzip")
find_package(liblzma CONFIG REQUIRED PATHS ${VELMO_WIN_DEPS} NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
find_package(libzip CONFIG REQUIRED PATHS ${VELMO_WIN_DEPS} NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
find_package(Threads REQUIRED)
find_library(VELMO_ZLIB_STATIC NAMES libz.a REQUIRED)
set(ZLIB_LIBRARY_RELEASE ${VELMO_ZLIB_STATIC} CACHE FILEPATH "zlib, linked statically" FORCE)
find_package(ZLIB REQUIRED)
target_compile_definitions(velmo_system_libs INTERFACE ZIP_STATIC LZMA_API_STATIC UNICODE _UNICODE
  _WIN32_WINNT=0x0A00 WINVER=0x0A00)
# CNG (bcrypt), the Compression API (Cabinet), GDI+ and WINMM are bound from
# System32 at run time (src/platform/win32/system_dlls.h), never linked.
target_link_libraries(velmo_system_libs INTERFACE libzip::zip liblzma::liblzma shell32 Threads::Threads)
# The manifest and version block of every patcher.
enable_language(RC)
add_link_options(-static -static-libgcc -static-libstdc++)
# No link time in the PE header, so that two builds of one commit agree.
add_link_options(-Wl,--no-insert-timestamp)

# nlohmann/json is header-only; expose just its folder, not the host's
# /usr/include.
set(VELMO_JSON_INCLUDE "${CMAKE_BINARY_DIR}/host-include")
file(MAKE_DIRECTORY ${VELMO_JSON_INCLUDE})
file(CREATE_LINK /usr/include/nlohmann ${VELMO_JSON_INCLUDE}/nlohmann SYMBOLIC)
add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED)
target_include_directories(nlohmann_json::nlohmann_json INTERFACE ${VELMO_JSON_INCLUDE})

set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
