// One pass of a request that objects forward to the objects they hold (Refresh, SlimFast).
//
// A collection passes the request on to its members' values, which may be collections again,
// and a collection may hold itself or a collection that holds it: forwarding blindly would
// recurse without end. The first object a request reaches on a thread opens the pass; every
// object the forwarding reaches enters the pass and is served only the first time; the pass
// closes when the first object returns.
//
//   HRESULT CThing::Refresh() {
//     RequestPass pass(RequestPass::kRefresh, this);
//     if (!pass.First()) return S_OK;  // already refreshed in this pass
//     ... forward to the members ...
//   }
#pragma once

#include <algorithm>
#include <new>
#include <vector>

namespace qx {

class RequestPass {
 public:
  enum Kind { kRefresh, kSlimFast, kKinds };

  RequestPass(Kind kind, const void* object) noexcept : kind_(kind) {
    if (!Current()[kind_]) {
      Current()[kind_] = &visited_;
      opened_ = true;
    }
    std::vector<const void*>& visited = *Current()[kind_];
    if (std::find(visited.begin(), visited.end(), object) != visited.end()) return;
    try {
      visited.push_back(object);
      first_ = true;
    } catch (const std::bad_alloc&) {
      // Unrecorded, the object could be reached again without end: it is served not at all.
    }
  }
  ~RequestPass() {
    if (opened_) Current()[kind_] = nullptr;
  }
  RequestPass(const RequestPass&) = delete;
  RequestPass& operator=(const RequestPass&) = delete;

  // True the first time the object is reached in this pass: serve the request then only.
  bool First() const noexcept { return first_; }

 private:
  // The open pass of each kind on this thread (a plain pointer: nothing to destroy per thread).
  static std::vector<const void*>** Current() noexcept {
    static thread_local std::vector<const void*>* open[kKinds] = {};
    return open;
  }

  Kind kind_;
  bool opened_ = false;
  bool first_ = false;
  std::vector<const void*> visited_;
};

}  // namespace qx
