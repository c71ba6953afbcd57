# What keeps the bits of Eigen's products the same on every machine the module builds for.
#
# Blocking: Eigen splits the inner dimension of a matrix product into blocks sized from the
# CPU's caches (read with CPUID on x86), and each block boundary is a rounding. The sizes
# are fixed here, the same on every architecture, so a product rounds alike on any CPU.
#
# aarch64: Eigen's NEON products for doubles use fused multiply-add whatever
# -ffp-contract says; src/common/neon_without_fma.hpp, force-included before everything
# else, makes them round each product and sum on its own as on x86-64.
#
# The header is a no-op on other architectures, so it is force-included everywhere, which
# also covers a build for several macOS architectures at once. VEXA_PRELUDE_OPTIONS holds
# the option, for a target that force-includes a header of its own and must put this first.
target_compile_definitions(vexa_flags INTERFACE
  EIGEN_NO_CPUID
  EIGEN_DEFAULT_L1_CACHE_SIZE=32768
  EIGEN_DEFAULT_L2_CACHE_SIZE=262144
  EIGEN_DEFAULT_L3_CACHE_SIZE=2097152)

set(VEXA_PRELUDE_OPTIONS
  "SHELL:-include ${CMAKE_CURRENT_SOURCE_DIR}/src/common/neon_without_fma.hpp")
target_compile_options(vexa_flags INTERFACE "$<$<COMPILE_LANGUAGE:CXX>:${VEXA_PRELUDE_OPTIONS}>")
if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(aarch64|arm64|ARM64)$")
  message(STATUS "aarch64: Eigen's NEON products for doubles are built without fused multiply-add")
  # GCC notes, at every pair of doubles passed by value, that GCC 10.1 changed how
  # aarch64 passes them; the module and its dependencies are all built by one compiler.
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    target_compile_options(vexa_flags INTERFACE -Wno-psabi)
  endif()
endif()

# vexa_export_only_entry(target): the extension's single entry point is its only exported
# symbol. GNU ld, gold, lld and mold take the version script; Apple's linker takes a list
# of exported symbols instead; a linker that takes neither exports what the hidden
# visibility leaves (the entry point alone, apart from the C++ runtime's own symbols).
include(CheckLinkerFlag)
check_linker_flag(CXX "-Wl,--version-script=${CMAKE_CURRENT_SOURCE_DIR}/src/module/exports.map"
  VEXA_LINKER_VERSION_SCRIPT)
if(NOT VEXA_LINKER_VERSION_SCRIPT)
  check_linker_flag(CXX
    "-Wl,-exported_symbols_list,${CMAKE_CURRENT_SOURCE_DIR}/src/module/exported_symbols.txt"
    VEXA_LINKER_EXPORTED_SYMBOLS_LIST)
endif()
function(vexa_export_only_entry target)
  if(VEXA_LINKER_VERSION_SCRIPT)
    set(symbols ${CMAKE_CURRENT_SOURCE_DIR}/src/module/exports.map)
    target_link_options(${target} PRIVATE -Wl,--version-script=${symbols})
  elseif(VEXA_LINKER_EXPORTED_SYMBOLS_LIST)
    set(symbols ${CMAKE_CURRENT_SOURCE_DIR}/src/module/exported_symbols.txt)
    target_link_options(${target} PRIVATE -Wl,-exported_symbols_list,${symbols})
  else()
    message(STATUS "The linker takes no list of exported symbols: hidden visibility alone")
    return()
  endif()
  set_target_properties(${target} PROPERTIES LINK_DEPENDS ${symbols})
endfunction()
