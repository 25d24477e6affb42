// The dialog backend for systems without AppKit: alerts are boxes drawn with
// ncursesw on the controlling terminal (/dev/tty, so that standard output
// stays free). One screen stays up from the first alert of a run to the
// last, showing a status line while the run works between alerts.

#include <curses.h>
#include <fcntl.h>
#include <langinfo.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termcap.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <memory>
#include <string_view>

#include "base/process_locale.h"
#include "dialog/dialog.h"
#include "dialog/dialog_layout.h"
#include "dialog/grapheme.h"
#include "dialog/key_decoder.h"
#include "dialog/text_field.h"
#include "text/utf8.h"

namespace zeph {

namespace {

constexpr int kHandledSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
constexpr int kPollMilliseconds = 100;         // how soon a caught signal is noticed
constexpr int kEscapeDelayMilliseconds = 50;   // a lone Esc answers at once
constexpr int kSequenceGapMilliseconds = 50;   // the rest of an escape sequence arrives within this
constexpr int kPasteQuietMilliseconds = 1000;  // a paste whose end marker never came is over
// Keys typed this soon after an alert appeared were meant for what came
// before it (a mashed Enter): nobody has read the alert yet.
constexpr std::chrono::milliseconds kAlertKeyGuard{300};
constexpr std::string_view kBracketedPasteOn = "\x1b[?2004h";
constexpr std::string_view kBracketedPasteOff = "\x1b[?2004l";

// The signal that asked the session to end; 0 while none did.
volatile std::sig_atomic_t caughtSignal = 0;
// While set, a first Ctrl-C is only noted in interruptNoted; the next one ends the run.
volatile std::sig_atomic_t holdingInterrupt = 0;
volatile std::sig_atomic_t interruptNoted = 0;

extern "C" void noteSignal(int signal) {
  if (signal == SIGINT && holdingInterrupt != 0 && interruptNoted == 0) {
    interruptNoted = 1;
    return;
  }
  caughtSignal = signal;
}

// Control characters would be drawn as ^X and shift the layout; line feeds
// stay where `keepLineFeeds` says they mean something.
std::u32string printable(std::string_view utf8, bool keepLineFeeds) {
  std::u32string s = decodeUtf8Lossy(utf8);
  for (char32_t& c : s) {
    if (c == U'\t' || (c == U'\n' && !keepLineFeeds)) c = U' ';
    if (c != U'\n' && (c < 0x20 || (c >= 0x7F && c < 0xA0))) c = U'\uFFFD';
  }
  return s;
}

std::wstring wide(std::u32string_view s) {
  std::u32string drawn = drawableText(s);
  return std::wstring(drawn.begin(), drawn.end());
}

void put(int row, int column, std::u32string_view text, attr_t attributes) {
  attron(attributes);
  std::wstring w = wide(text);
  mvaddnwstr(row, column, w.c_str(), static_cast<int>(w.size()));
  attroff(attributes);
}

void frame(const DialogLayout& box) {
  const int top = box.top, left = box.left, height = box.height, width = box.width;
  mvaddch(top, left, ACS_ULCORNER);
  mvhline(top, left + 1, ACS_HLINE, width - 2);
  mvaddch(top, left + width - 1, ACS_URCORNER);
  mvvline(top + 1, left, ACS_VLINE, height - 2);
  mvvline(top + 1, left + width - 1, ACS_VLINE, height - 2);
  mvaddch(top + height - 1, left, ACS_LLCORNER);
  mvhline(top + height - 1, left + 1, ACS_HLINE, width - 2);
  mvaddch(top + height - 1, left + width - 1, ACS_LRCORNER);
}

// The frame and the lines every layout has; false when only the notice showed.
bool drawBox(const DialogLayout& layout) {
  erase();
  if (!layout.tooSmall) frame(layout);
  // Terminals without dim (vt100) show the hint plain.
  for (const PlacedLine& line : layout.lines) {
    attr_t attributes = line.style == LineStyle::Title  ? A_BOLD
                        : line.style == LineStyle::Hint ? A_DIM
                                                        : A_NORMAL;
    put(line.row, line.column, line.text, attributes);
  }
  return !layout.tooSmall;
}

// ---- Terminal session --------------------------------------------------

// Writes `bytes` to the terminal straight away, outside ncurses' buffer.
void writeToTerminal(FILE* tty, std::string_view bytes) {
  std::fflush(tty);
  (void)!::write(::fileno(tty), bytes.data(), bytes.size());
}

// The terminal's device number while the session's screen is up.
std::optional<dev_t> screenDevice;

// The device number of the terminal behind `fd`. A descriptor opened
// through /dev/tty reports /dev/tty's own number to fstat; TIOCGDEV names
// the terminal it stands for (/dev/pts/3), which the standard streams show.
std::optional<dev_t> terminalDevice(int fd) {
#ifdef TIOCGDEV
  unsigned int device = 0;
  if (::ioctl(fd, TIOCGDEV, &device) == 0) return makedev(major(device), minor(device));
#endif
  struct stat st {};
  if (::fstat(fd, &st) == 0) return st.st_rdev;
  return std::nullopt;
}

/// Owns the ncurses screen on the controlling terminal. Puts back the
/// terminal modes, bracketed paste and the signal handlers on destruction,
/// however the run ends. The character locale is set once for the process
/// and never put back.
class TerminalSession {
 public:
  TerminalSession() {
    caughtSignal = 0;
    for (std::size_t i = 0; i < std::size(kHandledSignals); ++i) {
      struct sigaction ours {};
      ours.sa_handler = noteSignal;
      sigemptyset(&ours.sa_mask);
      // No SA_RESTART: the read is interrupted and the loop looks at the flag.
      ::sigaction(kHandledSignals[i], nullptr, &previous_[i]);
      // A signal the caller ignores (nohup) stays ignored.
      if (previous_[i].sa_handler != SIG_IGN) ::sigaction(kHandledSignals[i], &ours, nullptr);
    }
    // Set once for the whole process, never put back: a lookup worker may be
    // reading the locale.
    ensureProcessLocale();

    tty_ = std::fopen("/dev/tty", "r+e");
    if (tty_ == nullptr) return;
    // The modes as found, before ncurses changes anything; put back last.
    savedModes_ = ::tcgetattr(::fileno(tty_), &modes_) == 0;
    screen_ = newterm(nullptr, tty_, tty_);
    if (screen_ == nullptr) {
      restoreModes();
      return;
    }
    screenDevice = terminalDevice(::fileno(tty_));
    set_escdelay(kEscapeDelayMilliseconds);
    cbreak();
    noecho();
    nonl();
    keypad(stdscr, TRUE);
    // Pasted text arrives marked, so that a pasted Tab or line break is text.
    writeToTerminal(tty_, kBracketedPasteOn);
  }

  ~TerminalSession() {
    if (screen_ != nullptr) {
      writeToTerminal(tty_, kBracketedPasteOff);
      if (!isendwin()) endwin();
      delscreen(screen_);
      screenDevice.reset();
    }
    // Whatever ncurses believes the modes were, the terminal gets back the
    // ones it had when the session began.
    restoreModes();
    if (tty_ != nullptr) std::fclose(tty_);
    for (std::size_t i = 0; i < std::size(kHandledSignals); ++i) {
      ::sigaction(kHandledSignals[i], &previous_[i], nullptr);
    }
  }

  TerminalSession(const TerminalSession&) = delete;
  TerminalSession& operator=(const TerminalSession&) = delete;

  bool ok() const { return screen_ != nullptr; }

  /// Whether the terminal is still there: a hung-up terminal has no modes.
  bool terminalLost() const {
    struct termios now {};
    return ::tcgetattr(::fileno(tty_), &now) != 0 && (errno == EIO || errno == ENOTTY || errno == EBADF);
  }

 private:
  void restoreModes() {
    if (!savedModes_) return;
    // Retried when a signal interrupts it; a terminal that went away cannot take them.
    while (::tcsetattr(::fileno(tty_), TCSADRAIN, &modes_) != 0 && errno == EINTR) {
    }
  }

  struct sigaction previous_[std::size(kHandledSignals)]{};  // restored on destruction
  struct termios modes_ {};                                  // the terminal's modes when the session began
  bool savedModes_ = false;
  FILE* tty_ = nullptr;       // the controlling terminal, or null
  SCREEN* screen_ = nullptr;  // null when the terminal could not be set up
};

// Ends the process by `signal` as if no handler had been installed.
[[noreturn]] void reraise(int signal) {
  struct sigaction defaults {};
  defaults.sa_handler = SIG_DFL;
  sigemptyset(&defaults.sa_mask);
  ::sigaction(signal, &defaults, nullptr);
  sigset_t unblock;
  sigemptyset(&unblock);
  sigaddset(&unblock, signal);
  ::sigprocmask(SIG_UNBLOCK, &unblock, nullptr);
  std::raise(signal);
  std::_Exit(128 + signal);  // only if the signal did not end the process
}

// One read from the terminal: a key the decoder should see, a resize, or nothing.
struct Input {
  enum class Kind { Nothing, Key, Resize } kind = Kind::Nothing;
  KeyInput key;
};

NamedKey nameOf(wint_t code) {
  switch (code) {
    case KEY_ENTER:
      return NamedKey::Enter;
    case KEY_BTAB:
      return NamedKey::BackTab;
    case KEY_BACKSPACE:
      return NamedKey::Backspace;
    case KEY_DC:
      return NamedKey::Delete;
    case KEY_LEFT:
      return NamedKey::Left;
    case KEY_RIGHT:
      return NamedKey::Right;
    case KEY_UP:
      return NamedKey::Up;
    case KEY_DOWN:
      return NamedKey::Down;
    case KEY_HOME:
    case KEY_FIND:
      return NamedKey::Home;  // vt220-style keyboards send Find for Home
    case KEY_END:
    case KEY_SELECT:
      return NamedKey::End;
    default:
      break;
  }
  // Arrows with modifiers have no fixed codes: the terminal description names
  // them, "kLFT5" for Ctrl-Left ("kLFT2", Shift, is not a word move).
  const char* name = keyname(static_cast<int>(code));
  std::string_view named = name != nullptr ? name : "";
  if (named.size() == 5 && named[4] >= '3' && named[4] <= '8') {
    if (named.starts_with("kLFT")) return NamedKey::WordLeft;
    if (named.starts_with("kRIT")) return NamedKey::WordRight;
  }
  return NamedKey::Other;
}

Input readInput(int milliseconds) {
  wtimeout(stdscr, milliseconds);
  wint_t key = 0;
  int status = get_wch(&key);
  Input input;
  if (status == ERR) return input;
  if (status == KEY_CODE_YES && key == KEY_RESIZE) {
    input.kind = Input::Kind::Resize;
    return input;
  }
  input.kind = Input::Kind::Key;
  if (status == KEY_CODE_YES) {
    input.key.named = nameOf(key);
  } else {
    input.key.codePoint = static_cast<char32_t>(key);
  }
  return input;
}

// ---- The alert box -----------------------------------------------------

constexpr int kField = -1;  // focus value while the text field has the keyboard

/// One alert on screen: what it shows, where the keyboard is, the field.
class AlertBox {
 public:
  explicit AlertBox(const Alert& alert) {
    texts_.title = printable(alert.messageText, false);
    texts_.body = printable(alert.informativeText, true);
    std::vector<std::u32string> names;
    for (const std::string& title : alert.buttons) names.push_back(printable(title, false));
    if (names.empty()) names.push_back(U"OK");  // as the platform's alert does
    for (std::size_t i = 0; i < names.size(); ++i) {
      texts_.buttons.push_back((i == 0 ? U"< " : U"[ ") + names[i] + (i == 0 ? U" >" : U" ]"));
    }
    if (alert.field) {
      texts_.hasField = true;
      placeholder_ = printable(alert.field->placeholder, false);
      field_ = TextField(decodeUtf8Lossy(alert.field->text));
    }
    buttonCount_ = static_cast<int>(names.size());
    focus_ = texts_.hasField ? kField : 0;
    // Esc answers with the second button, as on a Mac; a lone button is also the way out.
    const std::u32string& out = names.size() > 1 ? names[1] : names[0];
    const bool canMove = buttonCount_ + (texts_.hasField ? 1 : 0) > 1;
    if (canMove) texts_.hints.push_back(U"Tab move \u00B7 Enter choose \u00B7 Esc " + out);
    if (!canMove) texts_.hints.push_back(U"Enter choose \u00B7 Esc " + out);
    if (canMove) texts_.hints.push_back(U"Tab \u00B7 Enter \u00B7 Esc " + out);
    texts_.hints.push_back(U"Esc " + out);
  }

  /// Reacts to one key; returns the index of the button chosen, if any.
  std::optional<int> press(const Key& key) {
    const int last = buttonCount_ - 1;
    if (key.pasted) {
      // Pasted text only ever goes into a field; it never presses anything.
      if (texts_.hasField) {
        focus_ = kField;
        field_.insert(key.codePoint);
      }
      return std::nullopt;
    }
    switch (key.action) {
      case KeyAction::Enter:
        return focus_ == kField ? 0 : focus_;
      case KeyAction::Escape:
        return buttonCount_ > 1 ? 1 : 0;
      case KeyAction::Tab:
        focus_ = focus_ == last ? (texts_.hasField ? kField : 0) : focus_ + 1;
        return std::nullopt;
      case KeyAction::BackTab:
        focus_ = focus_ == kField ? last : focus_ == 0 ? (texts_.hasField ? kField : last) : focus_ - 1;
        return std::nullopt;
      case KeyAction::Character:
        // Typing while a button has focus goes to the field, a space too
        // ("New", Tab, " York"): with a field, only Enter presses a button.
        if (texts_.hasField) {
          focus_ = kField;
          field_.insert(key.codePoint);
          return std::nullopt;
        }
        if (key.codePoint == U' ') return focus_;
        return std::nullopt;
      default:
        break;
    }
    if (focus_ == kField) {
      edit(key.action);
    } else if (key.action == KeyAction::Left || key.action == KeyAction::Up) {
      focus_ = std::max(focus_ - 1, 0);
    } else if (key.action == KeyAction::Right || key.action == KeyAction::Down) {
      focus_ = std::min(focus_ + 1, last);
    }
    return std::nullopt;
  }

  /// Draws the alert, or the request for a larger terminal; false for the latter.
  bool draw() {
    DialogLayout layout = layOutDialog(texts_, COLS, LINES);
    if (!drawBox(layout)) {
      curs_set(0);
      refresh();
      return false;
    }
    int cursorRow = -1, cursorColumn = -1;
    if (layout.field) drawField(*layout.field, cursorRow, cursorColumn);
    for (std::size_t i = 0; i < layout.buttons.size(); ++i) {
      const PlacedButton& button = layout.buttons[i];
      attr_t attributes =
          (i == 0 ? A_BOLD : A_NORMAL) | (focus_ == static_cast<int>(i) ? A_REVERSE : A_NORMAL);
      put(button.row, button.column, button.label, attributes);
    }
    if (focus_ == kField && cursorRow >= 0) {
      curs_set(1);
      move(cursorRow, cursorColumn);
    } else {
      curs_set(0);
    }
    refresh();
    return true;
  }

  std::string fieldText() const { return encodeUtf8(field_.text()); }

 private:
  void edit(KeyAction action) {
    switch (action) {
      case KeyAction::Backspace:
        field_.backspace();
        break;
      case KeyAction::Delete:
        field_.deleteForward();
        break;
      case KeyAction::Left:
        field_.moveLeft();
        break;
      case KeyAction::Right:
        field_.moveRight();
        break;
      case KeyAction::Home:
        field_.moveToStart();
        break;
      case KeyAction::End:
        field_.moveToEnd();
        break;
      case KeyAction::WordLeft:
        field_.moveWordLeft();
        break;
      case KeyAction::WordRight:
        field_.moveWordRight();
        break;
      case KeyAction::KillToEnd:
        field_.killToEnd();
        break;
      case KeyAction::DeleteWordBackward:
        field_.deleteWordBackward();
        break;
      case KeyAction::ClearField:
        field_.clear();
        break;
      default:
        break;
    }
  }

  void drawField(const PlacedField& place, int& cursorRow, int& cursorColumn) {
    attron(A_UNDERLINE);
    mvhline(place.row, place.column, ' ', place.width);
    attroff(A_UNDERLINE);
    cursorRow = place.row;
    if (field_.text().empty()) {
      // Where dim cannot be shown (vt100) the placeholder must still not
      // look like typed text.
      bool dims = (termattrs() & A_DIM) != 0;
      std::u32string shown = dims ? placeholder_ : U"(" + placeholder_ + U")";
      put(place.row, place.column, shortenToColumns(shown, place.width - 1),
          A_UNDERLINE | (dims ? A_DIM : A_NORMAL));
      cursorColumn = place.column;
      return;
    }
    TextField::View view = field_.view(place.width);
    int column = place.column;
    if (view.hiddenBefore) put(place.row, column++, U"\u2026", A_UNDERLINE | A_BOLD);
    put(place.row, column, std::u32string_view(field_.text()).substr(view.begin, view.end - view.begin),
        A_UNDERLINE);
    if (view.hiddenAfter) put(place.row, place.column + place.width - 1, U"\u2026", A_UNDERLINE | A_BOLD);
    cursorColumn = place.column + std::max(view.cursorColumn, 0);
  }

  DialogTexts texts_;
  std::u32string placeholder_;
  TextField field_;
  int buttonCount_ = 1;  // at least one
  int focus_ = 0;        // kField or a button index
};

class TerminalDialogBackend final : public DialogBackend {
 public:
  ~TerminalDialogBackend() override { endSession(); }

  std::optional<std::string> unavailableReason() override {
    // With the screen up the answer is known, and asking terminfo again
    // would replace the terminal description whose saved modes endwin puts back.
    if (session_) return std::nullopt;
    int fd = ::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return "no terminal to ask on";
    ::close(fd);
    const char* term = std::getenv("TERM");
    if (term == nullptr || *term == '\0') return "no terminal type set (TERM) to ask on";
    // The box needs cursor addressing; "dumb" and unknown types have none.
    char capability[] = "cm";
    if (tgetent(nullptr, term) != 1 || tgetstr(capability, nullptr) == nullptr) {
      return "the terminal type \"" + std::string(term) + "\" cannot show dialogs";
    }
    return std::nullopt;
  }

  AlertResult runModal(const Alert& alert) override {
    AlertResult result;
    if (!open()) return result;
    status_.reset();
    AlertBox box(alert);
    bool shown = box.draw();
    // Keys typed before the alert was on screen must not answer it; flushinp
    // also empties ncurses' own read-ahead, which tcflush would not reach.
    flushinp();
    decoder_.reset();
    auto shownAt = std::chrono::steady_clock::now();
    for (;;) {
      const int wait = decoder_.inPaste()       ? kPasteQuietMilliseconds
                       : decoder_.midSequence() ? kSequenceGapMilliseconds
                                                : kPollMilliseconds;
      Input input = readInput(wait);
      stopIfInterrupted();
      std::optional<Key> key;
      if (input.kind == Input::Kind::Resize) {
        bool wasShown = shown;
        shown = box.draw();
        if (shown && !wasShown) {  // nothing typed at the notice counts
          flushinp();
          decoder_.reset();
          shownAt = std::chrono::steady_clock::now();
        }
        continue;
      }
      if (input.kind == Input::Kind::Nothing) {
        leaveIfTerminalLost();
        if (!decoder_.midSequence()) continue;
        key = decoder_.noMoreInput();
      } else {
        key = decoder_.feed(input.key);
      }
      // While only the notice shows, the alert is not seen: no key answers it.
      if (!key || !shown) continue;
      // Nor in its first moments, except for pasted text, which presses nothing.
      if (!key->pasted && std::chrono::steady_clock::now() - shownAt < kAlertKeyGuard) continue;
      if (std::optional<int> button = box.press(*key)) {
        result.response = kFirstButtonResponse + *button;
        result.fieldText = box.fieldText();
        return result;
      }
      box.draw();
    }
  }

  void showStatus(const std::string& text) override {
    if (!open()) return;
    status_ = printable(text, false);
    drawStatus();
  }

  bool keepWaiting() override {
    stopIfInterrupted();
    if (!session_) return true;
    bool cancelled = false;
    for (;;) {
      Input input = readInput(0);
      stopIfInterrupted();
      std::optional<Key> key;
      if (input.kind == Input::Kind::Resize) {
        drawStatus();
        continue;
      }
      if (input.kind == Input::Kind::Nothing) {
        leaveIfTerminalLost();
        if (!decoder_.midSequence()) break;
        key = decoder_.noMoreInput();
      } else {
        key = decoder_.feed(input.key);
      }
      if (key && key->action == KeyAction::Escape && !key->pasted) cancelled = true;
    }
    return !cancelled;
  }

  void stopIfInterrupted() override {
    if (caughtSignal == 0 || !session_) return;
    const int signal = caughtSignal;
    endSession();
    // The terminal is back to normal here; end the way the signal asked.
    reraise(signal);
  }

  void endSession() override {
    session_.reset();
    status_.reset();
    holdingInterrupt = 0;
    interruptNoted = 0;
  }

  void holdInterrupt(bool hold) override { holdingInterrupt = hold ? 1 : 0; }

  bool interruptWasHeld() override { return interruptNoted != 0; }

 private:
  // A terminal that went away (hung up, closed) is answered as its hangup
  // signal would be, instead of waiting for keys that cannot come.
  void leaveIfTerminalLost() {
    if (!session_ || !session_->terminalLost()) return;
    if (caughtSignal == 0) caughtSignal = SIGHUP;
    stopIfInterrupted();
  }

  bool open() {
    if (session_) return true;
    session_ = std::make_unique<TerminalSession>();
    if (session_->ok()) return true;
    session_.reset();
    return false;
  }

  void drawStatus() {
    if (!status_) return;
    drawBox(layOutStatus(*status_, COLS, LINES));
    curs_set(0);
    refresh();
  }

  std::unique_ptr<TerminalSession> session_;  // the screen, from the first alert to endSession()
  std::optional<std::u32string> status_;      // shown while no alert is
  KeyDecoder decoder_;
};

}  // namespace

DialogBackend& platformDialogBackend() {
  static TerminalDialogBackend backend;
  return backend;
}

std::optional<dev_t> dialogScreenDevice() { return screenDevice; }

}  // namespace zeph
