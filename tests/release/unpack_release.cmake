# Makes the Windows release archive from a build folder with tools/release, as a user would get
# it, checks its name and contents, and unpacks it into a fresh folder for the programs to be run
# from there.
# Usage: cmake -DSOURCE_DIR=... -DBUILD_DIR=... -DWORK_DIR=... -DVERSION=1.0.0.1 -DFLAVOUR=win32|win64
#              -P unpack_release.cmake
cmake_minimum_required(VERSION 3.25)

file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR}/unpacked)

execute_process(COMMAND bash ${SOURCE_DIR}/tools/release --windows-build ${BUILD_DIR} --windows-only
                        --out ${WORK_DIR}/archives
                RESULT_VARIABLE status OUTPUT_VARIABLE made ERROR_VARIABLE errors OUTPUT_STRIP_TRAILING_WHITESPACE)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "tools/release failed (${status}):\n${errors}")
endif()
set(zip ${WORK_DIR}/archives/Tarvelo-${VERSION}-${FLAVOUR}.zip)
if(NOT made STREQUAL zip OR NOT EXISTS ${zip})
    message(FATAL_ERROR "tools/release made \"${made}\", expected ${zip}")
endif()

execute_process(COMMAND ${CMAKE_COMMAND} -E tar xf ${zip} WORKING_DIRECTORY ${WORK_DIR}/unpacked
                RESULT_VARIABLE status)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "${zip} does not unpack (${status})")
endif()

# Exactly the four files a user needs and the read-me, in one folder named after the version.
file(GLOB_RECURSE unpacked RELATIVE ${WORK_DIR}/unpacked ${WORK_DIR}/unpacked/*)
list(SORT unpacked)
set(folder Tarvelo-${VERSION})
set(expected ${folder}/README.txt ${folder}/Tarvelo.exe ${folder}/Template.exe ${folder}/TarveloHelp.chm
             ${folder}/tarvelo-build.exe)
list(SORT expected)
if(NOT unpacked STREQUAL expected)
    message(FATAL_ERROR "${zip} holds\n  ${unpacked}\nexpected\n  ${expected}")
endif()

file(READ ${WORK_DIR}/unpacked/${folder}/README.txt readme)
file(READ ${WORK_DIR}/unpacked/${folder}/README.txt readme_bytes HEX)
if(NOT readme MATCHES "Tarvelo Installer ${VERSION} " OR NOT readme_bytes MATCHES "0d0a")
    message(FATAL_ERROR "README.txt does not name version ${VERSION} or lacks Windows line ends:\n${readme}")
endif()
message(STATUS "${zip}: ${expected}")
