# A start of the terminal faults in most of the program's code pages (the
# kernel maps a page's neighbours with it), so the size of the code is most
# of the program's own share of its resident memory. Code that runs once or
# at a person's pace (the settings file, the demo device, the scripts' glue,
# the window, whose drawing is mostly Qt's own) is compiled for size in the
# optimised builds; the code the line's bytes go through (the receive
# worker, the history, the console's emulator, the transfers, the plot's
# reading) keeps the build's optimisation.

# An optimised build: neither a sanitizer's nor a debugging one, and
# compiled with an -O level that -Os can stand in for.
string(TOUPPER "${CMAKE_BUILD_TYPE}" quorvel_config)
if(QUORVEL_SANITIZER STREQUAL "" AND NOT CMAKE_BUILD_TYPE STREQUAL "Debug" AND
   "${CMAKE_CXX_FLAGS} ${CMAKE_CXX_FLAGS_${quorvel_config}}" MATCHES "-O[1-3]")
  set(QUORVEL_OPTIMISED_BUILD ON)
endif()

# quorvel_compact_code(TARGET): TARGET compiled for size in an optimised build
# (the target's options come after the build's flags; the last -O wins).
function(quorvel_compact_code target)
  if(QUORVEL_OPTIMISED_BUILD)
    target_compile_options(${target} PRIVATE -Os)
  endif()
endfunction()

# The code that runs at start goes together at the front of the program
# (ui/start_order.txt, written by tools/start-order.sh), so a start faults in
# those pages rather than every page with one such function in it. It needs
# each function in a section of its own and lld's ordering file.
option(QUORVEL_START_ORDER "Place the code that runs at start together" ON)
set(QUORVEL_START_ORDER_FILE ${PROJECT_SOURCE_DIR}/ui/start_order.txt)
if(QUORVEL_START_ORDER AND QUORVEL_OPTIMISED_BUILD AND QUORVEL_LLD AND QUORVEL_LLD_PROGRAM AND
   EXISTS ${QUORVEL_START_ORDER_FILE})
  add_compile_options(-ffunction-sections)
  set(QUORVEL_START_ORDER_ACTIVE ON)
endif()

# quorvel_start_order(TARGET): TARGET's code laid out in that order.
function(quorvel_start_order target)
  if(QUORVEL_START_ORDER_ACTIVE)
    target_link_options(${target} PRIVATE
      -Wl,--symbol-ordering-file=${QUORVEL_START_ORDER_FILE} -Wl,--no-warn-symbol-ordering)
    set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${QUORVEL_START_ORDER_FILE})
  endif()
endfunction()
