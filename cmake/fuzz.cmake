# One libFuzzer executable per fuzz/*.cpp, over the portable core.
add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer)
add_library(kv_core STATIC ${KAVRIN_PORTABLE_SOURCES} ${KAVRIN_POSIX_SOURCES})
target_include_directories(kv_core PUBLIC ${PROJECT_SOURCE_DIR}/src)

file(GLOB KAVRIN_FUZZERS CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/fuzz/*.cpp)
foreach(src ${KAVRIN_FUZZERS})
  get_filename_component(name ${src} NAME_WE)
  add_executable(fuzz_${name} ${src})
  target_link_libraries(fuzz_${name} PRIVATE kv_core)
  target_link_options(fuzz_${name} PRIVATE -fsanitize=fuzzer,address,undefined)
endforeach()
