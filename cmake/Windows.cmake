# Windows programs link the C and C++ run-time statically so they run without extra DLLs.
if(MINGW)
  add_link_options(-static -static-libgcc -static-libstdc++)
  add_compile_definitions(_WIN32_WINNT=0x0601 UNICODE _UNICODE __USE_MINGW_ANSI_STDIO=1)
endif()
