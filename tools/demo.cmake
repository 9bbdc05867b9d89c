message(STATUS "demo")
