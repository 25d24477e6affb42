#include "base/system_effects.h"

#include <utility>

namespace zeph {
namespace {

SystemEffects& table() {
  static SystemEffects effects;
  return effects;
}

}  // namespace

const SystemEffects& systemEffects() { return table(); }

void setSystemEffects(SystemEffects effects) { table() = std::move(effects); }

ScopedSystemEffects::ScopedSystemEffects(SystemEffects effects) : previous_(std::move(table())) {
  table() = std::move(effects);
}

ScopedSystemEffects::ScopedSystemEffects(const std::function<void(SystemEffects&)>& change)
    : previous_(table()) {
  SystemEffects changed = previous_;
  change(changed);
  table() = std::move(changed);
}

ScopedSystemEffects::~ScopedSystemEffects() { table() = std::move(previous_); }

}  // namespace zeph
