# Links `target` with every library of ours that exists in this build, so programs that sit above
# all layers (kva, benchmarks, fuzz targets) pick up new libraries without editing their lists.
function(kva_link_all_libraries target)
  foreach(_lib KVAUpdaterCheck SuiteUtil IPCMessage DataReport KVADownload DuiLib KVATipsSDK kvaplatform)
    if(TARGET ${_lib})
      target_link_libraries(${target} PRIVATE ${_lib})
    endif()
  endforeach()
endfunction()
