// The creatable classes, in registration order. A class enters the map when it is built.
#include "module/module.h"
#include "module/qxsdk_idl.h"
#include "namedvalues/named_values.h"

namespace qx {
namespace {

const ClassEntry kObjectMap[] = {
    {&CLSID_NamedValues, L"QXSDKCommon.NamedValues.1", L"QXSDKCommon.NamedValues", L"NamedValues Collection",
     L"Apartment", &com::CreateComInstance<CNamedValues>},
};

}  // namespace

const ClassEntry* ObjectMap(size_t* count) noexcept {
  *count = sizeof(kObjectMap) / sizeof(kObjectMap[0]);
  return kObjectMap;
}

}  // namespace qx
