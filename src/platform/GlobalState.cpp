#include "platform/GlobalState.h"

#include <utility>
#include <vector>

namespace melo {
namespace {

// Filled while statics are initialised, in whatever order the units come; hence a function-local
// static rather than a namespace-scope one.
std::vector<TGlobalSave>& Registry() {
  static std::vector<TGlobalSave> registry;
  return registry;
}

} // namespace

bool RegisterGlobalState(TGlobalSave save) {
  Registry().push_back(std::move(save));
  return true;
}

TGlobalRestore SaveGlobalState() {
  std::vector<TGlobalRestore> restores;
  restores.reserve(Registry().size());
  for (const TGlobalSave& save : Registry()) {
    restores.push_back(save());
  }
  return [restores = std::move(restores)] {
    for (auto it = restores.rbegin(); it != restores.rend(); ++it) {
      (*it)();
    }
  };
}

} // namespace melo
