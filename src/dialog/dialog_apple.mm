// The dialog backend on macOS: each alert is an NSAlert run modally, the text
// field an NSTextField accessory view; between alerts a small status panel (a
// spinner, the status text and, during lookups, a Cancel button). The work
// under a status runs on the main thread, and the waits it makes call
// keepWaiting() every few tens of milliseconds: that is where the queued
// events reach AppKit, so the app keeps answering (no spinning wait cursor)
// and a Cancel click is seen. Written for ARC (-fobjc-arc).

#import <AppKit/AppKit.h>
#include <CoreGraphics/CoreGraphics.h>

#include "dialog/dialog.h"

#if !__has_feature(objc_arc)
#error "dialog_apple.mm manages memory with ARC; compile it with -fobjc-arc"
#endif

// The Cancel button's target: keeps the click until keepWaiting() reads it.
@interface ZephStatusCancel : NSObject
@property BOOL pressed;
- (void)cancel:(nullable id)sender;
@end

@implementation ZephStatusCancel
- (void)cancel:(nullable id)sender {
  (void)sender;
  self.pressed = YES;
}
@end

namespace zeph {

namespace {

// Texts that are not UTF-8 would come back nil; an empty text is shown instead.
NSString* toNSString(const std::string& text) {
  NSString* converted = [[NSString alloc] initWithBytes:text.data()
                                                 length:text.size()
                                               encoding:NSUTF8StringEncoding];
  return converted != nil ? converted : [NSString string];
}

std::string fromNSString(NSString* text) {
  const char* utf8 = text.UTF8String;
  return utf8 != nullptr ? std::string(utf8) : std::string();
}

// Alerts need a window server session that is on the console. Over SSH, from
// launchd or a management agent there is none, and runModal would wait for
// ever; a session switched away from the console shows alerts nobody sees.
bool hasConsoleSession() {
  CFDictionaryRef session = CGSessionCopyCurrentDictionary();
  if (session == nullptr) return false;
  CFTypeRef onConsole = CFDictionaryGetValue(session, kCGSessionOnConsoleKey);
  bool result = onConsole != nullptr && CFGetTypeID(onConsole) == CFBooleanGetTypeID() &&
                CFBooleanGetValue(static_cast<CFBooleanRef>(onConsole));
  CFRelease(session);
  return result;
}

NSMenu* submenuOf(NSMenu* bar, NSString* title) {
  NSMenuItem* holder = [[NSMenuItem alloc] initWithTitle:title action:nil keyEquivalent:@""];
  NSMenu* menu = [[NSMenu alloc] initWithTitle:title];
  holder.submenu = menu;
  [bar addItem:holder];
  return menu;
}

// The menus a Mac app has, so that ⌘Q quits and the editing keys (⌘V above
// all) work in the city field: AppKit routes them through the main menu.
NSMenu* mainMenu() {
  NSMenu* bar = [[NSMenu alloc] initWithTitle:@""];
  NSMenu* app = submenuOf(bar, @"zeph");
  [app addItemWithTitle:@"Quit zeph" action:@selector(terminate:) keyEquivalent:@"q"];
  NSMenu* edit = submenuOf(bar, @"Edit");
  [edit addItemWithTitle:@"Undo" action:@selector(undo:) keyEquivalent:@"z"];
  [edit addItem:[NSMenuItem separatorItem]];
  [edit addItemWithTitle:@"Cut" action:@selector(cut:) keyEquivalent:@"x"];
  [edit addItemWithTitle:@"Copy" action:@selector(copy:) keyEquivalent:@"c"];
  [edit addItemWithTitle:@"Paste" action:@selector(paste:) keyEquivalent:@"v"];
  [edit addItemWithTitle:@"Select All" action:@selector(selectAll:) keyEquivalent:@"a"];
  return bar;
}

// Since macOS 14 activation is cooperative: activateIgnoringOtherApps: no
// longer takes the focus from the app in front (the Terminal the installer was
// started from), and activate is a request the system may decline. Ordering
// the window front regardless puts it above the other apps' windows either
// way; the keyboard follows once the system grants the activation or the
// user clicks the window.
void bringToFront(NSApplication* app, NSWindow* window) {
  if (@available(macOS 14.0, *)) {
    [app activate];
  } else {
    [app activateIgnoringOtherApps:YES];
  }
  [window makeKeyAndOrderFront:nil];
  [window orderFrontRegardless];
}

// Hands AppKit the events queued since the last call: clicks, keys, redraws,
// and what the window server uses to tell that the app still answers. Bounded,
// so that a stream of mouse moves cannot hold the work up.
constexpr int kMostEventsPerWait = 64;

void handleQueuedEvents(NSApplication* app) {
  @autoreleasepool {
    for (int i = 0; i < kMostEventsPerWait; ++i) {
      NSEvent* event = [app nextEventMatchingMask:NSEventMaskAny
                                        untilDate:NSDate.distantPast
                                           inMode:NSDefaultRunLoopMode
                                          dequeue:YES];
      if (event == nil) break;
      [app sendEvent:event];
    }
    [app updateWindows];
  }
}

// Points; the panel is as wide as an alert's text.
constexpr CGFloat kPanelWidth = 360;
constexpr CGFloat kPanelHeight = 104;

// What the panel holds; made once, on the first status.
struct StatusPanel {
  NSPanel* window = nil;
  NSTextField* text = nil;
  NSProgressIndicator* spinner = nil;
  NSButton* cancel = nil;
  ZephStatusCancel* cancelTarget = nil;
};

StatusPanel makeStatusPanel() {
  StatusPanel panel;
  panel.window = [[NSPanel alloc] initWithContentRect:NSMakeRect(0, 0, kPanelWidth, kPanelHeight)
                                            styleMask:NSWindowStyleMaskTitled
                                              backing:NSBackingStoreBuffered
                                                defer:NO];
  panel.window.title = @"zeph";
  // A panel hides whenever its app is not the active one, which on macOS 14
  // and later can be the whole run when it was started from Terminal.
  panel.window.hidesOnDeactivate = NO;
  NSView* content = panel.window.contentView;

  panel.spinner = [[NSProgressIndicator alloc] initWithFrame:NSMakeRect(16, 52, 32, 32)];
  panel.spinner.style = NSProgressIndicatorStyleSpinning;
  panel.spinner.indeterminate = YES;
  [content addSubview:panel.spinner];

  // Two lines, for a long city name in "Looking up “…”…".
  panel.text = [NSTextField wrappingLabelWithString:@""];
  panel.text.frame = NSMakeRect(60, 52, kPanelWidth - 76, 34);
  [content addSubview:panel.text];

  panel.cancelTarget = [[ZephStatusCancel alloc] init];
  panel.cancel = [NSButton buttonWithTitle:@"Cancel" target:panel.cancelTarget action:@selector(cancel:)];
  panel.cancel.frame = NSMakeRect(kPanelWidth - 110, 12, 92, 32);
  panel.cancel.keyEquivalent = @"\033";  // Esc, as on the terminal
  [content addSubview:panel.cancel];
  [panel.window center];  // where the user moves it, it stays for the run
  return panel;
}

class AppKitDialogBackend final : public DialogBackend {
 public:
  // Looked at before NSApplication exists: making it without a window
  // server is what would hang or abort.
  std::optional<std::string> unavailableReason() override {
    if (!hasConsoleSession())
      return "no one is at this Mac's screen to answer (no window server session on the console)";
    return std::nullopt;
  }

  AlertResult runModal(const Alert& alert) override {
    AlertResult result;
    @autoreleasepool {
      NSApplication* app = application();
      NSAlert* panel = [[NSAlert alloc] init];
      panel.messageText = toNSString(alert.messageText);
      panel.informativeText = toNSString(alert.informativeText);
      // Without buttons the alert shows its own single "OK" (response 1000).
      for (std::size_t i = 0; i < alert.buttons.size(); ++i) {
        NSButton* button = [panel addButtonWithTitle:toNSString(alert.buttons[i])];
        if (i == 1) button.keyEquivalent = @"\033";  // Escape answers the second button, as in any Mac alert
      }
      NSTextField* field = nil;
      if (alert.field) {
        field = [[NSTextField alloc] initWithFrame:NSMakeRect(0, 0, alert.field->width, alert.field->height)];
        field.placeholderString = toNSString(alert.field->placeholder);
        field.stringValue = toNSString(alert.field->text);
        panel.accessoryView = field;
        panel.window.initialFirstResponder = field;
      }
      hideStatus();
      // A command-line tool starts behind the terminal: without this the
      // alert opens in the background and typing goes elsewhere. Laid out
      // first, so that it is centred at its final size.
      [panel layout];
      [panel.window center];
      bringToFront(app, panel.window);
      result.response = [panel runModal];
      if (field != nil) result.fieldText = fromNSString(field.stringValue);
    }
    return result;
  }

  void showStatus(const std::string& text) override { show(text, false); }
  void showCancellableStatus(const std::string& text) override { show(text, true); }

  bool keepWaiting() override {
    if (app_ == nil) return true;  // no alert yet: nothing on screen to look after
    handleQueuedEvents(app_);
    if (status_.cancelTarget == nil || !status_.cancelTarget.pressed) return true;
    status_.cancelTarget.pressed = NO;
    return !cancellable_;
  }

  void endSession() override {
    hideStatus();
    status_ = StatusPanel();
  }

 private:
  // Set up on the first alert of an interactive run, never in a headless one.
  NSApplication* application() {
    if (app_ == nil) {
      app_ = NSApplication.sharedApplication;
      (void)[app_ setActivationPolicy:NSApplicationActivationPolicyRegular];
      app_.mainMenu = mainMenu();
      [app_ finishLaunching];
    }
    return app_;
  }

  void show(const std::string& text, bool cancellable) {
    @autoreleasepool {
      NSApplication* app = application();
      if (status_.window == nil) status_ = makeStatusPanel();
      status_.text.stringValue = toNSString(text);
      status_.cancel.hidden = !cancellable;
      status_.cancelTarget.pressed = NO;  // a click under an earlier status calls nothing off here
      cancellable_ = cancellable;
      [status_.spinner startAnimation:nil];
      bringToFront(app, status_.window);
      [status_.window displayIfNeeded];  // drawn now, before the work starts
    }
  }

  void hideStatus() {
    if (status_.window == nil) return;
    [status_.spinner stopAnimation:nil];
    [status_.window orderOut:nil];
  }

  NSApplication* app_ = nil;  // set on the first alert or status of the run
  StatusPanel status_;        // empty until the first status; hidden during alerts
  bool cancellable_ = false;  // whether the status shown can be called off
};

}  // namespace

DialogBackend& platformDialogBackend() {
  static AppKitDialogBackend backend;
  return backend;
}

}  // namespace zeph
