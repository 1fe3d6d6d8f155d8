# One interface target carries the language level, warnings and sanitizer
# switches; every target of the project links it.
set(QV_SANITIZE "" CACHE STRING "Sanitizers: empty, 'address;undefined', or 'thread'")

add_library(qv_common_cfg INTERFACE)
target_compile_features(qv_common_cfg INTERFACE cxx_std_20)
set(CMAKE_CXX_EXTENSIONS OFF)
set(CMAKE_POSITION_INDEPENDENT_CODE ON)
target_compile_options(qv_common_cfg INTERFACE -Wall -Wextra -Wpedantic)

if(QV_SANITIZE)
  list(JOIN QV_SANITIZE "," _qv_san)
  target_compile_options(qv_common_cfg INTERFACE -fsanitize=${_qv_san} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  target_link_options(qv_common_cfg INTERFACE -fsanitize=${_qv_san})
endif()
