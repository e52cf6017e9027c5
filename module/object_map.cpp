// The creatable classes, in registration order. A class enters the map when it is built.
#include "asynch/qx_asynch_status.h"
#include "errors/qx_errors.h"
#include "module/module.h"
#include "module/qxsdk_idl.h"
#include "mtnamedvalues/mtnvs.h"
#include "namedvalues/named_values.h"
#include "restorer/qx_global_restorer.h"

namespace qx {
namespace {

const ClassEntry kObjectMap[] = {
    {&CLSID_MTNVS, L"QXSDKCommon.MTNVS.1", L"QXSDKCommon.MTNVS", L"MTNVS Class", L"Both",
     &com::CreateComInstance<CMTNVS>},
    {&CLSID_NamedValues, L"QXSDKCommon.NamedValues.1", L"QXSDKCommon.NamedValues", L"NamedValues Collection",
     L"Apartment", &com::CreateComInstance<CNamedValues>},
    {&CLSID_QXAsynchStatus, L"QXSDKCommon.QXAsynchStatus.1", L"QXSDKCommon.QXAsynchStatus", L"QXAsynchStatus Class",
     L"Apartment", &com::CreateComInstance<CQXAsynchStatus>},
    {&CLSID_QXErrors, L"QXSDKCommon.QXErrors.1", L"QXSDKCommon.QXErrors", L"QXErrors Class", L"Apartment",
     &com::CreateComInstance<CQXErrors>},
    {&CLSID_QXGlobalRestorer, L"QXSDKCommon.QXGlobalRestorer.1", L"QXSDKCommon.QXGlobalRestorer",
     L"QXGlobalRestorer Class", L"Apartment", &com::CreateComInstance<CQXGlobalRestorer>},
};

}  // namespace

const ClassEntry* ObjectMap(size_t* count) noexcept {
  *count = sizeof(kObjectMap) / sizeof(kObjectMap[0]);
  return kObjectMap;
}

}  // namespace qx
