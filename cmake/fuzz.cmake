# One libFuzzer executable per fuzz/*.cpp, over the portable core.
add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer)
add_library(kv_core STATIC ${KAVRIN_PORTABLE_SOURCES} ${KAVRIN_POSIX_SOURCES})
target_include_directories(kv_core PUBLIC ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/res)
file(GLOB KAVRIN_BIND_PORTABLE CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/bind/*.cpp)
list(FILTER KAVRIN_BIND_PORTABLE EXCLUDE REGEX "_win\\.cpp$")
if(KAVRIN_BIND_PORTABLE)
  target_sources(kv_core PRIVATE ${KAVRIN_BIND_PORTABLE})
endif()

# The route table fake of the native tests, shared with the targets that drive the engine.
add_library(kv_fakes STATIC ${PROJECT_SOURCE_DIR}/tests/native/fakes/fake_route_table.cpp
                            ${PROJECT_SOURCE_DIR}/tests/native/fakes/fake_clock.cpp)
target_include_directories(kv_fakes PUBLIC ${PROJECT_SOURCE_DIR}/tests/native)
target_link_libraries(kv_fakes PUBLIC kv_core)

file(GLOB KAVRIN_FUZZERS CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/fuzz/*.cpp)
foreach(src ${KAVRIN_FUZZERS})
  get_filename_component(name ${src} NAME_WE)
  add_executable(fuzz_${name} ${src})
  target_link_libraries(fuzz_${name} PRIVATE kv_fakes kv_core)
  target_include_directories(fuzz_${name} PRIVATE ${PROJECT_SOURCE_DIR})
  target_link_options(fuzz_${name} PRIVATE -fsanitize=fuzzer,address,undefined)
endforeach()
