#ifndef NVLOG_H
#define NVLOG_H

// The system log and NSLog. Every line also goes to a sink when one is set, so tests read
// the lines instead of assuming them; with NV_LOG_STDERR=1 in the environment syslog lines
// are copied to standard error too (for checking a child process's lines).

#include <syslog.h>

// syslog(3) at the given priority (LOG_WARNING, …), formatted like printf.
void NVSysLog(int priority, const char* format, ...) __attribute__((format(printf, 2, 3)));

// A dated line "YYYY-MM-DD hh:mm:ss.mmm program[pid] text" on standard error, and the text
// on the system log at LOG_NOTICE. A trailing newline of the text is not doubled.
void NSLog(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Receives every line written above: the priority and the text as formatted (for NSLog the
// text without its date prefix). Pass null to remove the sink. Not for use across threads
// while lines are being written.
using NVLogSink = void (*)(int priority, const char* text, void* context);
void NVLogSetSink(NVLogSink sink, void* context);

#endif
