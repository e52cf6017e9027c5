# The type library, its C++ header and its GUID definitions, generated from QXSDKCommon.idl by widl
# into the binary folder. Sets QX_TLB, QX_IDL_GUIDS and the target qx_typelib.
if(QX_WIN_BITS EQUAL 64)
  set(qx_widl x86_64-w64-mingw32-widl)
  set(qx_widl_arch --win64)
  set(qx_stdole_dir /usr/lib/x86_64-linux-gnu/wine/x86_64-windows)
else()
  set(qx_widl i686-w64-mingw32-widl)
  set(qx_widl_arch --win32)
  set(qx_stdole_dir /usr/lib/i386-linux-gnu/wine/i386-windows)
endif()
set(qx_idl ${CMAKE_CURRENT_SOURCE_DIR}/QXSDKCommon.idl)
set(QX_TLB ${QX_BIN_DIR}/QXSDKCommon.tlb)
set(QX_IDL_HEADER ${QX_BIN_DIR}/QXSDKCommon.h)
set(QX_IDL_GUIDS ${QX_BIN_DIR}/QXSDKCommon_i.c)
set(qx_widl_flags ${qx_widl_arch} -I/usr/include/wine/wine/windows -L${qx_stdole_dir})
add_custom_command(
  OUTPUT ${QX_TLB} ${QX_IDL_HEADER} ${QX_IDL_GUIDS}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${QX_BIN_DIR}
  COMMAND ${qx_widl} ${qx_widl_flags} -t -o ${QX_TLB} ${qx_idl}
  COMMAND ${qx_widl} ${qx_widl_flags} -h -o ${QX_IDL_HEADER} ${qx_idl}
  COMMAND ${qx_widl} ${qx_widl_flags} -u -o ${QX_IDL_GUIDS} ${qx_idl}
  DEPENDS ${qx_idl}
  COMMENT "Generating the type library"
  VERBATIM)
add_custom_target(qx_typelib DEPENDS ${QX_TLB} ${QX_IDL_HEADER} ${QX_IDL_GUIDS})
set_source_files_properties(${QX_IDL_GUIDS} PROPERTIES GENERATED TRUE)
