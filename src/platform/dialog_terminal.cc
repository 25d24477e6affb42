// The dialog backend for systems without AppKit: each alert is a modal box
// drawn with ncursesw on the controlling terminal (/dev/tty, so that standard
// output stays free), torn down again before the alert returns.

#include <curses.h>
#include <fcntl.h>
#include <termcap.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <cwctype>
#include <string_view>

#include "base/process_locale.h"
#include "platform/dialog.h"

namespace zeph {

namespace {

constexpr int kHandledSignals[] = {SIGINT, SIGTERM, SIGHUP};
constexpr int kPollMilliseconds = 100;  // how soon a caught signal is noticed
constexpr int kMaxBoxWidth = 72;
constexpr wint_t kCtrlU = 0x15;

// The signal that asked the session to end; 0 while none did.
volatile std::sig_atomic_t caughtSignal = 0;

extern "C" void noteSignal(int signal) { caughtSignal = signal; }

// ---- Text --------------------------------------------------------------

// Decodes UTF-8 into code points; malformed bytes become U+FFFD.
std::wstring widen(std::string_view s) {
  std::wstring out;
  for (std::size_t i = 0; i < s.size();) {
    auto lead = static_cast<unsigned char>(s[i]);
    std::size_t n = lead < 0x80 ? 1 : lead >= 0xF0 && lead <= 0xF4 ? 4 : lead >= 0xE0 && lead <= 0xEF ? 3
                                  : lead >= 0xC2 && lead <= 0xDF ? 2 : 0;
    char32_t c = n == 1 ? lead : n ? lead & (0x7F >> n) : 0;
    bool ok = n != 0 && i + n <= s.size();
    for (std::size_t k = 1; ok && k < n; ++k) {
      auto b = static_cast<unsigned char>(s[i + k]);
      ok = (b & 0xC0) == 0x80;
      c = (c << 6) | (b & 0x3F);
    }
    // Overlong forms, surrogates and values past U+10FFFF are not text.
    static constexpr char32_t kMinimum[] = {0, 0, 0x80, 0x800, 0x10000};
    ok = ok && c >= kMinimum[n] && !(c >= 0xD800 && c <= 0xDFFF) && c <= 0x10FFFF;
    out.push_back(ok ? static_cast<wchar_t>(c) : L'\uFFFD');
    i += ok ? n : 1;
  }
  return out;
}

std::string narrow(const std::wstring& s) {
  std::string out;
  for (wchar_t wc : s) {
    auto c = static_cast<char32_t>(wc);
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

int columnsOf(wchar_t c) {
  int w = ::wcwidth(c);
  return w < 0 ? 1 : w;
}

int columnsOf(std::wstring_view s) {
  int total = 0;
  for (wchar_t c : s) total += columnsOf(c);
  return total;
}

// Control characters would be drawn as ^X and shift the layout.
std::wstring printable(std::wstring s) {
  for (wchar_t& c : s) {
    if (c == L'\t') c = L' ';
    if (c != L'\n' && (c < 0x20 || c == 0x7F)) c = L'\uFFFD';
  }
  return s;
}

// Splits `text` into lines of at most `width` columns: at line feeds, between
// words where possible, inside a word only when it is wider than a line.
std::vector<std::wstring> wrap(const std::wstring& text, int width) {
  std::vector<std::wstring> lines;
  width = std::max(width, 1);
  std::size_t start = 0;
  for (;;) {
    std::size_t end = text.find(L'\n', start);
    std::wstring paragraph = text.substr(start, end == std::wstring::npos ? end : end - start);
    std::wstring line;
    int lineWidth = 0;
    std::size_t i = 0;
    while (i < paragraph.size()) {
      std::size_t wordEnd = paragraph.find(L' ', i);
      if (wordEnd == std::wstring::npos) wordEnd = paragraph.size();
      std::wstring word = paragraph.substr(i, wordEnd - i);
      int wordWidth = columnsOf(word);
      int needed = lineWidth == 0 ? wordWidth : lineWidth + 1 + wordWidth;
      if (needed <= width) {
        if (lineWidth != 0) line += L' ';
        line += word;
        lineWidth = needed;
      } else if (wordWidth <= width) {
        lines.push_back(line);
        line = word;
        lineWidth = wordWidth;
      } else {
        if (lineWidth != 0) {
          lines.push_back(line);
          line.clear();
          lineWidth = 0;
        }
        for (wchar_t c : word) {  // a word wider than the box is cut into pieces
          if (lineWidth + columnsOf(c) > width && lineWidth != 0) {
            lines.push_back(line);
            line.clear();
            lineWidth = 0;
          }
          line += c;
          lineWidth += columnsOf(c);
        }
      }
      i = wordEnd + 1;
    }
    lines.push_back(line);
    if (end == std::wstring::npos) break;
    start = end + 1;
  }
  return lines;
}

// ---- Terminal session --------------------------------------------------

/// Owns the ncurses screen on the controlling terminal for one alert. Puts
/// back the terminal modes and the signal handlers on destruction, however
/// the alert ends.
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
    if (tty_ != nullptr) screen_ = newterm(nullptr, tty_, tty_);
    if (screen_ == nullptr) return;
    cbreak();
    noecho();
    nonl();
    keypad(stdscr, TRUE);
    wtimeout(stdscr, kPollMilliseconds);
  }

  ~TerminalSession() {
    if (screen_ != nullptr) {
      if (!isendwin()) endwin();
      delscreen(screen_);
    }
    if (tty_ != nullptr) std::fclose(tty_);
    for (std::size_t i = 0; i < std::size(kHandledSignals); ++i) {
      ::sigaction(kHandledSignals[i], &previous_[i], nullptr);
    }
  }

  TerminalSession(const TerminalSession&) = delete;
  TerminalSession& operator=(const TerminalSession&) = delete;

  bool ok() const { return screen_ != nullptr; }

 private:
  struct sigaction previous_[std::size(kHandledSignals)] {};  // restored on destruction
  FILE* tty_ = nullptr;       // the controlling terminal, or null
  SCREEN* screen_ = nullptr;  // null when the terminal could not be set up
};

// Ends the process by `signal` as if no handler had been installed.
void reraise(int signal) {
  struct sigaction defaults {};
  defaults.sa_handler = SIG_DFL;
  sigemptyset(&defaults.sa_mask);
  ::sigaction(signal, &defaults, nullptr);
  sigset_t unblock;
  sigemptyset(&unblock);
  sigaddset(&unblock, signal);
  ::sigprocmask(SIG_UNBLOCK, &unblock, nullptr);
  std::raise(signal);
}

// ---- The alert box -----------------------------------------------------

constexpr int kField = -1;  // focus value while the text field has the keyboard

/// One alert on screen: what it shows, where the keyboard is, the field's text.
class AlertBox {
 public:
  explicit AlertBox(const Alert& alert)
      : message_(printable(widen(alert.messageText))), informative_(printable(widen(alert.informativeText))) {
    for (const std::string& title : alert.buttons) buttons_.push_back(printable(widen(title)));
    if (buttons_.empty()) buttons_.push_back(L"OK");  // as the platform's alert does
    if (alert.field) {
      hasField_ = true;
      placeholder_ = printable(widen(alert.field->placeholder));
      text_ = widen(alert.field->text);
      std::erase_if(text_, [](wchar_t c) { return c < 0x20 || c == 0x7F; });
      cursor_ = text_.size();
    }
    focus_ = hasField_ ? kField : 0;
  }

  /// Reacts to one key; returns the index of the button activated, if any.
  std::optional<int> press(int status, wint_t key) {
    const int last = static_cast<int>(buttons_.size()) - 1;
    bool enter = key == L'\n' || key == L'\r' || (status == KEY_CODE_YES && key == KEY_ENTER);
    if (enter) return focus_ == kField ? 0 : focus_;
    if (status == OK && key == L'\t') {
      focus_ = focus_ == last ? (hasField_ ? kField : 0) : focus_ + 1;
      return std::nullopt;
    }
    if (status == KEY_CODE_YES && key == KEY_BTAB) {
      focus_ = focus_ == kField ? last : focus_ == 0 ? (hasField_ ? kField : last) : focus_ - 1;
      return std::nullopt;
    }
    if (focus_ == kField) {
      edit(status, key);
      return std::nullopt;
    }
    if (status == OK && key == L' ') return focus_;
    if (status == KEY_CODE_YES && key == KEY_LEFT) focus_ = std::max(focus_ - 1, 0);
    if (status == KEY_CODE_YES && key == KEY_RIGHT) focus_ = std::min(focus_ + 1, last);
    return std::nullopt;
  }

  void draw() {
    erase();
    const int width = std::min(COLS, kMaxBoxWidth);
    const int inner = std::max(width - 4, 1);
    std::vector<std::wstring> message = wrap(message_, inner);
    std::vector<std::wstring> informative = informative_.empty() ? std::vector<std::wstring>{}
                                                                 : wrap(informative_, inner);
    // Rows: borders, message, blank, informative + blank, field + blank, buttons.
    int fixed = 2 + static_cast<int>(message.size()) + 1 + (informative.empty() ? 0 : 1) +
                (hasField_ ? 2 : 0) + 1;
    int shown = std::clamp(LINES - fixed, 0, static_cast<int>(informative.size()));
    const int height = fixed + shown;
    const int top = std::max((LINES - height) / 2, 0);
    const int left = std::max((COLS - width) / 2, 0);

    frame(top, left, height, width);
    int row = top + 1;
    for (const std::wstring& line : message) put(row++, left + 2, line, inner, A_BOLD);
    ++row;
    for (int i = 0; i < shown; ++i) put(row++, left + 2, informative[i], inner, A_NORMAL);
    if (shown > 0) ++row;
    int cursorRow = -1, cursorColumn = -1;
    if (hasField_) {
      fieldRow(row, left + 2, inner, cursorRow, cursorColumn);
      row += 2;
    }
    buttonRow(row, left + 2, inner);
    if (focus_ == kField && cursorRow >= 0) {
      curs_set(1);
      move(cursorRow, cursorColumn);
    } else {
      curs_set(0);
    }
    refresh();
  }

  std::string fieldText() const { return narrow(text_); }

 private:
  void edit(int status, wint_t key) {
    if (status == OK) {
      if (key == kCtrlU) {
        text_.clear();
        cursor_ = 0;
      } else if (key == 0x7F || key == 0x08) {
        eraseBefore();
      } else if (key >= 0x20 && std::iswprint(key)) {
        text_.insert(cursor_++, 1, static_cast<wchar_t>(key));
      }
      return;
    }
    switch (key) {
      case KEY_BACKSPACE: eraseBefore(); break;
      case KEY_DC: if (cursor_ < text_.size()) text_.erase(cursor_, 1); break;
      case KEY_LEFT: if (cursor_ > 0) --cursor_; break;
      case KEY_RIGHT: if (cursor_ < text_.size()) ++cursor_; break;
      case KEY_HOME: cursor_ = 0; break;
      case KEY_END: cursor_ = text_.size(); break;
      default: break;
    }
  }

  void eraseBefore() {
    if (cursor_ > 0) text_.erase(--cursor_, 1);
  }

  void frame(int top, int left, int height, int width) {
    mvaddch(top, left, ACS_ULCORNER);
    mvhline(top, left + 1, ACS_HLINE, width - 2);
    mvaddch(top, left + width - 1, ACS_URCORNER);
    mvvline(top + 1, left, ACS_VLINE, height - 2);
    mvvline(top + 1, left + width - 1, ACS_VLINE, height - 2);
    mvaddch(top + height - 1, left, ACS_LLCORNER);
    mvhline(top + height - 1, left + 1, ACS_HLINE, width - 2);
    mvaddch(top + height - 1, left + width - 1, ACS_LRCORNER);
  }

  // Draws as much of `s` as fits in `columns`; returns the columns used.
  static int put(int row, int column, std::wstring_view s, int columns, attr_t attributes) {
    int used = 0;
    std::size_t count = 0;
    while (count < s.size() && used + columnsOf(s[count]) <= columns) used += columnsOf(s[count++]);
    attron(attributes);
    mvaddnwstr(row, column, std::wstring(s.substr(0, count)).c_str(), static_cast<int>(count));
    attroff(attributes);
    return used;
  }

  void fieldRow(int row, int column, int width, int& cursorRow, int& cursorColumn) {
    attron(A_UNDERLINE);
    mvhline(row, column, ' ', width);
    attroff(A_UNDERLINE);
    // Scroll sideways so that the cursor stays inside the field.
    scroll_ = std::min(scroll_, cursor_);
    if (text_.empty()) {
      put(row, column, placeholder_, width, A_DIM | A_UNDERLINE);
    } else {
      while (scroll_ < cursor_ &&
             columnsOf(std::wstring_view(text_).substr(scroll_, cursor_ - scroll_)) > width - 1) {
        ++scroll_;
      }
      put(row, column, std::wstring_view(text_).substr(scroll_), width, A_UNDERLINE);
    }
    cursorRow = row;
    cursorColumn = column + columnsOf(std::wstring_view(text_).substr(scroll_, cursor_ - scroll_));
  }

  // Buttons in order, right-aligned; the default one in angle brackets and
  // bold, the focused one in reverse video.
  void buttonRow(int row, int column, int width) {
    std::vector<std::wstring> labels;
    int total = 0;
    for (std::size_t i = 0; i < buttons_.size(); ++i) {
      labels.push_back((i == 0 ? L"< " : L"[ ") + buttons_[i] + (i == 0 ? L" >" : L" ]"));
      total += columnsOf(labels.back()) + (i ? 2 : 0);
    }
    int x = column + std::max(width - total, 0);
    for (std::size_t i = 0; i < labels.size(); ++i) {
      attr_t attributes = (i == 0 ? A_BOLD : A_NORMAL) | (focus_ == static_cast<int>(i) ? A_REVERSE : A_NORMAL);
      int room = column + width - x;
      if (room <= 0) break;
      x += put(row, x, labels[i], room, attributes) + 2;
    }
  }

  std::wstring message_;
  std::wstring informative_;
  std::vector<std::wstring> buttons_;  // never empty
  bool hasField_ = false;
  std::wstring placeholder_;
  std::wstring text_;        // the field's text
  std::size_t cursor_ = 0;   // insertion point in text_, 0 … text_.size()
  std::size_t scroll_ = 0;   // first character of text_ drawn, ≤ cursor_
  int focus_ = 0;            // kField or a button index
};

class TerminalDialogBackend final : public DialogBackend {
 public:
  std::optional<std::string> unavailableReason() override {
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
    int signal = 0;
    {
      TerminalSession session;
      if (!session.ok()) return result;
      AlertBox box(alert);
      box.draw();
      for (;;) {
        wint_t key = 0;
        int status = get_wch(&key);
        if (caughtSignal != 0) {
          signal = caughtSignal;
          break;
        }
        if (status == ERR) continue;
        if (status == KEY_CODE_YES && key == KEY_RESIZE) {
          clear();
        } else if (std::optional<int> button = box.press(status, key)) {
          result.response = kFirstButtonResponse + *button;
          result.fieldText = box.fieldText();
          break;
        }
        box.draw();
      }
    }
    // The terminal is back to normal here; end the way the signal asked.
    if (signal != 0) reraise(signal);
    return result;
  }
};

}  // namespace

DialogBackend& platformDialogBackend() {
  static TerminalDialogBackend backend;
  return backend;
}

}  // namespace zeph
