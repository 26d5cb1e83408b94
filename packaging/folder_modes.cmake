# Run by cpack on the staged files, just before it packs them: the folders
# that the install step made take their mode from the packer's umask, so give
# them one mode (files have theirs from the install rules).
file(GLOB_RECURSE staged LIST_DIRECTORIES true "${CPACK_TEMPORARY_DIRECTORY}/*")
foreach(path IN LISTS staged)
  if(IS_DIRECTORY ${path})
    file(CHMOD ${path} PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE
      GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
  endif()
endforeach()
