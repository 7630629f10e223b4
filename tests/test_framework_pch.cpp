// Holds the precompiled <gtest/gtest.h> that every test program reuses (cmake/GoogleTest.cmake); a
// program without tests of its own, never run.
