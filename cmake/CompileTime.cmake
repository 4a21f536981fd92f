# What keeps the builds of the test command short: every build parses the
# same standard, Qt and GoogleTest headers in each of its sources, and that
# is most of what a library's source costs to compile.

# A library's sources compile in a few combined files (CMake's unity build).
# Names in one source's anonymous namespace then share a file with the other
# sources of its library, so they must differ from theirs. A source that
# leans on an include of the one before it in its file shows only with this
# off (-DQUORVEL_UNITY_BUILD=OFF).
option(QUORVEL_UNITY_BUILD "Compile each library's sources in a few combined files" ON)

# The tests' executables share their heavy headers precompiled.
option(QUORVEL_PRECOMPILED_HEADERS "Precompile the headers the tests share" ON)

# quorvel_unity_build(TARGET...): those libraries' sources in combined files.
function(quorvel_unity_build)
  if(QUORVEL_UNITY_BUILD)
    set_target_properties(${ARGN} PROPERTIES UNITY_BUILD ON)
  endif()
endfunction()

# quorvel_shared_headers(TARGET OWNER_VARIABLE HEADER...): TARGET compiles
# with the headers precompiled. The first target of a group (OWNER_VARIABLE
# empty) builds the precompiled header and becomes the group's owner; the
# others, compiled with the same flags, reuse it.
function(quorvel_shared_headers target owner_variable)
  if(NOT QUORVEL_PRECOMPILED_HEADERS)
    return()
  endif()
  # With the standard headers precompiled, GCC 12 no longer sees the
  # inlined string copies of a test's concatenations as system code and
  # reports its known false out-of-bounds warnings on them.
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    target_compile_options(${target} PRIVATE -Wno-array-bounds -Wno-restrict -Wno-stringop-overflow)
  endif()
  if("${${owner_variable}}" STREQUAL "")
    target_precompile_headers(${target} PRIVATE ${ARGN})
    set(${owner_variable} ${target} PARENT_SCOPE)
  else()
    target_precompile_headers(${target} REUSE_FROM ${${owner_variable}})
  endif()
endfunction()
