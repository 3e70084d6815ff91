#include "base/uLog.h"

void LogInit(const std::string &DllPath) {
  (void)DllPath;
}

void Log(const std::string &Msg) {
  (void)Msg;
}
