function(kv_warnings target)
  target_compile_options(${target} PRIVATE
    $<$<COMPILE_LANGUAGE:CXX>:-Wall -Wextra -Werror -Wno-unused-parameter>
    $<$<COMPILE_LANGUAGE:C>:-Wall -Wextra -Werror -Wno-unused-parameter>)
endfunction()
