// Exceptions that reach a boundary with the system. A window procedure, an event of a
// hosted control or the modal loop's pre-translation must not let one of ours unwind into
// the system's code: each boundary catches it, reports it once and goes on as if the
// message or event had not been handled.
#pragma once

// Where such exceptions are reported (OutputDebugString until one is set).
using EscapedExceptionReporter = void (*)(const char* boundary, const char* what);
void SetEscapedExceptionReporter(EscapedExceptionReporter reporter);

// Reports the exception being handled; call it inside a catch block.
void ReportEscapedException(const char* boundary) noexcept;
