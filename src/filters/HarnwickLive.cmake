# The component DLL, HarnwickLive.dll: the DLL entry, the exports of the
# module definition file and every room library. Included after all rooms
# exist, so a room added later (the entry's MainEntryPoint) is linked too.
add_library(HarnwickLive SHARED ${CMAKE_CURRENT_LIST_DIR}/dllmain.cpp ${CMAKE_CURRENT_LIST_DIR}/HarnwickLive.def)
set_target_properties(HarnwickLive PROPERTIES PREFIX "" OUTPUT_NAME HarnwickLive)
foreach(room entry ui filters engine input audio recording settings tracelog platform)
  if(TARGET hw_${room})
    target_link_libraries(HarnwickLive PRIVATE hw_${room})
  endif()
endforeach()
# The dialog templates and the wizard picture: linked as objects, since a
# linker takes nothing from a static library that no code refers to.
if(TARGET hw_ui_resources)
  target_link_libraries(HarnwickLive PRIVATE hw_ui_resources)
endif()
# The 32-bit exports are stdcall: the .def names them undecorated.
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  target_link_options(HarnwickLive PRIVATE -Wl,--enable-stdcall-fixup)
  # Nothing inside the DLL calls the entry: name its decorated symbol so the
  # linker takes it from the entry's library for the export.
  if(TARGET hw_entry)
    target_link_options(HarnwickLive PRIVATE -Wl,--undefined=_MainEntryPoint@4)
  endif()
endif()
