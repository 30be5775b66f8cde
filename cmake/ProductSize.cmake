# The product's own code is built for size in release builds. setup.exe
# spends its time in the file system, the registry, COM and bcrypt.dll, not
# in its own code: -Os leaves its run times where they were, and -O3 made
# the x86-64 image 40 % larger (see bench/results.md). With mingw-w64 its
# objects also instantiate the std::string members they use themselves
# instead of taking the C++ runtime's objects of all of them
# (platform/mingw/string_templates.h).
function(fansetup_product_code target)
  if(MSVC)
    target_compile_options(${target} PRIVATE $<$<CONFIG:Release>:/O1>)
  else()
    target_compile_options(${target} PRIVATE $<$<CONFIG:Release>:-Os>)
    if(MINGW)
      target_compile_options(${target} PRIVATE
        "$<$<CONFIG:Release>:SHELL:-include ${PROJECT_SOURCE_DIR}/platform/mingw/string_templates.h>")
    endif()
  endif()
endfunction()
