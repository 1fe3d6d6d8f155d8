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

# qv_include_root(<target> <folder>): "#include "<folder>/x.h"" resolves for
# <target> and whatever links it, and nowhere else, so that a header of a
# library a target does not link fails to build. The root is a folder of the
# build tree holding nothing but a link to the source folder.
function(qv_include_root target folder)
  set(root ${CMAKE_BINARY_DIR}/include/${folder})
  file(MAKE_DIRECTORY ${root})
  file(CREATE_LINK ${CMAKE_SOURCE_DIR}/${folder} ${root}/${folder} SYMBOLIC)
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "INTERFACE_LIBRARY")
    target_include_directories(${target} INTERFACE ${root})
  else()
    target_include_directories(${target} PUBLIC ${root})
  endif()
endfunction()
