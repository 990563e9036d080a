#include "framework/escaped_exception.h"

#include <windows.h>
#include <stdio.h>

#include <atomic>
#include <exception>

namespace {

void ReportToDebugger(const char* boundary, const char* what) {
    char line[256];
    snprintf(line, sizeof line, "exception caught in %s: %s\n", boundary, what);
    OutputDebugStringA(line);
}

std::atomic<EscapedExceptionReporter> g_reporter{ReportToDebugger};

}  // namespace

void SetEscapedExceptionReporter(EscapedExceptionReporter reporter) {
    g_reporter = reporter ? reporter : ReportToDebugger;
}

void ReportEscapedException(const char* boundary) noexcept {
    const char* what = "an exception of unknown type";
    try {
        throw;
    } catch (const std::exception& caught) {
        what = caught.what();
    } catch (...) {
    }
    try {
        g_reporter.load()(boundary, what);
    } catch (...) {
    }
}
