// The one include for the declarations generated from QXSDKCommon.idl.
//
// Every C++ file of the DLL and of its tests includes this header rather than the generated
// QXSDKCommon.h directly, so that the platform headers come first and in the right order.
//
// What the generated header provides:
//  - the interfaces (_NamedValues, INamedValues2, ..., IQXTransaction) as abstract C++ classes;
//  - __uuidof(I) for every interface and coclass (widl emits __CRT_UUID_DECL, which the
//    mingw-w64 headers turn into a __mingw_uuidof specialisation);
//  - extern declarations of IID_*, DIID__QXAsynchStatusEvents, CLSID_* and LIBID_QXSDKCommon,
//    whose definitions live in the generated QXSDKCommon_i.c (add it to the target's sources).
#ifndef QXSDKCOMMON_QXSDK_IDL_H
#define QXSDKCOMMON_QXSDK_IDL_H

#include <windows.h>
#include <ole2.h>
#include <oaidl.h>
#include <ocidl.h>

#include "QXSDKCommon.h"

#endif  // QXSDKCOMMON_QXSDK_IDL_H
