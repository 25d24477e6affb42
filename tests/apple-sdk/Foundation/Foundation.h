// Foundation, as far as the installer calls it: NSObject, NSString, NSURL,
// NSDate and the run loop's default mode, and the geometry the AppKit calls take.
#ifndef ZEPH_APPLE_SDK_FOUNDATION_H_
#define ZEPH_APPLE_SDK_FOUNDATION_H_

#include <CoreFoundation/CoreFoundation.h>
#include <limits.h>

#define NS_ENUM(...) CF_ENUM(__VA_ARGS__)
#define NS_OPTIONS(_type, _name) CF_OPTIONS(_type, _name)
// String constants that name one of a set of values (run loop modes).
#define NS_TYPED_EXTENSIBLE_ENUM __attribute__((swift_wrapper(struct)))
#ifdef __cplusplus
#define FOUNDATION_EXPORT extern "C"
#else
#define FOUNDATION_EXPORT extern
#endif
#define NS_ASSUME_NONNULL_BEGIN _Pragma("clang assume_nonnull begin")
#define NS_ASSUME_NONNULL_END _Pragma("clang assume_nonnull end")

// objc/objc.h: the compiler says which BOOL the target has (bool on arm64,
// signed char on x86_64); without word from it, macOS has signed char.
#ifdef __cplusplus
#define nil nullptr
#else
#define nil ((void*)0)
#endif
#if defined(__OBJC_BOOL_IS_BOOL) && __OBJC_BOOL_IS_BOOL
typedef bool BOOL;
#else
typedef signed char BOOL;
#endif
#if __has_feature(objc_bool)
#define YES __objc_yes
#define NO __objc_no
#else
#define YES ((BOOL)1)
#define NO ((BOOL)0)
#endif

typedef long NSInteger;
typedef unsigned long NSUInteger;
#define NSUIntegerMax ULONG_MAX
typedef double CGFloat;

struct CGPoint {
  CGFloat x;
  CGFloat y;
};
struct CGSize {
  CGFloat width;
  CGFloat height;
};
struct CGRect {
  struct CGPoint origin;
  struct CGSize size;
};
typedef struct CGRect NSRect;

static inline NSRect NSMakeRect(CGFloat x, CGFloat y, CGFloat w, CGFloat h) {
  NSRect r;
  r.origin.x = x;
  r.origin.y = y;
  r.size.width = w;
  r.size.height = h;
  return r;
}

NS_ASSUME_NONNULL_BEGIN

__attribute__((objc_root_class))
@interface NSObject
+ (instancetype)alloc;
- (instancetype)init;
@end

typedef NSUInteger NSStringEncoding;
NS_ENUM(NSStringEncoding) {
  NSUTF8StringEncoding API_AVAILABLE(macos(10.0)) = 4,
};

@interface NSString : NSObject
+ (instancetype)string;
- (nullable instancetype)initWithBytes:(const void*)bytes
                                length:(NSUInteger)len
                              encoding:(NSStringEncoding)encoding API_AVAILABLE(macos(10.0));
@property(nullable, readonly) const char* UTF8String API_AVAILABLE(macos(10.0));
@end

@interface NSURL : NSObject
+ (nullable instancetype)URLWithString:(NSString*)URLString API_AVAILABLE(macos(10.0));
@end

@interface NSDate : NSObject
@property(class, readonly, copy) NSDate* distantPast;
@end

typedef NSString* NSRunLoopMode NS_TYPED_EXTENSIBLE_ENUM;
FOUNDATION_EXPORT NSRunLoopMode const NSDefaultRunLoopMode;

NS_ASSUME_NONNULL_END

#endif  // ZEPH_APPLE_SDK_FOUNDATION_H_
