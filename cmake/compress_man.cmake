# Run by CPack on its staging tree: Debian packages carry their manual pages
# gzipped, and `gzip -n` keeps the result the same from build to build.
file(GLOB_RECURSE pages "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*/share/man/*.1")
foreach(page IN LISTS pages)
  execute_process(COMMAND gzip -9nf "${page}" RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "gzip ${page} failed")
  endif()
endforeach()
