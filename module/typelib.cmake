# Type library of QXSDKCommon, generated from QXSDKCommon.idl.
#
# Produces in ${QX_BIN_DIR}:
#   QXSDKCommon.tlb    the finished library; QXSDKCommon.rc embeds it as TYPELIB 1     -> QX_TLB
#   QXSDKCommon.h      C++ declarations; code includes module/qxsdk_idl.h, not this    -> QX_IDL_HEADER
#   QXSDKCommon_i.c    IID/CLSID/LIBID definitions; add to every binary that uses them -> QX_IDL_GUIDS
# and the target qx_typelib that builds all three.
#
# The library is made in two steps:
#   1. widl compiles the IDL (library, header, GUIDs).
#   2. qx_typelib_finish, a Windows console tool built here and run under the cross-compiling
#      emulator (Wine), repairs the void* defaults of ITraverse, adds the help strings of the
#      cmeErrorConstants members (widl rejects helpstring on enumeration members) and checks the
#      result through oleaut32. See typelib_finish.cpp.
#
# The generated header needs no post-processing: enumeration-typed defaults in the IDL name an
# enumerator, so widl writes C++ default arguments that compile.

if(QX_WIN_BITS EQUAL 64)
  set(qx_widl_triplet x86_64-w64-mingw32)
  set(qx_widl_arch --win64)
  set(qx_stdole2_default /usr/lib/x86_64-linux-gnu/wine/x86_64-windows)
else()
  set(qx_widl_triplet i686-w64-mingw32)
  set(qx_widl_arch --win32)
  set(qx_stdole2_default /usr/lib/i386-linux-gnu/wine/i386-windows)
endif()

find_program(QX_WIDL NAMES ${qx_widl_triplet}-widl widl REQUIRED)
set(QX_WINE_IDL_DIR /usr/include/wine/wine/windows CACHE PATH
    "Folder of the system .idl files (oaidl.idl, ocidl.idl, ...), from libwine-dev")
set(QX_STDOLE2_DIR ${qx_stdole2_default} CACHE PATH "Folder holding stdole2.tlb for this bitness")
if(DEFINED ENV{WINEPREFIX})
  set(qx_wineprefix_default $ENV{WINEPREFIX})
else()
  set(qx_wineprefix_default ${CMAKE_SOURCE_DIR}/build/wineprefix)
endif()
set(QX_WINEPREFIX ${qx_wineprefix_default} CACHE PATH "Wine prefix used to run build-time tools")
set(QX_TYPELIB_RUNNER ${CMAKE_CROSSCOMPILING_EMULATOR} CACHE STRING
    "Command that runs the Windows build tool qx_typelib_finish (Wine)")

set(qx_idl ${CMAKE_CURRENT_SOURCE_DIR}/QXSDKCommon.idl)
set(qx_widl_tlb ${CMAKE_CURRENT_BINARY_DIR}/QXSDKCommon.widl.tlb)
set(QX_TLB ${QX_BIN_DIR}/QXSDKCommon.tlb)
set(QX_IDL_HEADER ${QX_BIN_DIR}/QXSDKCommon.h)
set(QX_IDL_GUIDS ${QX_BIN_DIR}/QXSDKCommon_i.c)
set(qx_widl_flags ${qx_widl_arch} -I${QX_WINE_IDL_DIR} -L${QX_STDOLE2_DIR})

add_custom_command(
  OUTPUT ${qx_widl_tlb} ${QX_IDL_HEADER} ${QX_IDL_GUIDS}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${QX_BIN_DIR}
  COMMAND ${QX_WIDL} ${qx_widl_flags} -t -o ${qx_widl_tlb} ${qx_idl}
  COMMAND ${QX_WIDL} ${qx_widl_flags} -h -o ${QX_IDL_HEADER} ${qx_idl}
  COMMAND ${QX_WIDL} ${qx_widl_flags} -u -o ${QX_IDL_GUIDS} ${qx_idl}
  DEPENDS ${qx_idl}
  COMMENT "widl: QXSDKCommon.idl (${qx_widl_arch})"
  VERBATIM)

add_executable(qx_typelib_finish ${CMAKE_CURRENT_SOURCE_DIR}/typelib_finish.cpp)
target_link_libraries(qx_typelib_finish PRIVATE ole32 oleaut32 uuid)
set_target_properties(qx_typelib_finish PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})

# The tool runs with the binary folder as its current directory and gets relative paths, which
# Wine resolves on the drive that maps that folder.
file(RELATIVE_PATH qx_widl_tlb_rel ${CMAKE_CURRENT_BINARY_DIR} ${qx_widl_tlb})
file(RELATIVE_PATH qx_tlb_rel ${CMAKE_CURRENT_BINARY_DIR} ${QX_TLB})
add_custom_command(
  OUTPUT ${QX_TLB}
  COMMAND ${CMAKE_COMMAND} -E env WINEPREFIX=${QX_WINEPREFIX} WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml=
          ${QX_TYPELIB_RUNNER} $<TARGET_FILE:qx_typelib_finish> ${qx_widl_tlb_rel} ${qx_tlb_rel}
  DEPENDS ${qx_widl_tlb} qx_typelib_finish
  WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}
  COMMENT "Finishing the type library (void* defaults, enumeration help strings)"
  VERBATIM)

add_custom_target(qx_typelib DEPENDS ${QX_TLB} ${QX_IDL_HEADER} ${QX_IDL_GUIDS})
set_source_files_properties(${QX_IDL_GUIDS} ${QX_IDL_HEADER} PROPERTIES GENERATED TRUE)

set(QX_TLB ${QX_TLB} PARENT_SCOPE)
set(QX_IDL_HEADER ${QX_IDL_HEADER} PARENT_SCOPE)
set(QX_IDL_GUIDS ${QX_IDL_GUIDS} PARENT_SCOPE)
