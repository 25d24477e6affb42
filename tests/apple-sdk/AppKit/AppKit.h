// AppKit, as far as the installer calls it: the shared application, its
// activation, main menu and event queue, alerts with an accessory text field,
// the status panel (a spinning indicator, a wrapping label, a button), the
// workspace's URL opening.
#ifndef ZEPH_APPLE_SDK_APPKIT_H_
#define ZEPH_APPLE_SDK_APPKIT_H_

#import <Foundation/Foundation.h>
#include <CoreGraphics/CoreGraphics.h>

NS_ASSUME_NONNULL_BEGIN

typedef NSInteger NSModalResponse;
static const NSModalResponse NSAlertFirstButtonReturn = 1000;
static const NSModalResponse NSAlertSecondButtonReturn = 1001;

typedef NS_ENUM(NSInteger, NSApplicationActivationPolicy) {
  NSApplicationActivationPolicyRegular = 0,
  NSApplicationActivationPolicyAccessory = 1,
  NSApplicationActivationPolicyProhibited = 2,
};

typedef NS_OPTIONS(unsigned long long, NSEventMask) {
  NSEventMaskAny API_AVAILABLE(macos(10.12)) = NSUIntegerMax,
};

typedef NS_OPTIONS(NSUInteger, NSWindowStyleMask) {
  NSWindowStyleMaskBorderless API_AVAILABLE(macos(10.12)) = 0,
  NSWindowStyleMaskTitled API_AVAILABLE(macos(10.12)) = 1 << 0,
  NSWindowStyleMaskClosable API_AVAILABLE(macos(10.12)) = 1 << 1,
  NSWindowStyleMaskMiniaturizable API_AVAILABLE(macos(10.12)) = 1 << 2,
  NSWindowStyleMaskResizable API_AVAILABLE(macos(10.12)) = 1 << 3,
};

typedef NS_ENUM(NSUInteger, NSBackingStoreType) {
  NSBackingStoreBuffered = 2,
};

typedef NS_ENUM(NSUInteger, NSProgressIndicatorStyle) {
  NSProgressIndicatorStyleBar = 0,
  NSProgressIndicatorStyleSpinning = 1,
};

@interface NSEvent : NSObject
@end

@interface NSResponder : NSObject
@end

@interface NSView : NSResponder
- (instancetype)initWithFrame:(NSRect)frameRect;
@property NSRect frame;
@property(getter=isHidden) BOOL hidden;
- (void)addSubview:(NSView*)view;
@end

@interface NSControl : NSView
@property(copy) NSString* stringValue;
@end

@interface NSButton : NSControl
+ (instancetype)buttonWithTitle:(NSString*)title
                         target:(nullable id)target
                         action:(nullable SEL)action API_AVAILABLE(macos(10.12));
@property(copy) NSString* keyEquivalent;
@end

@interface NSTextField : NSControl
+ (instancetype)wrappingLabelWithString:(NSString*)stringValue API_AVAILABLE(macos(10.12));
@property(nullable, copy) NSString* placeholderString API_AVAILABLE(macos(10.10));
@end

@interface NSProgressIndicator : NSView
@property NSProgressIndicatorStyle style;
@property(getter=isIndeterminate) BOOL indeterminate;
- (void)startAnimation:(nullable id)sender;
- (void)stopAnimation:(nullable id)sender;
@end

@interface NSWindow : NSResponder
- (instancetype)initWithContentRect:(NSRect)contentRect
                          styleMask:(NSWindowStyleMask)style
                            backing:(NSBackingStoreType)backingStoreType
                              defer:(BOOL)flag;
@property(copy) NSString* title;
@property(nullable, strong) __kindof NSView* contentView;
@property(nullable, weak) NSView* initialFirstResponder;
@property BOOL hidesOnDeactivate;
- (void)center;
- (void)makeKeyAndOrderFront:(nullable id)sender;
- (void)orderFrontRegardless;
- (void)orderOut:(nullable id)sender;
- (void)displayIfNeeded;
@end

@interface NSPanel : NSWindow
@end

@class NSMenu;

@interface NSMenuItem : NSObject
+ (NSMenuItem*)separatorItem;
- (instancetype)initWithTitle:(NSString*)string action:(nullable SEL)selector keyEquivalent:(NSString*)charCode;
@property(nullable, strong) NSMenu* submenu;
@end

@interface NSMenu : NSObject
- (instancetype)initWithTitle:(NSString*)title;
- (void)addItem:(NSMenuItem*)newItem;
- (NSMenuItem*)addItemWithTitle:(NSString*)string action:(nullable SEL)selector keyEquivalent:(NSString*)charCode;
@end

@interface NSApplication : NSResponder
@property(class, readonly, strong) __kindof NSApplication* sharedApplication;
- (BOOL)setActivationPolicy:(NSApplicationActivationPolicy)activationPolicy API_AVAILABLE(macos(10.6));
// Documented as deprecated from macOS 27 on; NSApplication's activate replaces it.
- (void)activateIgnoringOtherApps:(BOOL)ignoreOtherApps
    API_DEPRECATED("Use NSApp.activate instead.", macos(10.0, 27.0));
// A request: under cooperative activation the system may decline it.
- (void)activate API_AVAILABLE(macos(14.0));
- (nullable NSEvent*)nextEventMatchingMask:(NSEventMask)mask
                                 untilDate:(nullable NSDate*)expiration
                                    inMode:(NSRunLoopMode)mode
                                   dequeue:(BOOL)deqFlag;
- (void)sendEvent:(NSEvent*)event;
- (void)updateWindows;
@property(nullable, strong) NSMenu* mainMenu;
- (void)finishLaunching;
- (void)terminate:(nullable id)sender;
@end

@interface NSAlert : NSObject
@property(copy) NSString* messageText;
@property(copy) NSString* informativeText;
- (NSButton*)addButtonWithTitle:(NSString*)title;
@property(nullable, strong) NSView* accessoryView API_AVAILABLE(macos(10.5));
@property(readonly, strong) NSWindow* window;
- (void)layout API_AVAILABLE(macos(10.5));
- (NSModalResponse)runModal;
@end

@interface NSWorkspace : NSObject
@property(class, readonly, strong) NSWorkspace* sharedWorkspace;
- (BOOL)openURL:(NSURL*)url;
@end

NS_ASSUME_NONNULL_END

#endif  // ZEPH_APPLE_SDK_APPKIT_H_
