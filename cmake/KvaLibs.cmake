# Links `target` with every suite library and the platform that exist in this build, so programs
# that sit above all layers (kva, benchmarks, fuzz targets) pick up new libraries without editing
# their lists. WITH_LIBRARY also links libKVAUpdaterCheck; the host (kva) must not, because it
# loads and unloads the library itself.
function(kva_link_all_libraries target)
  cmake_parse_arguments(L "WITH_LIBRARY" "" "" ${ARGN})
  set(_libs kvaservekit SuiteUtil IPCMessage DataReport KVADownload DuiLib KVATipsSDK kvaplatform)
  if(L_WITH_LIBRARY)
    list(PREPEND _libs KVAUpdaterCheck)
  endif()
  foreach(_lib ${_libs})
    if(TARGET ${_lib})
      target_link_libraries(${target} PRIVATE ${_lib})
    endif()
  endforeach()
endfunction()
