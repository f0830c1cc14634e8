# Warnings for the project's own targets (not for third-party code).
function(marovel_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -pedantic -Wshadow -Wconversion
                         -Wno-sign-conversion)
endfunction()
