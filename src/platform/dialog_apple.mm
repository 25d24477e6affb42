// The dialog backend on macOS: each alert is an NSAlert run modally, the text
// field an NSTextField accessory view. Written for ARC (-fobjc-arc).

#import <AppKit/AppKit.h>

#include "platform/dialog.h"

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

class AppKitDialogBackend final : public DialogBackend {
 public:
  // Made on the first alert of an interactive run, never in a headless one.
  AppKitDialogBackend() {
    NSApplication* app = NSApplication.sharedApplication;
    (void)[app setActivationPolicy:NSApplicationActivationPolicyRegular];
    [app activateIgnoringOtherApps:YES];
  }

  std::optional<std::string> unavailableReason() override { return std::nullopt; }

  AlertResult runModal(const Alert& alert) override {
    AlertResult result;
    @autoreleasepool {
      NSAlert* panel = [[NSAlert alloc] init];
      panel.messageText = toNSString(alert.messageText);
      panel.informativeText = toNSString(alert.informativeText);
      // Without buttons the alert shows its own single "OK" (response 1000).
      for (const std::string& title : alert.buttons) [panel addButtonWithTitle:toNSString(title)];
      NSTextField* field = nil;
      if (alert.field) {
        field = [[NSTextField alloc] initWithFrame:NSMakeRect(0, 0, alert.field->width, alert.field->height)];
        field.placeholderString = toNSString(alert.field->placeholder);
        field.stringValue = toNSString(alert.field->text);
        panel.accessoryView = field;
        panel.window.initialFirstResponder = field;
      }
      result.response = [panel runModal];
      if (field != nil) result.fieldText = fromNSString(field.stringValue);
    }
    return result;
  }
};

}  // namespace

DialogBackend& platformDialogBackend() {
  static AppKitDialogBackend backend;
  return backend;
}

}  // namespace zeph
