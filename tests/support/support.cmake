# Helper programs the tests start.
include(${CMAKE_CURRENT_LIST_DIR}/agent.cmake)
