# Differential checks of the property-list codec against CPython's plistlib and
# libplist: seeded random documents written by each side and read by the other.
set(ZEPH_DIFF_DIR ${CMAKE_CURRENT_LIST_DIR}/differential)

add_executable(plist_convert ${ZEPH_DIFF_DIR}/plist_convert.cc)
target_link_libraries(plist_convert PRIVATE zeph_core)

find_package(Python3 COMPONENTS Interpreter)
pkg_check_modules(ZEPH_LIBPLIST IMPORTED_TARGET libplist-2.0)
if(ZEPH_LIBPLIST_FOUND)
  add_executable(libplist_convert ${ZEPH_DIFF_DIR}/libplist_convert.cc)
  target_link_libraries(libplist_convert PRIVATE PkgConfig::ZEPH_LIBPLIST)
  set(ZEPH_DIFF_LIBPLIST --libplist $<TARGET_FILE:libplist_convert>)
endif()
find_program(ZEPH_PLISTUTIL plistutil)
if(ZEPH_PLISTUTIL)
  list(APPEND ZEPH_DIFF_LIBPLIST --plistutil ${ZEPH_PLISTUTIL})
endif()

# Fewer documents under the sanitizers, which slow the converters several times.
set(ZEPH_DIFF_COUNT 2000)
if(ZEPH_SANITIZE)
  set(ZEPH_DIFF_COUNT 500)
endif()

if(Python3_Interpreter_FOUND)
  add_test(NAME PlistDifferential.RandomDocuments
    COMMAND ${Python3_EXECUTABLE} ${ZEPH_DIFF_DIR}/differential.py
      --ours $<TARGET_FILE:plist_convert> ${ZEPH_DIFF_LIBPLIST} --count ${ZEPH_DIFF_COUNT} --seed 20260807)
  add_test(NAME PlistDifferential.Selftest
    COMMAND ${Python3_EXECUTABLE} ${ZEPH_DIFF_DIR}/differential_selftest.py)
  set_tests_properties(PlistDifferential.RandomDocuments PROPERTIES TIMEOUT 600)
endif()
