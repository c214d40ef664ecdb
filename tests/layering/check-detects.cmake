# The layering check must fail, naming file and line, when a math file includes a platform
# header. Runs the check on a scratch tree: the real rules and one offending file.
set(scratch "${BINARY_DIR}/layering-scratch")
file(REMOVE_RECURSE "${scratch}")
file(MAKE_DIRECTORY "${scratch}/src/math")
configure_file("${SOURCE_DIR}/src/layers.txt" "${scratch}/src/layers.txt" COPYONLY)
file(WRITE "${scratch}/src/math/vec3.h" "#pragma once\n\n#include \"platform/gl/gl_device.h\"\n")
execute_process(COMMAND "${CMAKE_COMMAND}" -DSOURCE_DIR=${scratch} -P "${SOURCE_DIR}/scripts/check-layers.cmake"
                RESULT_VARIABLE result ERROR_VARIABLE errors OUTPUT_VARIABLE output)
file(REMOVE_RECURSE "${scratch}")
if(result EQUAL 0)
  message(FATAL_ERROR "the layering check passed a math file that includes a platform header")
endif()
if(NOT errors MATCHES "src/math/vec3.h:3: math may not include \"platform/gl/gl_device.h\"")
  message(FATAL_ERROR "the layering check failed without naming file and line:\n${errors}")
endif()
message(STATUS "the layering check names src/math/vec3.h:3")
