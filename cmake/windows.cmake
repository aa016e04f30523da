# The Windows program: cross-compiled with MinGW-w64, one static .exe.
enable_language(RC)

configure_file(cmake/build_config.h.in ${CMAKE_BINARY_DIR}/generated/build_config.h @ONLY)

# Windows 7 is the oldest system we run on: its headers hide newer APIs, so a
# direct call to one fails to compile; newer ones are looked up at run time.
set(ZARVELO_WINDOWS_DEFINES UNICODE _UNICODE WINVER=0x0601 _WIN32_WINNT=0x0601
                            WIN32_LEAN_AND_MEAN NOMINMAX)
target_compile_definitions(zarvelo_logic PUBLIC ${ZARVELO_WINDOWS_DEFINES})

add_library(zarvelo_win32 STATIC
  src/win32/background_threads.cpp
  src/win32/cng/sha256.cpp
  src/win32/cng/signature_verifier.cpp
  src/win32/download/http_request.cpp
  src/win32/download/partial_file.cpp
  src/win32/download/proxy.cpp
  src/win32/download/tls.cpp
  src/win32/download/winhttp_errors.cpp
  src/win32/download/win32_downloader.cpp
  src/win32/win32_environment.cpp
  src/win32/win32_file_system.cpp
  src/win32/win32_form.cpp
  src/win32/win32_worker.cpp
  src/win32/single_instance.cpp
  src/win32/ui_queue.cpp
  src/win32/dpi.cpp
  src/win32/long_path.cpp
  src/win32/system_apis.cpp
  src/win32/system_library.cpp)
target_include_directories(zarvelo_win32 PUBLIC src ${PROJECT_SOURCE_DIR}
                           ${CMAKE_BINARY_DIR}/generated)
target_compile_definitions(zarvelo_win32 PUBLIC ${ZARVELO_WINDOWS_DEFINES})
if(ZARVELO_EMULATE_WINDOWS7)
  if(NOT ZARVELO_BUILD_TESTS)
    message(FATAL_ERROR "ZARVELO_EMULATE_WINDOWS7 is for test builds only")
  endif()
  target_compile_definitions(zarvelo_win32 PUBLIC ZARVELO_EMULATE_WINDOWS7)
endif()
target_compile_options(zarvelo_win32 PRIVATE ${ZARVELO_WARNINGS})
# Only DLLs on the system's known-DLL list (and comctl32, which the manifest
# binds): winhttp and bcrypt come from System32 at run time
# (src/win32/system_library.h).
target_link_libraries(zarvelo_win32 PUBLIC zarvelo_logic ntdll comctl32 shell32 ole32 gdi32 user32)

# Size: the program catches no exceptions, so it is built without exception
# support and unwind tables (src/app/lean_runtime.cpp ends it where a throw
# would have). Without unwind tables --gc-sections works too: ld keeps every
# function an unwind table names, so with them it dropped almost nothing.
# Nothing asks for a type at run time either, so there is no RTTI.
set(ZARVELO_SIZE_FLAGS -Os -ffunction-sections -fdata-sections -fno-exceptions
                       -fno-asynchronous-unwind-tables -fno-unwind-tables -fno-rtti)
# Line counters for tools/coverage, unoptimised so that every line keeps its
# own code; the programs write them (.gcda beside the objects) when they end.
if(ZARVELO_COVERAGE)
  if(NOT ZARVELO_BUILD_TESTS)
    message(FATAL_ERROR "ZARVELO_COVERAGE is for test builds only")
  endif()
  list(APPEND ZARVELO_SIZE_FLAGS -O0 --coverage)
  target_compile_definitions(zarvelo_win32 PUBLIC ZARVELO_COVERAGE)
  target_link_options(zarvelo_win32 INTERFACE --coverage)
endif()
# Optimised as one program at link time: code only one caller uses is folded
# into it and what no one reaches goes. One partition, so the result does
# not depend on how the work was split. Coverage builds keep every function.
if(NOT ZARVELO_COVERAGE)
  list(APPEND ZARVELO_SIZE_FLAGS -flto -flto-partition=none)
endif()
target_compile_options(zarvelo_logic PRIVATE ${ZARVELO_SIZE_FLAGS})
target_compile_options(zarvelo_win32 PRIVATE ${ZARVELO_SIZE_FLAGS})

# No link time stamp in the header, so two builds of one commit are identical.
# The header names Windows 7 (6.1) as the oldest system the program runs on.
set(ZARVELO_EXE_LINK_FLAGS -municode -static -s -Wl,--gc-sections -Wl,--no-insert-timestamp
                           -Wl,--major-subsystem-version,6 -Wl,--minor-subsystem-version,1)

include(cmake/payload_key.cmake)

# zarvelo_add_installer(TARGET KEY_HEADER_DIR): the installer program, with
# the publisher key of KEY_HEADER_DIR/payload_key.h.
function(zarvelo_add_installer target key_dir)
  add_executable(${target} WIN32 ${PROJECT_SOURCE_DIR}/src/app/main.cpp
                                ${PROJECT_SOURCE_DIR}/src/app/lean_runtime.cpp
                                ${PROJECT_SOURCE_DIR}/resources/installer.rc)
  set_target_properties(${target} PROPERTIES OUTPUT_NAME "Zarvelo _Plugin_for_cdr")
  target_include_directories(${target} PRIVATE ${key_dir})
  target_compile_options(${target} PRIVATE ${ZARVELO_WARNINGS} ${ZARVELO_SIZE_FLAGS})
  target_link_libraries(${target} PRIVATE zarvelo_logic zarvelo_win32)
  # The size flags again: the link-time optimiser compiles the program here.
  target_link_options(${target} PRIVATE ${ZARVELO_EXE_LINK_FLAGS} ${ZARVELO_SIZE_FLAGS})
  # The link map lets tools/bench name what the bytes are.
  target_link_options(${target} PRIVATE "LINKER:-Map=${CMAKE_BINARY_DIR}/${target}.map")
  # windres reads the .rc as UTF-8 and needs the icon and manifest beside it.
  set_source_files_properties(${PROJECT_SOURCE_DIR}/resources/installer.rc PROPERTIES
    OBJECT_DEPENDS "${PROJECT_SOURCE_DIR}/resources/installer.ico;${PROJECT_SOURCE_DIR}/resources/installer.manifest")
endfunction()

zarvelo_payload_key_header("${ZARVELO_PAYLOAD_PUBLIC_KEY}"
                           ${CMAKE_BINARY_DIR}/generated/key/payload_key.h)
zarvelo_add_installer(installer ${CMAKE_BINARY_DIR}/generated/key)

# tools/bench measures the installer's start-up against this bare window,
# built the same way.
add_executable(bare_window WIN32 EXCLUDE_FROM_ALL tests/bench/bare_window.cpp)
target_compile_definitions(bare_window PRIVATE ${ZARVELO_WINDOWS_DEFINES})
target_compile_options(bare_window PRIVATE ${ZARVELO_WARNINGS} ${ZARVELO_SIZE_FLAGS})
target_link_options(bare_window PRIVATE ${ZARVELO_EXE_LINK_FLAGS})
set(CMAKE_RC_FLAGS "${CMAKE_RC_FLAGS} -c 65001")

if(ZARVELO_BUILD_TESTS)
  enable_testing()
  add_subdirectory(tests/windows)
endif()
