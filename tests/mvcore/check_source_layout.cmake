# Checks how mvcore's sources are laid out (run as a test: cmake -DMVCORE_DIR=<mvcore> -P this file):
#  - operating-system headers are included under src/Platform/ and include/Marvane/Platform/ only, so every
#    call into the system goes through the platform layer;
#  - the folders under src/ form a one-way stack: a file includes the private headers of its own folder
#    and of folders below it, never of one above (the exported headers, Marvane/..., are for everyone).
if(NOT MVCORE_DIR)
  message(FATAL_ERROR "MVCORE_DIR is not set")
endif()

# Bottom to top.
set(folders String Math Platform LogManager Utilities PerformanceMonitor Graphics Core Allocator JobSystem)
# Headers of an operating system (not of the C or C++ library).
set(os_header_pattern
  "^(windows|winbase|winnt|winternl|winsock2|ws2tcpip|processthreadsapi|synchapi|fileapi|libloaderapi|io|direct|process|pthread|dlfcn|unistd|fcntl|poll|sched|semaphore|spawn|termios|sys/[a-z_]+|linux/[a-z_]+|mach/[a-z_]+)\\.h$")

set(problems "")
file(GLOB_RECURSE files RELATIVE ${MVCORE_DIR} ${MVCORE_DIR}/src/*.cpp ${MVCORE_DIR}/src/*.h
     ${MVCORE_DIR}/include/*.h)
foreach(file ${files})
  file(STRINGS ${MVCORE_DIR}/${file} includes REGEX "^[ \t]*#[ \t]*include[ \t]*[<\"]")
  set(in_platform FALSE)
  if(file MATCHES "^src/Platform/" OR file MATCHES "^include/Marvane/Platform/")
    set(in_platform TRUE)
  endif()
  set(own_rank -1)
  if(file MATCHES "^src/([^/]+)/")
    list(FIND folders ${CMAKE_MATCH_1} own_rank)
    if(own_rank EQUAL -1)
      list(APPEND problems "${file}: folder ${CMAKE_MATCH_1} is not in the stack of this check")
    endif()
  endif()
  foreach(line ${includes})
    if(line MATCHES "#[ \t]*include[ \t]*<([^>]+)>")
      set(raw "${CMAKE_MATCH_1}")
      string(TOLOWER "${raw}" header)
      if(NOT in_platform AND header MATCHES "${os_header_pattern}")
        list(APPEND problems "${file}: includes <${raw}> outside the platform layer")
      endif()
    elseif(line MATCHES "#[ \t]*include[ \t]*\"([^/\"]+)/[^\"]+\"")
      set(target ${CMAKE_MATCH_1})
      if(target STREQUAL "Marvane")
        continue()
      endif()
      if(file MATCHES "^include/")
        list(APPEND problems "${file}: an exported header includes a private one (${target}/...)")
        continue()
      endif()
      list(FIND folders ${target} target_rank)
      if(own_rank GREATER_EQUAL 0 AND NOT target_rank LESS_EQUAL own_rank)
        list(APPEND problems "${file}: includes ${target}/..., which lies above its folder")
      endif()
    endif()
  endforeach()
endforeach()

if(problems)
  list(JOIN problems "\n  " text)
  message(FATAL_ERROR "source layout:\n  ${text}")
endif()
list(LENGTH files count)
message(STATUS "source layout: ${count} files checked")
