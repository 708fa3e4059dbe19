add_library(voxle_warnings INTERFACE)
target_compile_options(voxle_warnings INTERFACE -Wall -Wextra -Wpedantic)
# The fuzz build uses clang, whose warnings differ from g++'s; there they are reported, not fatal.
if(NOT VOXLE_FUZZ)
  target_compile_options(voxle_warnings INTERFACE -Werror)
endif()
# g++ 12 with optimisation reports std::optional<QString> moves inside coroutines as maybe-uninitialized where
# they are not (clang has no such flag).
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  target_compile_options(voxle_warnings INTERFACE $<$<CONFIG:Release,RelWithDebInfo>:-Wno-maybe-uninitialized>)
endif()
target_compile_definitions(voxle_warnings INTERFACE QT_NO_CAST_FROM_ASCII QT_NO_CONTEXTLESS_CONNECT
  QT_NO_NARROWING_CONVERSIONS_IN_CONNECT)
if(VOXLE_SANITIZE)
  target_compile_options(voxle_warnings INTERFACE -fsanitize=address,undefined -fno-omit-frame-pointer
    -fno-sanitize-recover=undefined)
  target_link_options(voxle_warnings INTERFACE -fsanitize=address,undefined)
endif()
