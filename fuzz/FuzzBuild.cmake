# Included by the top-level CMakeLists.txt before any library is defined when
# LARKSPAN_BUILD_FUZZ is on: every library is then built with the coverage
# instrumentation libFuzzer needs and with AddressSanitizer and
# UndefinedBehaviorSanitizer, so that a fault anywhere in our code stops the
# run. Only clang has libFuzzer; configure this build on its own:
#   CC=clang CXX=clang++ cmake -S . -B build/fuzz -DLARKSPAN_BUILD_FUZZ=ON
if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang" OR NOT CMAKE_C_COMPILER_ID MATCHES "Clang")
  message(FATAL_ERROR "LARKSPAN_BUILD_FUZZ needs clang: configure a build folder of its own with "
                      "CC=clang CXX=clang++")
endif()
if(LARKSPAN_SANITIZE)
  message(FATAL_ERROR "LARKSPAN_BUILD_FUZZ sets its own sanitizers; leave LARKSPAN_SANITIZE off")
endif()
add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all
                    -fno-omit-frame-pointer)
add_link_options(-fsanitize=address,undefined)
