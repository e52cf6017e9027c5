// The library's interfaces as the framework sees them: the generated declarations plus, for each
// interface that extends another of the library, the bases it also answers for.
#pragma once

#include "framework/com_object.h"
#include "module/qxsdk_idl.h"

namespace qx::com {

template <>
struct InterfaceBases<INamedValues2> {
  using type = InterfaceList<_NamedValues>;
};
template <>
struct InterfaceBases<IQXAsynchStatus3> {
  using type = InterfaceList<_QXAsynchStatus>;
};
template <>
struct InterfaceBases<INamedValue2> {
  using type = InterfaceList<NamedValue>;
};

}  // namespace qx::com
