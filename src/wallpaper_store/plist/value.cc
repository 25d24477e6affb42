#include "wallpaper_store/plist/value.h"

#include <algorithm>
#include <bit>

namespace zeph::plist {

Dictionary Dictionary::fromMembers(std::vector<Member> members, DuplicateKeys duplicates) {
  auto byKey = [](const Member& a, const Member& b) { return a.first < b.first; };
  std::stable_sort(members.begin(), members.end(), byKey);
  Dictionary d;
  d.members_.reserve(members.size());
  for (auto& m : members) {
    if (!d.members_.empty() && d.members_.back().first == m.first) {
      if (duplicates == DuplicateKeys::KeepLast) d.members_.back().second = std::move(m.second);
      continue;
    }
    d.members_.push_back(std::move(m));
  }
  return d;
}

const Value* Dictionary::find(std::string_view key) const {
  auto it = std::lower_bound(members_.begin(), members_.end(), key,
                             [](const Member& m, std::string_view k) { return m.first < k; });
  return it != members_.end() && it->first == key ? &it->second : nullptr;
}

void Dictionary::set(std::string key, Value value) {
  auto it = std::lower_bound(members_.begin(), members_.end(), key,
                             [](const Member& m, const std::string& k) { return m.first < k; });
  if (it != members_.end() && it->first == key) {
    it->second = std::move(value);
  } else {
    members_.emplace(it, std::move(key), std::move(value));
  }
}

const void* Value::sharedIdentity() const {
  return std::visit(
      [](const auto& x) -> const void* {
        if constexpr (requires { x.get(); }) {
          return x.get();
        } else {
          return nullptr;
        }
      },
      v_);
}

bool operator==(const Value& a, const Value& b) {
  if (a.v_.index() != b.v_.index()) return false;
  return std::visit(
      [&b](const auto& x) -> bool {
        using T = std::decay_t<decltype(x)>;
        const T& y = std::get<T>(b.v_);
        if constexpr (std::is_same_v<T, double>) {
          return std::bit_cast<std::uint64_t>(x) == std::bit_cast<std::uint64_t>(y);
        } else if constexpr (std::is_same_v<T, Date>) {
          return std::bit_cast<std::uint64_t>(x.secondsSince2001) ==
                 std::bit_cast<std::uint64_t>(y.secondsSince2001);
        } else if constexpr (std::is_same_v<T, std::shared_ptr<const Dictionary>>) {
          if (x == y) return true;
          return x->size() == y->size() && std::equal(x->begin(), x->end(), y->begin());
        } else if constexpr (requires { *x; }) {
          return x == y || *x == *y;
        } else {
          return x == y;
        }
      },
      a.v_);
}

const Value* member(const Value& v, std::string_view key) {
  const Dictionary* d = v.asDictionary();
  return d ? d->find(key) : nullptr;
}

const Dictionary* dictionaryMember(const Dictionary& d, std::string_view key) {
  const Value* v = d.find(key);
  return v ? v->asDictionary() : nullptr;
}

}  // namespace zeph::plist
