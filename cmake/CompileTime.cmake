# What keeps the builds of the test command short: every build parses the
# same standard, Qt and GoogleTest headers in each of its sources, and that
# is most of what a library's source costs to compile.

# A library's sources compile in a few combined files (CMake's unity build).
# Names in one source's anonymous namespace then share a file with the other
# sources of its library, so they must differ from theirs. The fuzz build
# turns this off: there each source compiles alone, which keeps every one
# including what it uses.
option(QUORVEL_UNITY_BUILD "Compile each library's sources in a few combined files" ON)

# quorvel_unity_build(TARGET...): those libraries' sources in combined files.
function(quorvel_unity_build)
  if(QUORVEL_UNITY_BUILD)
    set_target_properties(${ARGN} PROPERTIES UNITY_BUILD ON)
  endif()
endfunction()

