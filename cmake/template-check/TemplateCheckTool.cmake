# lw_add_template_check_tool(SOURCE_DIR CORE_TARGET PLATFORM): the executable
# lw-template-check, built from the checker's main, the platform layer named PLATFORM
# (posix or win32), an empty resource table and the core library CORE_TARGET.
function(lw_add_template_check_tool source_dir core platform)
  file(GLOB platform_sources CONFIGURE_DEPENDS ${source_dir}/platform/*-${platform}.cpp)
  list(FILTER platform_sources EXCLUDE REGEX "_test\\.cpp$")
  set(table ${CMAKE_CURRENT_BINARY_DIR}/template_check_resources.cpp)
  execute_process(
    COMMAND ${CMAKE_COMMAND} -DINPUT= -DOUTPUT=${table} -DEMBED=OFF
            -P ${source_dir}/cmake/EmbedFile.cmake
    COMMAND_ERROR_IS_FATAL ANY)
  add_executable(lw-template-check
    ${source_dir}/provisioning/template_check_main.cpp ${platform_sources} ${table})
  target_include_directories(lw-template-check PRIVATE ${source_dir})
  target_link_libraries(lw-template-check PRIVATE ${core} ${CMAKE_DL_LIBS})
endfunction()
