// Availability and enum markup, as CFAvailability.h spells it.
#ifndef ZEPH_APPLE_SDK_CFAVAILABILITY_H_
#define ZEPH_APPLE_SDK_CFAVAILABILITY_H_

// Darwin's own API_AVAILABLE and API_DEPRECATED where its libc headers are in
// use (the versioned macOS compile). Elsewhere (the syntax check on Linux) the
// same expansion for the one platform these declarations name.
#if defined(__has_include) && __has_include(<os/availability.h>)
#include <os/availability.h>
#endif
#ifndef API_AVAILABLE
#define __ZEPH_API_INTRODUCED_macos(version) availability(macos, introduced = version)
#define __ZEPH_API_DEPRECATED_macos(introducedIn, deprecatedIn) \
  availability(macos, introduced = introducedIn, deprecated = deprecatedIn)
#define API_AVAILABLE(platform) __attribute__((__ZEPH_API_INTRODUCED_##platform))
// The message only shows in warnings, which need the macOS target anyway.
#define API_DEPRECATED(message, platform) __attribute__((__ZEPH_API_DEPRECATED_##platform))
#endif

// Enums with a fixed underlying type: in C++ an integer no longer converts to
// them implicitly, as with the real headers.
#if __has_attribute(enum_extensibility)
#define __CF_ENUM_ATTRIBUTES __attribute__((enum_extensibility(open)))
#else
#define __CF_ENUM_ATTRIBUTES
#endif
#define __CF_ENUM_GET_MACRO(_1, _2, NAME, ...) NAME
#define __CF_NAMED_ENUM(_type, _name) \
  enum __CF_ENUM_ATTRIBUTES _name : _type _name; \
  enum _name : _type
#define __CF_ANON_ENUM(_type) enum __CF_ENUM_ATTRIBUTES : _type
#define CF_ENUM(...) __CF_ENUM_GET_MACRO(__VA_ARGS__, __CF_NAMED_ENUM, __CF_ANON_ENUM, )(__VA_ARGS__)

// Option sets: in C++ the type is the integer itself, so that options can be
// combined with |; the constants are an anonymous enum of that type.
#if __has_attribute(flag_enum)
#define __CF_OPTIONS_ATTRIBUTES __attribute__((flag_enum, enum_extensibility(open)))
#else
#define __CF_OPTIONS_ATTRIBUTES
#endif
#ifdef __cplusplus
#define CF_OPTIONS(_type, _name) \
  _type _name;                   \
  enum __CF_OPTIONS_ATTRIBUTES : _type
#else
#define CF_OPTIONS(_type, _name)                    \
  enum __CF_OPTIONS_ATTRIBUTES _name : _type _name; \
  enum _name : _type
#endif

#define CF_ASSUME_NONNULL_BEGIN _Pragma("clang assume_nonnull begin")
#define CF_ASSUME_NONNULL_END _Pragma("clang assume_nonnull end")

#endif  // ZEPH_APPLE_SDK_CFAVAILABILITY_H_
