# CLI11 (argument parsing) and nlohmann/json, both header-only, from Debian's
# libcli11-dev and nlohmann-json3-dev. A cross build for Windows searches only
# the MinGW tree, and must never see the host's /usr/include as a whole: it
# gets copies of just these two header trees in its build directory.
if(TARGET CLI11::CLI11 AND TARGET nlohmann_json::nlohmann_json)
  return()
endif()
if(CMAKE_CROSSCOMPILING)
  find_path(SQLLOGCLEAN_CLI11_HEADERS CLI/CLI.hpp PATHS /usr/include NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
  find_path(SQLLOGCLEAN_JSON_HEADERS nlohmann/json.hpp PATHS /usr/include NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
  if(NOT SQLLOGCLEAN_CLI11_HEADERS OR NOT SQLLOGCLEAN_JSON_HEADERS)
    message(FATAL_ERROR "The command-line program needs the CLI11 and nlohmann/json headers "
                        "(apt-get install libcli11-dev nlohmann-json3-dev)")
  endif()
  set(copies ${CMAKE_BINARY_DIR}/header-only/include)
  file(COPY ${SQLLOGCLEAN_CLI11_HEADERS}/CLI DESTINATION ${copies})
  file(COPY ${SQLLOGCLEAN_JSON_HEADERS}/nlohmann DESTINATION ${copies})
  foreach(target CLI11::CLI11 nlohmann_json::nlohmann_json)
    add_library(${target} INTERFACE IMPORTED)
    set_target_properties(${target} PROPERTIES INTERFACE_INCLUDE_DIRECTORIES ${copies}
                                               INTERFACE_SYSTEM_INCLUDE_DIRECTORIES ${copies})
  endforeach()
else()
  find_package(CLI11 2.1 CONFIG REQUIRED)
  find_package(nlohmann_json 3.10 CONFIG REQUIRED)
endif()
