// The saver's preferences suite through CFPreferences, the store behind the
// platform's user defaults. CFPreferences addresses any named domain, so the
// fallback to the installer's own domain that the defaults API needs never
// arises here.

#include <CoreFoundation/CoreFoundation.h>

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>

#include "platform/preferences.h"

namespace zeph {

namespace {

struct Releaser {
  void operator()(const void* ref) const { CFRelease(ref); }
};
using Owned = std::unique_ptr<const void, Releaser>;  // one reference we must release

Owned makeString(const std::string& text) {
  return Owned(CFStringCreateWithBytes(kCFAllocatorDefault, reinterpret_cast<const UInt8*>(text.data()),
                                       static_cast<CFIndex>(text.size()), kCFStringEncodingUTF8, false));
}

std::string stringFrom(CFStringRef text) {
  CFRange all = CFRangeMake(0, CFStringGetLength(text));
  CFIndex size = 0;
  CFStringGetBytes(text, all, kCFStringEncodingUTF8, 0, false, nullptr, 0, &size);
  std::string out(static_cast<std::size_t>(size), '\0');
  CFStringGetBytes(text, all, kCFStringEncodingUTF8, 0, false, reinterpret_cast<UInt8*>(out.data()), size,
                   &size);
  out.resize(static_cast<std::size_t>(size));
  return out;
}

plist::Value valueFrom(CFPropertyListRef ref) {
  CFTypeID type = CFGetTypeID(ref);
  if (type == CFStringGetTypeID()) return plist::Value(stringFrom(static_cast<CFStringRef>(ref)));
  if (type == CFBooleanGetTypeID()) {
    return plist::Value::boolean(CFBooleanGetValue(static_cast<CFBooleanRef>(ref)) != 0);
  }
  if (type == CFNumberGetTypeID()) {
    auto number = static_cast<CFNumberRef>(ref);
    if (CFNumberIsFloatType(number)) {
      double real = 0;
      CFNumberGetValue(number, kCFNumberDoubleType, &real);
      return plist::Value::real(real);
    }
    std::int64_t integer = 0;
    CFNumberGetValue(number, kCFNumberSInt64Type, &integer);
    return plist::Value::integer(integer);
  }
  // Data, dates and containers: the installer only asks whether they are
  // there, so they read as an empty dictionary.
  return plist::Value();
}

// The CF value for `value`, or none for the kinds the installer never writes.
Owned makeValue(const plist::Value& value) {
  if (const std::string* text = value.asString()) return makeString(*text);
  if (const bool* flag = value.asBoolean()) return Owned(CFRetain(*flag ? kCFBooleanTrue : kCFBooleanFalse));
  if (const double* real = value.asReal())
    return Owned(CFNumberCreate(kCFAllocatorDefault, kCFNumberDoubleType, real));
  if (std::optional<plist::Integer> integer = value.asInteger(); integer && !integer->needsSixteenBytes()) {
    auto bits = static_cast<std::int64_t>(integer->bits);
    return Owned(CFNumberCreate(kCFAllocatorDefault, kCFNumberSInt64Type, &bits));
  }
  return nullptr;
}

}  // namespace

std::optional<plist::Value> preferenceValue(const std::string& suite, const std::string& key) {
  Owned suiteName = makeString(suite);
  Owned keyName = makeString(key);
  if (!suiteName || !keyName) return std::nullopt;
  Owned stored(CFPreferencesCopyAppValue(static_cast<CFStringRef>(keyName.get()),
                                         static_cast<CFStringRef>(suiteName.get())));
  if (!stored) return std::nullopt;
  return valueFrom(stored.get());
}

void applyPreferenceChange(const std::string& suite, const PreferenceChange& change) {
  const std::string failure = "the preferences " + suite + " could not be written";
  Owned suiteName = makeString(suite);
  Owned toSet(CFDictionaryCreateMutable(kCFAllocatorDefault, 0, &kCFTypeDictionaryKeyCallBacks,
                                        &kCFTypeDictionaryValueCallBacks));
  Owned toRemove(CFArrayCreateMutable(kCFAllocatorDefault, 0, &kCFTypeArrayCallBacks));
  if (!suiteName || !toSet || !toRemove) throw std::runtime_error(failure);
  auto setDictionary = static_cast<CFMutableDictionaryRef>(const_cast<void*>(toSet.get()));
  auto removeArray = static_cast<CFMutableArrayRef>(const_cast<void*>(toRemove.get()));
  for (const auto& [key, value] : change.set) {
    Owned keyName = makeString(key);
    Owned cfValue = makeValue(value);
    if (!keyName || !cfValue) throw std::runtime_error(failure);  // never store half a change
    CFDictionarySetValue(setDictionary, keyName.get(), cfValue.get());
  }
  for (const std::string& key : change.remove) {
    Owned keyName = makeString(key);
    if (!keyName) throw std::runtime_error(failure);
    CFArrayAppendValue(removeArray, keyName.get());
  }
  // One call for the whole change, so that the saver never reads a new
  // latitude beside an old longitude.
  auto domain = static_cast<CFStringRef>(suiteName.get());
  CFPreferencesSetMultiple(setDictionary, removeArray, domain, kCFPreferencesCurrentUser,
                           kCFPreferencesAnyHost);
  // The one report CFPreferences gives that the values did not reach the disk.
  if (!CFPreferencesAppSynchronize(domain)) throw std::runtime_error(failure);
}

}  // namespace zeph
