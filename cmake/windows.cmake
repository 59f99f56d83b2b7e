# Kavrin.exe, KavrinBind.dll, the test driver and the Windows GoogleTest binary.
add_compile_definitions(UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601
                        WINVER=0x0601 _WIN32_IE=0x0800)
add_compile_options(-Wall -Wextra -Wno-cast-function-type -Wno-restrict -ffunction-sections
                    -fdata-sections)
add_link_options(-Wl,--gc-sections)

set(KAVRIN_SYSTEM_LIBS ws2_32 iphlpapi rasapi32 comctl32 comdlg32 gdiplus shlwapi crypt32 version
    ole32 oleaut32 uuid shell32 user32 gdi32 advapi32 msimg32 winmm)

# One library of the portable code and every Windows adapter (adapters implement portable
# declarations, so the two cannot be split without a cycle). Only *_entry_win.cpp, the program's
# entry point, is left for Kavrin.exe alone, so the test binary links everything else.
set(KAVRIN_PLATFORM_SOURCES ${KAVRIN_WIN_SOURCES})
list(FILTER KAVRIN_PLATFORM_SOURCES EXCLUDE REGEX "_entry_win\\.cpp$")
set(KAVRIN_APP_SOURCES ${KAVRIN_WIN_SOURCES})
list(FILTER KAVRIN_APP_SOURCES INCLUDE REGEX "_entry_win\\.cpp$")
add_library(kv_core STATIC ${KAVRIN_PORTABLE_SOURCES} ${KAVRIN_PLATFORM_SOURCES})
target_include_directories(kv_core PUBLIC ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/res)
target_link_libraries(kv_core PUBLIC ${KAVRIN_SYSTEM_LIBS})

add_executable(Kavrin WIN32 ${KAVRIN_APP_SOURCES} ${PROJECT_SOURCE_DIR}/res/kavrin.rc)
target_link_libraries(Kavrin PRIVATE kv_core)
target_link_options(Kavrin PRIVATE -municode)
file(GLOB KAVRIN_RESOURCE_FILES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/res/art/*.png
     ${PROJECT_SOURCE_DIR}/res/art/*.jpg ${PROJECT_SOURCE_DIR}/res/art/*.bmp
     ${PROJECT_SOURCE_DIR}/res/art/*.avi ${PROJECT_SOURCE_DIR}/res/icons/*.ico)
set_source_files_properties(${PROJECT_SOURCE_DIR}/res/kavrin.rc PROPERTIES
    OBJECT_DEPENDS "${PROJECT_SOURCE_DIR}/res/resource.h;${PROJECT_SOURCE_DIR}/res/kavrin.manifest;${KAVRIN_RESOURCE_FILES}")

# The binding module: plain, undecorated export names come from the .def file. Its place in the
# socket catalog is the client's code too (the client checks it at start-up).
file(GLOB KAVRIN_BIND_SOURCES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/bind/*.cpp)
add_library(KavrinBind SHARED ${KAVRIN_BIND_SOURCES} ${PROJECT_SOURCE_DIR}/bind/kavrin_bind.def)
set_target_properties(KavrinBind PROPERTIES PREFIX "" OUTPUT_NAME KavrinBind)
target_include_directories(KavrinBind PRIVATE ${PROJECT_SOURCE_DIR}/src)
target_sources(KavrinBind PRIVATE ${PROJECT_SOURCE_DIR}/src/policy/bind_catalog.cpp
               ${PROJECT_SOURCE_DIR}/src/policy/bind_catalog_win.cpp
               ${PROJECT_SOURCE_DIR}/src/base/own_namespace_win.cpp)
target_link_libraries(KavrinBind PRIVATE advapi32 ws2_32)

# KavrinSetup.dll: the installer's plug-in (installer/plugin), for the folder's protection and the
# running check. Shipped inside the installer only; scripts/package hands the 32-bit one to NSIS.
add_library(KavrinSetup SHARED ${PROJECT_SOURCE_DIR}/installer/plugin/kavrin_setup_win.cpp)
set_target_properties(KavrinSetup PROPERTIES PREFIX "" OUTPUT_NAME KavrinSetup)
target_link_libraries(KavrinSetup PRIVATE kv_core)

# Every folder under tools/ with C++ sources is one console program named after the folder:
# windriver (the test-only window driver), stand-ins for outside programs, galleries.
file(GLOB KAVRIN_TOOL_DIRS LIST_DIRECTORIES true ${PROJECT_SOURCE_DIR}/tools/*)
foreach(dir ${KAVRIN_TOOL_DIRS})
  file(GLOB tool_sources CONFIGURE_DEPENDS ${dir}/*.cpp)
  if(tool_sources)
    get_filename_component(tool ${dir} NAME)
    add_executable(${tool} ${tool_sources})
    target_link_libraries(${tool} PRIVATE kv_core gdi32 shell32)
  endif()
endforeach()

# Benchmarks of what only the real system shows (named pipes, ...): bench/<name>_win.cpp is
# bench_<name>.exe, a plain program run under Wine that prints its figures.
# The native tests' fakes the Windows tests and benchmarks use too.
add_library(kv_fakes STATIC ${PROJECT_SOURCE_DIR}/tests/native/fakes/fake_route_table.cpp
                            ${PROJECT_SOURCE_DIR}/tests/native/fakes/fake_clock.cpp
                            ${PROJECT_SOURCE_DIR}/tests/native/fakes/fake_registry_profile.cpp
                            ${PROJECT_SOURCE_DIR}/tests/native/fakes/fake_data_protection.cpp)
target_include_directories(kv_fakes PUBLIC ${PROJECT_SOURCE_DIR}/tests/native)
target_link_libraries(kv_fakes PUBLIC kv_core)

file(GLOB KAVRIN_WIN_BENCHES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/bench/*_win.cpp)
foreach(src ${KAVRIN_WIN_BENCHES})
  get_filename_component(name ${src} NAME_WE)
  string(REGEX REPLACE "_win$" "" name ${name})
  add_executable(bench_${name} ${src})
  target_link_libraries(bench_${name} PRIVATE kv_fakes kv_core)
endforeach()

# GoogleTest from Debian's sources, built for mingw.
set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
file(GLOB KAVRIN_WIN_TESTS CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tests/windows/*.cpp)
add_executable(kavrin_win_tests ${KAVRIN_WIN_TESTS})
target_include_directories(kavrin_win_tests PRIVATE ${PROJECT_SOURCE_DIR}/tests/windows
                           ${PROJECT_SOURCE_DIR}/tests/native ${PROJECT_SOURCE_DIR})
target_link_libraries(kavrin_win_tests PRIVATE kv_fakes kv_core gtest gmock gtest_main)
add_dependencies(kavrin_win_tests KavrinBind KavrinSetup)

# The build date shown in the About box; SOURCE_DATE_EPOCH makes it reproducible.
string(TIMESTAMP KAVRIN_BUILD_DATE "%Y-%m-%d")
file(CONFIGURE OUTPUT ${CMAKE_BINARY_DIR}/generated/build_info.h
     CONTENT "#pragma once\n#define KAVRIN_BUILD_DATE \"${KAVRIN_BUILD_DATE}\"\n")
target_include_directories(Kavrin PRIVATE ${CMAKE_BINARY_DIR}/generated ${PROJECT_SOURCE_DIR}/res)

# KavrinSimNet.exe: test-only, never shipped. The program with a simulated dial-up network,
# routing table and tray (tests/e2e/simnet), so the end-to-end run can reach a connected tunnel.
file(GLOB KAVRIN_SIMNET_SOURCES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tests/e2e/simnet/*.cpp)
add_executable(KavrinSimNet WIN32 ${KAVRIN_SIMNET_SOURCES} ${PROJECT_SOURCE_DIR}/res/kavrin.rc)
target_link_libraries(KavrinSimNet PRIVATE kv_core)
target_link_options(KavrinSimNet PRIVATE -municode)
target_include_directories(KavrinSimNet PRIVATE ${CMAKE_BINARY_DIR}/generated
                           ${PROJECT_SOURCE_DIR}/res ${PROJECT_SOURCE_DIR}/tests/e2e/simnet)

# KavrinTestProvider.dll: test-only, never shipped. A recording base provider the binding module
# is chained over in tests, since Wine does not load layered providers into programs.
add_library(KavrinTestProvider SHARED
            ${PROJECT_SOURCE_DIR}/tests/windows/test_provider/test_provider_win.cpp)
set_target_properties(KavrinTestProvider PROPERTIES PREFIX "" OUTPUT_NAME KavrinTestProvider)
target_link_libraries(KavrinTestProvider PRIVATE ws2_32)
# -Wl,--kill-at: the exports keep their plain names, as the system looks them up.
target_link_options(KavrinTestProvider PRIVATE -Wl,--kill-at)
add_dependencies(kavrin_win_tests KavrinTestProvider)
# bind_probe.exe (tools/bind_probe) chains the module over the test provider the same way.
target_include_directories(bind_probe PRIVATE ${PROJECT_SOURCE_DIR}/tests/windows)
add_dependencies(bind_probe KavrinBind KavrinTestProvider)
# bench_bind_connect.exe times the module's connect against the test provider it is chained over.
target_include_directories(bench_bind_connect PRIVATE ${PROJECT_SOURCE_DIR}/tests/windows
                           ${PROJECT_SOURCE_DIR})
add_dependencies(bench_bind_connect KavrinBind KavrinTestProvider)

# KavrinBind64.dll beside KavrinBind.dll: the same module for 64-bit programs, built by the
# x86-64 compiler in a tree of its own (build/windows/bind64) from whatever KavrinBind is made
# of here, with the 64-bit loader-model tests (kavrin_bind64_tests.exe). Left last, so that it
# sees everything added to KavrinBind above. A whole tree built for x86-64 (the windows64 preset,
# for machines that run no 32-bit programs) has its KavrinBind.dll 64-bit already and needs no
# second one; the loader-model tests, built for x86-64, look for it and the test provider under
# their 64-bit names, so those are copies of the two.
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  foreach(module KavrinBind KavrinTestProvider)
    add_custom_command(TARGET ${module} POST_BUILD
        COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:${module}>
                $<TARGET_FILE_DIR:${module}>/${module}64.dll)
  endforeach()
  return()
endif()
include(ExternalProject)
get_target_property(bind_sources KavrinBind SOURCES)
list(FILTER bind_sources EXCLUDE REGEX "\\.def$")
get_target_property(bind_includes KavrinBind INCLUDE_DIRECTORIES)
get_target_property(bind_libraries KavrinBind LINK_LIBRARIES)
# Options start as this folder's; definitions are this folder's plus the target's own.
get_target_property(bind_options KavrinBind COMPILE_OPTIONS)
get_target_property(bind_link_options KavrinBind LINK_OPTIONS)
get_directory_property(bind_definitions COMPILE_DEFINITIONS)
get_target_property(bind_own_definitions KavrinBind COMPILE_DEFINITIONS)
if(bind_own_definitions)
  list(APPEND bind_definitions ${bind_own_definitions})
endif()
ExternalProject_Add(KavrinBind64
  SOURCE_DIR ${PROJECT_SOURCE_DIR}/cmake/bind64
  BINARY_DIR ${CMAKE_BINARY_DIR}/bind64
  CMAKE_GENERATOR Ninja
  CMAKE_CACHE_ARGS
    -DCMAKE_TOOLCHAIN_FILE:FILEPATH=${PROJECT_SOURCE_DIR}/cmake/mingw-x86_64.cmake
    -DCMAKE_BUILD_TYPE:STRING=${CMAKE_BUILD_TYPE}
    -DCMAKE_RUNTIME_OUTPUT_DIRECTORY:PATH=${CMAKE_BINARY_DIR}
    -DKAVRIN_SOURCE_DIR:PATH=${PROJECT_SOURCE_DIR}
    -DKAVRIN_BIND_DEF:FILEPATH=${PROJECT_SOURCE_DIR}/bind/kavrin_bind.def
    -DKAVRIN_BIND_SOURCES:STRING=${bind_sources}
    -DKAVRIN_BIND_INCLUDES:STRING=${bind_includes}
    -DKAVRIN_BIND_LIBRARIES:STRING=${bind_libraries}
    -DKAVRIN_BIND_DEFINITIONS:STRING=${bind_definitions}
    -DKAVRIN_BIND_OPTIONS:STRING=${bind_options}
    -DKAVRIN_BIND_LINK_OPTIONS:STRING=${bind_link_options}
  INSTALL_COMMAND ""
  BUILD_ALWAYS ON
  BUILD_BYPRODUCTS ${CMAKE_BINARY_DIR}/KavrinBind64.dll ${CMAKE_BINARY_DIR}/kavrin_bind64_tests.exe
                   ${CMAKE_BINARY_DIR}/bench_bind_connect64.exe
                   ${CMAKE_BINARY_DIR}/KavrinTestProvider64.dll)
