// The stream between a program and its desktop renderer (kolmui), one
// record per line. A record is a list of fields separated by tabs; inside
// a field a backslash, tab, newline and carriage return are written as
// \\, \t, \n and \r, so any text (captions, edit contents) passes whole.
//
// Program to renderer:
//   win HWND KIND X Y W H TOPMOST ENABLED CAPTION
//           starts the picture of a shown top-level window; KIND is
//           "dialog" or "window"; X Y W H is its client area on the screen
//   ctl HWND ID CLASS STYLE EXSTYLE X Y W H FOCUSED TEXT [STATE...]
//           one control, in tab order, at its place in the client area;
//           BUTTON adds CHECK PUSHED, EDIT adds SELSTART SELEND (bytes of
//           TEXT), LISTBOX adds TOP CARET COUNT and is followed by COUNT
//   item SELECTED TEXT
//           records
//   end HWND
//           the picture is complete: the renderer shows it as it is
//   hide HWND
//           the window was hidden or destroyed
//   msgbox ID TYPE CAPTION TEXT BUTTONS DEFAULT
//           a message box; BUTTONS are answer numbers joined with ','
//
// Renderer to program:
//   ready                       the display is open
//   press HWND X Y SHIFT CTRL   the left button went down on a window, at
//   release HWND X Y            a point of its client area; up again
//   lbclick HWND INDEX SHIFT CTRL DOUBLE
//                               the user clicked item INDEX of a list box
//   key HWND VK SHIFT           a key without a character of its own
//                               (Windows virtual-key code) was pressed in
//                               the top-level window HWND
//   char HWND BYTE              a character was typed there
//   close HWND                  the window manager's close button
//   answer ID BUTTON            the user closed message box ID with BUTTON
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kolm::platform::wire {

using Record = std::vector<std::string>;

// The record as one line, newline included.
std::string encode(const Record& fields);
// A line without its newline, back into fields.
Record decode(std::string_view line);

// Collects bytes read from the stream and hands out whole lines. A line
// longer than `limit` bytes means the other side is not speaking this
// protocol: overflowed() turns true and no more lines come.
class LineBuffer {
public:
    explicit LineBuffer(size_t limit = 4 * 1024 * 1024) : m_limit(limit) { }
    void feed(const char* data, size_t size);
    std::optional<std::string> next();
    bool overflowed() const { return m_overflowed; }

private:
    std::string m_data;
    size_t m_scanned = 0; // bytes of m_data known to hold no newline
    size_t m_limit;
    bool m_overflowed = false;
};

// Whole-number fields; nullopt for anything else, so that a malformed
// record is dropped rather than read as zeros.
std::optional<long long> number(const std::string& field);

} // namespace kolm::platform::wire
