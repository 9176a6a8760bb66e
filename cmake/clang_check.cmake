# The second compiler of our test builds: every source of the daemon and its
# companions, compiled for syntax only with VORN_CLANG_CHECK (a clang++) and
# libc++, the toolchain FreeBSD builds with, using each target's own flags.
# What g++ and libstdc++ let through (a missing include, an unsupported
# library call, a clang-only warning) fails the target clang_check. Included
# last, once every program's targets exist; a source is checked again only
# when it or a header it includes changes.
set(VORN_CLANG_CHECK "" CACHE STRING
  "clang++ for the target clang_check (make test uses clang++-19); empty for none")
if(NOT VORN_CLANG_CHECK)
  return()
endif()

add_custom_target(clang_check)
foreach(dir "${CMAKE_SOURCE_DIR}" "${CMAKE_SOURCE_DIR}/src/gate" "${CMAKE_SOURCE_DIR}/tools/receipt")
  get_property(targets DIRECTORY "${dir}" PROPERTY BUILDSYSTEM_TARGETS)
  foreach(target ${targets})
    get_target_property(type ${target} TYPE)
    if(NOT type STREQUAL "STATIC_LIBRARY" AND NOT type STREQUAL "EXECUTABLE")
      continue()
    endif()
    get_target_property(sources ${target} SOURCES)
    get_target_property(source_dir ${target} SOURCE_DIR)
    set(includes "$<TARGET_PROPERTY:${target},INCLUDE_DIRECTORIES>")
    set(definitions "$<TARGET_PROPERTY:${target},COMPILE_DEFINITIONS>")
    foreach(source ${sources})
      if(NOT source MATCHES "\\.cpp$")
        continue()
      endif()
      cmake_path(ABSOLUTE_PATH source BASE_DIRECTORY "${source_dir}")
      cmake_path(RELATIVE_PATH source BASE_DIRECTORY "${CMAKE_SOURCE_DIR}" OUTPUT_VARIABLE name)
      set(stamp "${CMAKE_BINARY_DIR}/clang_check/${name}.ok")
      cmake_path(GET stamp PARENT_PATH stamp_dir)
      file(MAKE_DIRECTORY "${stamp_dir}")
      add_custom_command(OUTPUT "${stamp}"
        COMMAND ${VORN_CLANG_CHECK} -std=c++${CMAKE_CXX_STANDARD} -stdlib=libc++ -fsyntax-only
          "$<TARGET_PROPERTY:${target},COMPILE_OPTIONS>"
          "$<$<BOOL:${includes}>:-I$<JOIN:${includes},;-I>>"
          "$<$<BOOL:${definitions}>:-D$<JOIN:${definitions},;-D>>"
          -MD -MF "${stamp}.d" -MT "${stamp}" "${source}"
        COMMAND ${CMAKE_COMMAND} -E touch "${stamp}"
        DEPENDS "${source}"
        DEPFILE "${stamp}.d"
        COMMENT "clang and libc++: ${name}"
        COMMAND_EXPAND_LISTS VERBATIM)
      list(APPEND stamps "${stamp}")
    endforeach()
  endforeach()
endforeach()
add_custom_target(clang_check_sources DEPENDS ${stamps})
add_dependencies(clang_check clang_check_sources)
