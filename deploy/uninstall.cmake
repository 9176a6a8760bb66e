# [DESTDIR=...] cmake -DMANIFEST=build/install_manifest.txt -P uninstall.cmake
#
# Removes every file a `cmake --install` listed in MANIFEST, under DESTDIR
# when it is set (the manifest holds the paths without it), then the folders
# of ours it leaves empty: those named vorn-spoa and their subfolders.
# Shared folders such as share/man/man8 stay.
if(NOT MANIFEST OR NOT EXISTS "${MANIFEST}")
  message(FATAL_ERROR "uninstall: no install manifest at '${MANIFEST}'; run make install first")
endif()
file(STRINGS "${MANIFEST}" installed)
set(folders "")
set(root "$ENV{DESTDIR}")
foreach(listed IN LISTS installed)
  set(path "${root}${listed}")
  if(EXISTS "${path}" OR IS_SYMLINK "${path}")
    message(STATUS "Removing ${path}")
    file(REMOVE "${path}")
  endif()
  cmake_path(GET path PARENT_PATH folder)
  while(folder MATCHES "/vorn-spoa(/|$)")
    list(APPEND folders "${folder}")
    cmake_path(GET folder PARENT_PATH folder)
  endwhile()
endforeach()
list(REMOVE_DUPLICATES folders)
# Deepest first, so that a parent is empty by the time it comes up.
list(SORT folders ORDER DESCENDING)
foreach(folder IN LISTS folders)
  if(IS_DIRECTORY "${folder}")
    file(GLOB left "${folder}/*" "${folder}/.*")
    if(NOT left)
      file(REMOVE_RECURSE "${folder}")
    endif()
  endif()
endforeach()
