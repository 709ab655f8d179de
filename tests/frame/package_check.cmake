# Builds the Debian package of a build directory and checks it holds exactly what an installation
# puts, and depends on the packages of the libraries its binaries load.
#   cmake -DBUILD_DIR=... -DWORK=... -P package_check.cmake
cmake_policy(VERSION 3.25)
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})

execute_process(COMMAND cpack -G DEB -B ${WORK}/package --config ${BUILD_DIR}/CPackConfig.cmake
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
file(GLOB debs ${WORK}/package/*.deb)
if(NOT rc EQUAL 0 OR NOT debs)
  message(FATAL_ERROR "cpack failed (${rc}):\n${out}")
endif()
list(GET debs 0 deb)

# What the package holds: files and links, as paths under /.
execute_process(COMMAND dpkg-deb -c ${deb} OUTPUT_VARIABLE listing RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "dpkg-deb -c failed on ${deb}")
endif()
string(REPLACE "\n" ";" lines "${listing}")
set(packaged "")
foreach(line IN LISTS lines)
  if(line MATCHES "^[-l][^ ]* .* \\./([^ ]+)( -> .*)?$")
    list(APPEND packaged "/${CMAKE_MATCH_1}")
  endif()
endforeach()

# What an installation into the same prefix puts.
set(ENV{DESTDIR} ${WORK}/root)
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix /usr RESULT_VARIABLE rc
                OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "install failed:\n${out}")
endif()
file(GLOB_RECURSE installed LIST_DIRECTORIES false RELATIVE ${WORK}/root ${WORK}/root/*)
list(TRANSFORM installed PREPEND /)
list(SORT installed)
list(SORT packaged)
if(NOT installed STREQUAL packaged)
  message(FATAL_ERROR "the package holds\n  ${packaged}\nthe installation puts\n  ${installed}")
endif()
foreach(needed /usr/bin/tarnwick /usr/bin/nimbo-batch /usr/share/man/man1/nimbo-batch.1.gz /usr/include/nimbo/nimbo.h
               /usr/share/applications/tarnwick.desktop)
  if(NOT needed IN_LIST packaged)
    message(FATAL_ERROR "the package lacks ${needed}")
  endif()
endforeach()

execute_process(COMMAND dpkg-deb -f ${deb} Depends OUTPUT_VARIABLE depends OUTPUT_STRIP_TRAILING_WHITESPACE)
foreach(package libc6 libstdc\\+\\+6 libqt6core6 libqt6widgets6)
  if(NOT depends MATCHES "(^|, )${package}( |,|$)")
    message(FATAL_ERROR "Depends lacks ${package}: ${depends}")
  endif()
endforeach()
cmake_policy(VERSION 3.25)
file(REMOVE_RECURSE ${WORK})
message(STATUS "${deb}: ${packaged}\nDepends: ${depends}")
