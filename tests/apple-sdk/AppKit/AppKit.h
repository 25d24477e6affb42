// AppKit, as far as the installer calls it: the shared application, its
// activation and main menu, alerts with an accessory text field, the
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

@interface NSResponder : NSObject
@end

@interface NSView : NSResponder
- (instancetype)initWithFrame:(NSRect)frameRect;
@end

@interface NSControl : NSView
@property(copy) NSString* stringValue;
@end

@interface NSButton : NSControl
@property(copy) NSString* keyEquivalent;
@end

@interface NSTextField : NSControl
@property(nullable, copy) NSString* placeholderString API_AVAILABLE(macos(10.10));
@end

@interface NSWindow : NSResponder
@property(nullable, weak) NSView* initialFirstResponder;
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
- (NSModalResponse)runModal;
@end

@interface NSWorkspace : NSObject
@property(class, readonly, strong) NSWorkspace* sharedWorkspace;
- (BOOL)openURL:(NSURL*)url;
@end

NS_ASSUME_NONNULL_END

#endif  // ZEPH_APPLE_SDK_APPKIT_H_
