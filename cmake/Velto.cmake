# Shared target helpers: every library and test gets the same warnings,
# include root and precompiled Qt headers.

set(VELTO_WARNINGS -Wall -Wextra)

function(velto_common target)
  target_compile_options(${target} PRIVATE ${VELTO_WARNINGS})
  target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR}/src)
endfunction()

# velto_library(NAME SOURCES ... DEPS ...)
function(velto_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_library(velto_${name} STATIC ${ARG_SOURCES})
  velto_common(velto_${name})
  target_link_libraries(velto_${name} PUBLIC ${ARG_DEPS})
  target_precompile_headers(velto_${name} PRIVATE
    <QtCore/QString> <QtCore/QJsonObject> <QtCore/QJsonArray> <QtCore/QJsonDocument>
    <QtCore/QObject> <functional> <optional> <vector>)
endfunction()

# velto_test(NAME SOURCES ... DEPS ...): one GoogleTest executable, one CTest entry.
function(velto_test name)
  cmake_parse_arguments(ARG "OWN_BUS" "TIMEOUT" "SOURCES;DEPS" ${ARGN})
  add_executable(test_${name} ${ARG_SOURCES})
  velto_common(test_${name})
  target_link_libraries(test_${name} PRIVATE velto_testkit ${ARG_DEPS})
  target_precompile_headers(test_${name} PRIVATE
    <QtCore/QString> <QtCore/QJsonObject> <QtCore/QJsonDocument> <functional> <gtest/gtest.h>)
  if(ARG_OWN_BUS)
    # A session bus of its own: what the program puts on the bus (a fake
    # desktop service's name and signals) reaches no test program beside it.
    add_test(NAME ${name} COMMAND dbus-run-session -- $<TARGET_FILE:test_${name}> --gtest_color=no)
  else()
    add_test(NAME ${name} COMMAND test_${name} --gtest_color=no)
  endif()
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 600)
  endif()
  set_tests_properties(${name} PROPERTIES TIMEOUT ${ARG_TIMEOUT})
endfunction()
