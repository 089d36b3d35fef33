# The system-information table generator and the rule that runs it.
#
# The generator always runs on the build host: in a cross build it is
# compiled with the host's compiler by a custom command, so the target
# toolchain never has to run anything.
set(HYX_HSIGEN_SOURCE ${PROJECT_SOURCE_DIR}/tools/hsigen/hsigen.cpp)
set(HYX_HSI_DEFS_DIR ${PROJECT_SOURCE_DIR}/lib/hyxsysinfo/defs)
if(CMAKE_CROSSCOMPILING)
  find_program(HYX_HOST_CXX NAMES c++ g++ clang++ REQUIRED NO_CMAKE_FIND_ROOT_PATH)
  set(HYX_HSIGEN ${CMAKE_BINARY_DIR}/host/hsigen)
  add_custom_command(
    OUTPUT ${HYX_HSIGEN}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/host
    COMMAND ${HYX_HOST_CXX} -std=c++20 -O2 -Wall -Wextra -Werror ${HYX_HSIGEN_SOURCE} -o ${HYX_HSIGEN}
    DEPENDS ${HYX_HSIGEN_SOURCE}
    COMMENT "Building the table generator for the build host")
  add_custom_target(hsigen DEPENDS ${HYX_HSIGEN})
else()
  add_executable(hsigen ${HYX_HSIGEN_SOURCE})
  hyx_project_target(hsigen)
  set(HYX_HSIGEN $<TARGET_FILE:hsigen>)
endif()

# hyx_hsi_tables(TARGET NAME <base> DIR <subdir> DEFS <entry .hsi>
#                [NAMESPACE <ns>] [RENUMBER <seed>])
# Writes <build>/generated/<subdir>/<base>.h, .cpp and .stats, and
# <base>Records.h with the records' sizes and field offsets, and makes
# TARGET, an INTERFACE library that puts <build>/generated on the include
# path and orders generation before its users.  The .cpp path is returned
# in <TARGET>_SOURCE for the object library that compiles it.
function(hyx_hsi_tables target)
  cmake_parse_arguments(ARG "" "NAME;DIR;DEFS;NAMESPACE;RENUMBER" "" ${ARGN})
  set(dir ${CMAKE_BINARY_DIR}/generated/${ARG_DIR})
  set(options)
  if(ARG_NAMESPACE)
    list(APPEND options --namespace ${ARG_NAMESPACE})
  endif()
  if(DEFINED ARG_RENUMBER)
    list(APPEND options --renumber ${ARG_RENUMBER})
  endif()
  get_filename_component(defsDir ${ARG_DEFS} DIRECTORY)
  file(GLOB defs CONFIGURE_DEPENDS ${defsDir}/*.hsi ${HYX_HSI_DEFS_DIR}/*.hsi)
  add_custom_command(
    OUTPUT ${dir}/${ARG_NAME}.h ${dir}/${ARG_NAME}.cpp ${dir}/${ARG_NAME}.stats ${dir}/${ARG_NAME}Records.h
    COMMAND ${CMAKE_COMMAND} -E make_directory ${dir}
    COMMAND ${HYX_HSIGEN} ${options} --stats ${dir}/${ARG_NAME}.stats --records ${dir}/${ARG_NAME}Records.h
            ${ARG_DEFS} ${dir}/${ARG_NAME}.h ${dir}/${ARG_NAME}.cpp
    DEPENDS hsigen ${HYX_HSIGEN} ${defs}
    COMMENT "Generating the system-information tables ${ARG_DIR}/${ARG_NAME}")
  add_custom_target(${target}_generate DEPENDS ${dir}/${ARG_NAME}.h ${dir}/${ARG_NAME}.cpp
                    ${dir}/${ARG_NAME}Records.h)
  add_library(${target} INTERFACE)
  add_dependencies(${target} ${target}_generate)
  target_include_directories(${target} INTERFACE ${CMAKE_BINARY_DIR}/generated ${PROJECT_SOURCE_DIR}/lib)
  set(${target}_SOURCE ${dir}/${ARG_NAME}.cpp PARENT_SCOPE)
  set(${target}_STATS ${dir}/${ARG_NAME}.stats PARENT_SCOPE)
endfunction()
