# Run by cpack once the package's files are staged: adds to Depends the
# libraries that the staged programs and libraries need, as dpkg-shlibdeps
# computes them. CPackDeb could do it, but would then also give the package
# maintainer scripts that call ldconfig (see CMakeLists.txt).
if(NOT CPACK_GENERATOR STREQUAL "DEB")
  return()
endif()
find_program(ROLTA_SHLIBDEPS dpkg-shlibdeps)
if(NOT ROLTA_SHLIBDEPS)
  message(FATAL_ERROR "dpkg-shlibdeps is missing (Debian package dpkg-dev): the package's Depends cannot be computed")
endif()

set(staging "${CPACK_TEMPORARY_DIRECTORY}")
file(GLOB_RECURSE staged LIST_DIRECTORIES false "${staging}/*")
set(binaries)
foreach(file IN LISTS staged)
  if(IS_SYMLINK "${file}")
    continue()
  endif()
  file(READ "${file}" magic LIMIT 4 HEX)
  if(magic STREQUAL "7f454c46")  # "\177ELF"
    list(APPEND binaries "${file}")
  endif()
endforeach()
if(NOT binaries)
  message(FATAL_ERROR "no program found in ${staging}")
endif()

# dpkg-shlibdeps wants a debian/control beside it and DEBIAN/ in the package
# root; neither may stay in the package.
file(WRITE "${staging}/debian/control" "")
file(MAKE_DIRECTORY "${staging}/DEBIAN")
execute_process(COMMAND "${ROLTA_SHLIBDEPS}" --ignore-missing-info -O ${binaries}
                WORKING_DIRECTORY "${staging}"
                OUTPUT_VARIABLE shlibdeps ERROR_VARIABLE shlibdeps_error RESULT_VARIABLE shlibdeps_result
                OUTPUT_STRIP_TRAILING_WHITESPACE)
file(REMOVE_RECURSE "${staging}/debian" "${staging}/DEBIAN")
if(NOT shlibdeps_result EQUAL 0 OR NOT shlibdeps MATCHES "shlibs:Depends=")
  message(FATAL_ERROR "dpkg-shlibdeps failed (${shlibdeps_result}): ${shlibdeps_error}")
endif()
string(REGEX REPLACE "^.*shlibs:Depends=" "" computed "${shlibdeps}")
if(CPACK_DEBIAN_PACKAGE_DEPENDS)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "${CPACK_DEBIAN_PACKAGE_DEPENDS}, ${computed}")
else()
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "${computed}")
endif()
