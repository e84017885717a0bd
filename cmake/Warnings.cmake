# Flags every Tavrick target shares. -ffp-contract=off keeps the kernels' double
# arithmetic in the written order: a fused multiply-add would change output bytes.
add_compile_options(-Wall -Wextra -ffp-contract=off)
if(CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  add_compile_options(-Wno-unused-command-line-argument)
endif()
if(TAVRICK_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()
