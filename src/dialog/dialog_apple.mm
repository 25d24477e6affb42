// The dialog backend on macOS: each alert is an NSAlert run modally, the text
// field an NSTextField accessory view. Written for ARC (-fobjc-arc).

#import <AppKit/AppKit.h>
#include <CoreGraphics/CoreGraphics.h>

#include "dialog/dialog.h"

#if !__has_feature(objc_arc)
#error "dialog_apple.mm manages memory with ARC; compile it with -fobjc-arc"
#endif

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

class AppKitDialogBackend final : public DialogBackend {
 public:
  // Looked at before NSApplication exists: making it without a window
  // server is what would hang or abort.
  std::optional<std::string> unavailableReason() override {
    if (!hasConsoleSession()) return "no one is at this Mac's screen to answer (no window server session on the console)";
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
      // A command-line tool starts behind the terminal: without this the
      // alert opens in the background and typing goes elsewhere.
      [app activateIgnoringOtherApps:YES];
      result.response = [panel runModal];
      if (field != nil) result.fieldText = fromNSString(field.stringValue);
    }
    return result;
  }

 private:
  // Set up on the first alert of an interactive run, never in a headless one.
  static NSApplication* application() {
    static NSApplication* const app = [] {
      NSApplication* shared = NSApplication.sharedApplication;
      (void)[shared setActivationPolicy:NSApplicationActivationPolicyRegular];
      shared.mainMenu = mainMenu();
      [shared finishLaunching];
      return shared;
    }();
    return app;
  }
};

}  // namespace

DialogBackend& platformDialogBackend() {
  static AppKitDialogBackend backend;
  return backend;
}

}  // namespace zeph
