# The terminal dialogs driven end to end in a private tmux server. The
# installer restarts "WallpaperAgent" as a real run does, so the test takes the
# same lock as the other tests that do.
find_program(ZEPH_TMUX tmux)
find_package(Python3 COMPONENTS Interpreter)
if(NOT APPLE AND ZEPH_TMUX AND Python3_Interpreter_FOUND)
  add_test(NAME TerminalDialog.EndToEnd
    COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/terminal_dialog_e2e.py $<TARGET_FILE:zeph-installer>)
  set_tests_properties(TerminalDialog.EndToEnd PROPERTIES RESOURCE_LOCK wallpaper_agent TIMEOUT 300)
endif()
