# The Windows build (cross with mingw-w64 or native): the platform port on Win32 and its tests as
# Windows programs, and the library's sources compiled against the suite's headers. The suite's
# stand-ins depend on libraries Debian ships for Linux only, so they are not built here; on a real
# Windows machine the suite's own libraries take their place.
find_package(Threads REQUIRED)

# Header-only dependencies come from a copy inside the build tree: never /usr/include itself.
set(KVA_WIN_DEPS ${CMAKE_BINARY_DIR}/deps)
if(NOT EXISTS ${KVA_WIN_DEPS}/include/nlohmann/json.hpp)
  find_path(KVA_NLOHMANN_SOURCE nlohmann/json.hpp PATHS /usr/include NO_CMAKE_FIND_ROOT_PATH NO_DEFAULT_PATH)
  if(NOT KVA_NLOHMANN_SOURCE)
    message(FATAL_ERROR "nlohmann/json.hpp not found; install nlohmann-json3-dev or set KVA_NLOHMANN_SOURCE")
  endif()
  file(COPY ${KVA_NLOHMANN_SOURCE}/nlohmann DESTINATION ${KVA_WIN_DEPS}/include)
endif()
add_library(kva_nlohmann_json INTERFACE)
target_include_directories(kva_nlohmann_json SYSTEM INTERFACE ${KVA_WIN_DEPS}/include)
add_library(nlohmann_json::nlohmann_json ALIAS kva_nlohmann_json)

# GoogleTest from Debian's source package (googletest), built once into this build tree.
set(KVA_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources")
set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(${KVA_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
if(NOT TARGET GTest::gtest)
  add_library(GTest::gtest ALIAS gtest)
  add_library(GTest::gtest_main ALIAS gtest_main)
endif()

add_subdirectory(platform)

# The library's sources: compiled (warnings as errors with KVA_WERROR), not linked.
file(GLOB_RECURSE KVA_WIN_LIBRARY_SOURCES CONFIGURE_DEPENDS
  ${CMAKE_SOURCE_DIR}/src/*.cpp)
file(GLOB KVA_WIN_SUITE_INCLUDES LIST_DIRECTORIES true ${CMAKE_SOURCE_DIR}/suite/*/include)
add_library(KVAUpdaterCheckObjects OBJECT ${KVA_WIN_LIBRARY_SOURCES})
kva_target_defaults(KVAUpdaterCheckObjects)
target_include_directories(KVAUpdaterCheckObjects PRIVATE ${CMAKE_SOURCE_DIR}/src ${KVA_WIN_SUITE_INCLUDES})
target_link_libraries(KVAUpdaterCheckObjects PRIVATE kvaplatform nlohmann_json::nlohmann_json)

# Tests: the platform's own, plus the Windows-only ones. Each runs under Wine when cross-built.
enable_testing()
include(GoogleTest)
add_subdirectory(tests/windows)
