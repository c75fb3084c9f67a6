# The stream receiver's libFuzzer harness. Include this file from a clang build
# whose code is instrumented for fuzzing (-fsanitize=fuzzer-no-link,address,
# undefined) after the zvfec target exists, e.g. from the fuzz build's
# CMakeLists.txt:
#   include(${PROJECT_SOURCE_DIR}/fuzz/stream_receiver_fuzz.cmake)
# Run it for a bounded time: ./stream_receiver_fuzz -max_total_time=60
add_executable(stream_receiver_fuzz ${CMAKE_CURRENT_LIST_DIR}/stream_receiver_fuzz.cpp)
target_link_libraries(stream_receiver_fuzz PRIVATE zvfec)
target_compile_features(stream_receiver_fuzz PRIVATE cxx_std_20)
target_link_options(stream_receiver_fuzz PRIVATE -fsanitize=fuzzer,address,undefined)
zv_set_warnings(stream_receiver_fuzz)
