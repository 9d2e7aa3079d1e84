# Builds an effect's pure pixel kernels as a static library for its plug-in module, tests and
# benchmarks: the plain sources everywhere, the SIMD ones on x86-64 only.
function(mivra_add_kernels target)
  cmake_parse_arguments(KERNELS "" "" "PLAIN;SIMD" ${ARGN})
  add_library(${target} STATIC ${KERNELS_PLAIN})
  if(CMAKE_SYSTEM_PROCESSOR MATCHES "x86_64|AMD64")
    target_sources(${target} PRIVATE ${KERNELS_SIMD})
  endif()
  target_include_directories(${target} PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
  target_link_libraries(${target} PUBLIC platform_headers PRIVATE kernel_support)
endfunction()
