# The product's own code is built for size in release builds. setup.exe
# spends its time in the file system, the registry, COM and bcrypt.dll, not
# in its own code: -Os leaves its run times where they were, and -O3 made
# the x86-64 image 40 % larger (see bench/results.md).
function(fansetup_product_code target)
  if(MSVC)
    target_compile_options(${target} PRIVATE $<$<CONFIG:Release>:/O1>)
  else()
    target_compile_options(${target} PRIVATE $<$<CONFIG:Release>:-Os>)
  endif()
endfunction()
