# Applied to every target of ours through kva_target_defaults().
function(kva_target_defaults target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wno-unused-parameter)
  if(KVA_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
  if(CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    target_compile_options(${target} PRIVATE -Wthread-safety)
    if(KVA_THREAD_SAFETY_ERRORS)
      target_compile_options(${target} PRIVATE -Werror=thread-safety)
    endif()
  endif()
  get_target_property(_type ${target} TYPE)
  if(KVA_SANITIZE MATCHES "thread" AND _type STREQUAL "EXECUTABLE")
    target_sources(${target} PRIVATE ${PROJECT_SOURCE_DIR}/cmake/TsanSuppressions.cpp)
  endif()
endfunction()

if(KVA_SANITIZE)
  string(REPLACE ";" "," _san "${KVA_SANITIZE}")
  add_compile_options(-fsanitize=${_san} -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=${_san})
endif()

# Bind every symbol at load time (also the usual hardening). A library the host already has loaded
# must never bind a lazy symbol into the updater later: the loader would then pin the updater and
# unloading it would no longer stop the service.
if(NOT WIN32)  # ELF only; a PE image binds its imports at load time anyway
  add_link_options(-Wl,-z,now -Wl,-z,relro)
endif()

# GCC marks some template and inline statics STB_GNU_UNIQUE, which makes a library undeletable;
# one such library with a symbol bound into the updater would pin the updater too.
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  add_compile_options(-fno-gnu-unique)
endif()
