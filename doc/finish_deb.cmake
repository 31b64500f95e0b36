# Run by CPack after it builds the .deb, for what CPack can't do itself:
#  - gzip the manual page and the changelog (gzip -9n: no name or time
#    stamp, so the bytes are the same on every build), as Debian packages
#    carry them, and list the new files in md5sums;
#  - add the Built-Using field naming the libstb source version compiled into
#    the tool: Debian's convention for embedded code, so that security
#    updates to stb can be traced to the packages that need a rebuild.
foreach(deb ${CPACK_PACKAGE_FILES})
  set(tree "${deb}.tree")
  file(REMOVE_RECURSE "${tree}")
  execute_process(COMMAND dpkg-deb -R "${deb}" "${tree}" COMMAND_ERROR_IS_FATAL ANY)

  file(GLOB_RECURSE pages "${tree}/usr/share/man/*.1" "${tree}/usr/share/doc/*/changelog")
  foreach(page ${pages})
    execute_process(COMMAND gzip -9nf "${page}" COMMAND_ERROR_IS_FATAL ANY)
  endforeach()
  execute_process(COMMAND sh -c "find usr -type f | LC_ALL=C sort | xargs md5sum > DEBIAN/md5sums"
                  WORKING_DIRECTORY "${tree}" COMMAND_ERROR_IS_FATAL ANY)

  if(CPACK_PIXREMAP_BUILT_USING)
    file(READ "${tree}/DEBIAN/control" control)
    string(REGEX REPLACE "\n+$" "" control "${control}")
    file(WRITE "${tree}/DEBIAN/control" "${control}\nBuilt-Using: ${CPACK_PIXREMAP_BUILT_USING}\n")
  endif()
  execute_process(COMMAND dpkg-deb --root-owner-group -Zxz -b "${tree}" "${deb}"
                  OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
  file(REMOVE_RECURSE "${tree}")
endforeach()
