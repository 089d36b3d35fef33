# Settings every target of the project's own code gets (third-party code
# such as GoogleTest is built without them).
function(hyx_project_target target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Werror)
  target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR}/include ${PROJECT_SOURCE_DIR}/lib)
endfunction()

# Code that goes into libhyxuser.so: C ABI outside, no C++ runtime inside.
function(hyx_library_target target)
  hyx_project_target(${target})
  target_compile_options(${target} PRIVATE
    $<$<COMPILE_LANGUAGE:CXX>:-fno-exceptions -fno-rtti -fvisibility-inlines-hidden>
    -fvisibility=hidden)
  set_target_properties(${target} PROPERTIES POSITION_INDEPENDENT_CODE ON)
endfunction()
