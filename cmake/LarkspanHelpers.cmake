# larkspan_add_library(<name> [DEPS <targets...>])
#
# One static library per source folder, made of every .cpp/.h/.ui file in it
# (sub-folders that hold their own CMakeLists.txt are left to themselves).
# A folder that holds no source yet becomes an interface target, so that
# the dependency graph stays the same while the folder is being filled.
function(larkspan_add_library name)
  cmake_parse_arguments(ARG "" "" "DEPS;EXCLUDE" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS
    "${CMAKE_CURRENT_SOURCE_DIR}/*.cpp"
    "${CMAKE_CURRENT_SOURCE_DIR}/*.h"
    "${CMAKE_CURRENT_SOURCE_DIR}/*.ui")
  foreach(ex IN LISTS ARG_EXCLUDE)
    list(REMOVE_ITEM sources "${CMAKE_CURRENT_SOURCE_DIR}/${ex}")
  endforeach()
  set(cpp ${sources})
  list(FILTER cpp INCLUDE REGEX "\\.cpp$")
  if(cpp)
    add_library(${name} STATIC ${sources})
    target_include_directories(${name} PUBLIC "${CMAKE_CURRENT_SOURCE_DIR}")
    target_link_libraries(${name} PUBLIC ${ARG_DEPS})
    set_target_properties(${name} PROPERTIES AUTOUIC_SEARCH_PATHS "${CMAKE_CURRENT_SOURCE_DIR}")
    larkspan_autogen_follows_sources(${name} "${sources}")
  else()
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE "${CMAKE_CURRENT_SOURCE_DIR}")
    target_link_libraries(${name} INTERFACE ${ARG_DEPS})
  endif()
endfunction()

# Qt's automatic moc/uic does not notice files that a glob adds to an existing
# build tree: its timestamp only follows the files it already knew. When the
# target's source list changes, the timestamp is removed so that the code
# generators run again.
function(larkspan_autogen_follows_sources target sources)
  set(list_file "${CMAKE_CURRENT_BINARY_DIR}/${target}_sources.txt")
  string(REPLACE ";" "\n" content "${sources}")
  set(old "")
  if(EXISTS "${list_file}")
    file(READ "${list_file}" old)
  endif()
  if(NOT old STREQUAL "${content}")
    file(WRITE "${list_file}" "${content}")
    file(REMOVE "${CMAKE_CURRENT_BINARY_DIR}/${target}_autogen/timestamp")
  endif()
endfunction()
