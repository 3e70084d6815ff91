// Diagnostic log facility. Every subsystem reports here; the lines are discarded, so a
// call costs only the evaluation of its arguments.
#pragma once

#include <string>

void LogInit(const std::string &DllPath);
void Log(const std::string &Msg);

// printf-style; the arguments are evaluated by the caller and then dropped.
template <typename... Args> inline void LogFmt(const char *Fmt, const Args &...args) {
  (void)Fmt;
  ((void)args, ...);
}
