// AppKit, as far as the installer calls it: the shared application and its
// activation, alerts with an accessory text field, the workspace's URL opening.
#ifndef ZEPH_APPLE_SDK_APPKIT_H_
#define ZEPH_APPLE_SDK_APPKIT_H_

#import <Foundation/Foundation.h>

#pragma clang assume_nonnull begin

typedef NSInteger NSModalResponse;
static const NSModalResponse NSAlertFirstButtonReturn = 1000;
static const NSModalResponse NSAlertSecondButtonReturn = 1001;

typedef NSInteger NSApplicationActivationPolicy;
enum {
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
@end

@interface NSTextField : NSControl
@property(nullable, copy) NSString* placeholderString;
@end

@interface NSWindow : NSResponder
@property(nullable, weak) NSView* initialFirstResponder;
@end

@interface NSApplication : NSResponder
@property(class, readonly, strong) __kindof NSApplication* sharedApplication;
- (BOOL)setActivationPolicy:(NSApplicationActivationPolicy)activationPolicy;
- (void)activateIgnoringOtherApps:(BOOL)flag;
@end

@interface NSAlert : NSObject
@property(copy) NSString* messageText;
@property(copy) NSString* informativeText;
- (NSButton*)addButtonWithTitle:(NSString*)title;
@property(nullable, strong) NSView* accessoryView;
@property(readonly, strong) NSWindow* window;
- (NSModalResponse)runModal;
@end

@interface NSWorkspace : NSObject
@property(class, readonly, strong) NSWorkspace* sharedWorkspace;
- (BOOL)openURL:(NSURL*)url;
@end

#pragma clang assume_nonnull end

#endif  // ZEPH_APPLE_SDK_APPKIT_H_
