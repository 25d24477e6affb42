# The stand-in wallpaper agent and the wiring of the tests that run the
# installer: they need the installer and the agent built first, and find them
# by the paths compiled in.
add_executable(zeph_fake_wallpaper_agent ${CMAKE_CURRENT_LIST_DIR}/fake_wallpaper_agent.cc)
# killall finds processes by this name.
set_target_properties(zeph_fake_wallpaper_agent PROPERTIES
  OUTPUT_NAME WallpaperAgent
  RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/tests/support)

function(zeph_wire_installer_tests)
  foreach(target zeph_tests zeph_serial_tests)
    if(TARGET ${target})
      add_dependencies(${target} zeph-installer zeph_fake_wallpaper_agent)
      target_compile_definitions(${target} PRIVATE
        ZEPH_INSTALLER_PATH="$<TARGET_FILE:zeph-installer>"
        ZEPH_FAKE_AGENT_PATH="$<TARGET_FILE:zeph_fake_wallpaper_agent>")
    endif()
  endforeach()
endfunction()
# The test binaries are defined after this file is read.
cmake_language(DEFER CALL zeph_wire_installer_tests)
