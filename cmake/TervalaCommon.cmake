# One interface target carries the language level, warnings and Qt defines for
# every target of the project instead of global flags.
add_library(tervala_common INTERFACE)
target_compile_features(tervala_common INTERFACE cxx_std_20)
target_compile_options(tervala_common INTERFACE -Wall -Wextra -Werror)
target_compile_definitions(tervala_common INTERFACE
  QT_NO_CAST_FROM_ASCII
  QT_NO_NARROWING_CONVERSIONS_IN_CONNECT
  QT_NO_FOREACH
  TERVALA_VERSION="${PROJECT_VERSION}"
  TERVALA_DATADIR="${CMAKE_INSTALL_PREFIX}/share/tervalapro")
target_include_directories(tervala_common INTERFACE ${PROJECT_SOURCE_DIR})
if(TERVALA_SANITIZE)
  target_compile_options(tervala_common INTERFACE
    -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  target_link_options(tervala_common INTERFACE -fsanitize=address,undefined)
endif()
if(TERVALA_FUZZ)
  # Every library gets the coverage instrumentation that guides the fuzzer;
  # only the fuzz executables link the fuzzer's own main.
  target_compile_options(tervala_common INTERFACE
    -fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer
    -fno-sanitize-recover=undefined)
  target_link_options(tervala_common INTERFACE -fsanitize=address,undefined)
endif()

# Static library of one subsystem folder.
function(tervala_add_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_link_libraries(${name} PUBLIC tervala_common ${ARG_LIBS})
endfunction()

# One QtTest executable per unit: tests/<module>/tst_<unit>.cpp.
#   tervala_add_test(tst_base64 SOURCES tst_base64.cpp LIBS foundation LABEL unit)
# Every test runs on the offscreen platform with a UTF-8 locale and a timeout.
function(tervala_add_test name)
  cmake_parse_arguments(ARG "" "LABEL;TIMEOUT" "SOURCES;LIBS;ENVIRONMENT;RESOURCE_LOCK" ${ARGN})
  if(NOT ARG_LABEL)
    set(ARG_LABEL unit)
  endif()
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 120)
  endif()
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE tervala_common Qt6::Test tervala_testsupport ${ARG_LIBS})
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES
    LABELS ${ARG_LABEL}
    TIMEOUT ${ARG_TIMEOUT}
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen;LANG=C.UTF-8;LC_ALL=C.UTF-8;TERVALA_BINARY_DIR=${PROJECT_BINARY_DIR};TERVALA_SOURCE_DIR=${PROJECT_SOURCE_DIR};${ARG_ENVIRONMENT}")
  if(ARG_RESOURCE_LOCK)
    set_tests_properties(${name} PROPERTIES RESOURCE_LOCK "${ARG_RESOURCE_LOCK}")
  endif()
endfunction()

# Google Benchmark executable (not a test; run by tools/bench.sh).
function(tervala_add_benchmark name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  if(TERVALA_BENCHMARKS)
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE tervala_common benchmark::benchmark ${ARG_LIBS})
  endif()
endfunction()

# libFuzzer executable (only with TERVALA_FUZZ; run by tools/fuzz.sh).
#   tervala_add_fuzzer(fuzz_base64 SOURCES fuzz_base64.cpp LIBS foundation)
function(tervala_add_fuzzer name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE tervala_common ${ARG_LIBS})
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  add_dependencies(fuzzers ${name})
endfunction()
