// Foundation, as far as the installer calls it: NSObject, NSString, NSURL
// and the geometry the AppKit calls take.
#ifndef ZEPH_APPLE_SDK_FOUNDATION_H_
#define ZEPH_APPLE_SDK_FOUNDATION_H_

#include <CoreFoundation/CoreFoundation.h>

// objc/objc.h
#ifdef __cplusplus
#define nil nullptr
#else
#define nil ((void*)0)
#endif
typedef signed char BOOL;
#define YES ((BOOL)1)
#define NO ((BOOL)0)
typedef long NSInteger;
typedef unsigned long NSUInteger;
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

#pragma clang assume_nonnull begin

__attribute__((objc_root_class))
@interface NSObject
+ (instancetype)alloc;
- (instancetype)init;
@end

typedef NSUInteger NSStringEncoding;
enum { NSUTF8StringEncoding = 4 };

@interface NSString : NSObject
+ (instancetype)string;
- (nullable instancetype)initWithBytes:(const void*)bytes
                                length:(NSUInteger)len
                              encoding:(NSStringEncoding)encoding;
@property(nullable, readonly) const char* UTF8String;
@end

@interface NSURL : NSObject
+ (nullable instancetype)URLWithString:(NSString*)URLString;
@end

#pragma clang assume_nonnull end

#endif  // ZEPH_APPLE_SDK_FOUNDATION_H_
