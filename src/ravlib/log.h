// Process-wide logging of the support library.
//
// Log lines go to one process-wide sink. The system leaves it empty, and then
// LogMessage and LogError return 0 at once: nothing is formatted, no lock is taken,
// no system text is looked up. All threads may log; one process-wide lock serialises
// the formatting and the sink call, so a sink is never entered by two threads at once.
//
// Formats are wide printf formats of the C runtime with the Microsoft conventions:
// %s is a wide string, %hs a narrow one (%ls is wide in every convention).
#pragma once

#include <stdint.h>

namespace ravlib {

// Receives one formatted line (terminated; length in characters, without the
// terminator). Its result is returned by LogMessage / LogError.
typedef int (*LogSink)(int level, const wchar_t* text, int length);

// Levels in use.
enum LogLevel { kLogInfo = 2, kLogError = 3 };

// Installs sink (null removes it) and returns the previous one. When it returns, the
// previous sink is no longer running and will not be entered again.
LogSink SetLogSink(LogSink sink);

// Installs a sink that appends each line, UTF-8, with its local time stamp and level,
// to the file at path (created when missing). Null or empty path removes the file sink
// if it is installed. False when the file cannot be opened (the sink is then
// unchanged). Nothing installs it by default.
bool InstallFileLogSink(const wchar_t* path);

// Formats the line (cut at 1023 characters) and hands it to the sink with level.
// Returns the sink's result, or 0 without a sink.
int LogMessage(int level, const wchar_t* format, ...);

// As LogMessage at level 3, with " <code> " and the system's text for code appended.
int LogError(int code, const wchar_t* format, ...);

// The system's text for an error code, without its trailing line end, spaces and full
// stops. When destination is given and maxChars > 0, copies the text, cut to
// maxChars - 1 characters when it does not fit, and terminates it. *outLength
// (optional) receives the whole text's length before any cutting. An unknown code
// gives an empty text of length 0. Returns destination.
wchar_t* FormatSystemError(int code, wchar_t* destination, int maxChars, int* outLength);

// Removes trailing line ends, spaces, tabs, full stops and ideographic full stops
// from text[0 .. length) and returns the new length (the text is not re-terminated).
int TrimSystemText(const wchar_t* text, int length);

}  // namespace ravlib
