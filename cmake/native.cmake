# Portable core, GoogleTest suite and benchmarks, built with the host compiler.
if(KAVRIN_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()
# The "tsan" preset: ThreadSanitizer instead of ASan + UBSan (the two cannot be combined), for
# the engine's threads and the stress test that drives them.
if(KAVRIN_TSAN)
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
endif()
add_compile_options(-Wall -Wextra)

add_library(kv_core STATIC ${KAVRIN_PORTABLE_SOURCES} ${KAVRIN_POSIX_SOURCES})
target_include_directories(kv_core PUBLIC ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/res)

# The binding module's portable half (bind/*.cpp that are not *_win.cpp): its decisions are
# tested here like the client's.
file(GLOB KAVRIN_BIND_PORTABLE CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/bind/*.cpp)
list(FILTER KAVRIN_BIND_PORTABLE EXCLUDE REGEX "_win\\.cpp$")
if(KAVRIN_BIND_PORTABLE)
  target_sources(kv_core PRIVATE ${KAVRIN_BIND_PORTABLE})
endif()

find_package(GTest REQUIRED)
include(GoogleTest)
enable_testing()
file(GLOB KAVRIN_NATIVE_TESTS CONFIGURE_DEPENDS
     ${PROJECT_SOURCE_DIR}/tests/native/*.cpp ${PROJECT_SOURCE_DIR}/tests/native/fakes/*.cpp)
add_executable(kavrin_native_tests ${KAVRIN_NATIVE_TESTS})
target_include_directories(kavrin_native_tests PRIVATE ${PROJECT_SOURCE_DIR}/tests/native
                           ${PROJECT_SOURCE_DIR})
target_link_libraries(kavrin_native_tests PRIVATE kv_core GTest::gtest_main GTest::gmock)
gtest_discover_tests(kavrin_native_tests DISCOVERY_TIMEOUT 60)

find_package(benchmark QUIET)
file(GLOB KAVRIN_BENCHES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/bench/*.cpp)
# bench/*_win.cpp measure the real system and are built by the Windows tree; bench_main.cpp is
# the main of all the others (a failed correctness check ends the program with 1).
list(FILTER KAVRIN_BENCHES EXCLUDE REGEX "(_win|/bench_main)\\.cpp$")
if(benchmark_FOUND)
  # The route table fake of the native tests, for the benchmarks that drive the engine.
  add_library(kv_fakes STATIC ${PROJECT_SOURCE_DIR}/tests/native/fakes/fake_route_table.cpp
                            ${PROJECT_SOURCE_DIR}/tests/native/fakes/fake_clock.cpp)
  target_include_directories(kv_fakes PUBLIC ${PROJECT_SOURCE_DIR}/tests/native)
  target_link_libraries(kv_fakes PUBLIC kv_core)
  add_library(kv_bench_main OBJECT ${PROJECT_SOURCE_DIR}/bench/bench_main.cpp)
  target_link_libraries(kv_bench_main PUBLIC benchmark::benchmark)
  foreach(src ${KAVRIN_BENCHES})
    get_filename_component(name ${src} NAME_WE)
    add_executable(bench_${name} ${src})
    target_link_libraries(bench_${name} PRIVATE kv_fakes kv_core kv_bench_main)
  endforeach()
endif()
