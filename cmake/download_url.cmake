# The download address must use TLS: the installer runs macro code it
# fetches from there. Loopback addresses, which the tests use, are the only
# exception. Included by the top-level CMakeLists.txt; also runs as a script
# for the tests: cmake -DZARVELO_DOWNLOAD_URL=... -P download_url.cmake
function(zarvelo_check_download_url url)
  string(TOLOWER "${url}" lowered)
  if(lowered MATCHES "^https://[^/?#]")
    return()
  endif()
  if(lowered MATCHES "^https?://(127\\.0\\.0\\.1|\\[::1\\]|localhost)(:[0-9]+)?([/?#]|$)")
    return()
  endif()
  message(FATAL_ERROR "ZARVELO_DOWNLOAD_URL must start with https:// "
                      "(only 127.0.0.1, [::1] and localhost may use http://): ${url}")
endfunction()

if(CMAKE_SCRIPT_MODE_FILE)
  zarvelo_check_download_url("${ZARVELO_DOWNLOAD_URL}")
endif()
