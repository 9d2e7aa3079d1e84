# Builds an effect module: a shared object <ModuleName>.tsk that exports only GetMenuName and Dlg.
# Everything else stays inside it, also what it takes from the static libraries it links.
# Installed into plgin/ beside libplatform unless NO_INSTALL; a test checks the exports.
#
#   mivra_add_plugin(<target> <ModuleName> [NO_INSTALL] <sources...>)
function(mivra_add_plugin target module)
  cmake_parse_arguments(PLUGIN "NO_INSTALL" "" "" ${ARGN})
  add_library(${target} MODULE ${PLUGIN_UNPARSED_ARGUMENTS})
  set_target_properties(${target} PROPERTIES PREFIX "" SUFFIX ".tsk" OUTPUT_NAME ${module}
    CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON
    INSTALL_RPATH "$ORIGIN/..") # libplatform lies in the folder above plgin/
  target_link_libraries(${target} PRIVATE plugin_framework)
  target_link_options(${target} PRIVATE
    LINKER:--version-script=${CMAKE_CURRENT_FUNCTION_LIST_DIR}/exports.map)
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS
    ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/exports.map)
  if(NOT PLUGIN_NO_INSTALL)
    install(TARGETS ${target} LIBRARY DESTINATION ${MIVRA_INSTALL_PLUGINDIR})
  endif()
  if(MIVRA_TESTS)
    add_test(NAME ${target}_exports
      COMMAND ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/check-exports $<TARGET_FILE:${target}> GetMenuName Dlg)
  endif()
endfunction()
