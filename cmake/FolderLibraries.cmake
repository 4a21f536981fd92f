# Each folder of the terminal is a static library of its own, and it may
# include only from itself and from the folders it depends on (theirs
# included). The build checks it: a folder's sources are compiled against an
# include root of its own that holds links to just those folders, so an
# include from a folder above, or from one that was not declared, does not
# compile. Whatever lies outside the folders (the tests, the benchmarks, the
# tools) sees them all through quorvel_headless or the window's library.

# quorvel_folder_library(FOLDER [DEPENDS FOLDER...] [LIBRARIES target...])
#   builds FOLDER/*.cpp into quorvel_FOLDER.
function(quorvel_folder_library folder)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "" "DEPENDS;LIBRARIES")
  set(allowed ${folder})
  set(libraries)
  foreach(dependency IN LISTS arg_DEPENDS)
    get_property(known GLOBAL PROPERTY QUORVEL_FOLDER_${dependency} SET)
    if(NOT known)
      message(FATAL_ERROR "${folder}/ depends on ${dependency}/, which is not declared before it")
    endif()
    get_property(reachable GLOBAL PROPERTY QUORVEL_FOLDER_${dependency})
    list(APPEND allowed ${reachable})
    list(APPEND libraries quorvel_${dependency})
  endforeach()
  list(REMOVE_DUPLICATES allowed)
  set_property(GLOBAL PROPERTY QUORVEL_FOLDER_${folder} ${allowed})

  set(root ${CMAKE_BINARY_DIR}/include-roots/${folder})
  file(REMOVE_RECURSE ${root})
  file(MAKE_DIRECTORY ${root})
  foreach(reachable IN LISTS allowed)
    file(CREATE_LINK ${PROJECT_SOURCE_DIR}/${reachable} ${root}/${reachable} SYMBOLIC)
  endforeach()

  file(GLOB sources CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/${folder}/*.cpp)
  add_library(quorvel_${folder} STATIC ${sources})
  target_include_directories(quorvel_${folder} PRIVATE ${root})
  target_link_libraries(quorvel_${folder} PUBLIC ${libraries} ${arg_LIBRARIES})
  quorvel_unity_build(quorvel_${folder})
  if(QUORVEL_FUZZ)
    # With the fuzz targets, the folders' code carries the coverage that
    # steers the fuzzers.
    target_compile_options(quorvel_${folder} PRIVATE -fsanitize=fuzzer-no-link)
  endif()
  # The fuzz targets' build compiles every folder library, whatever folders come.
  set_property(GLOBAL APPEND PROPERTY QUORVEL_FOLDER_LIBRARIES quorvel_${folder})
endfunction()
