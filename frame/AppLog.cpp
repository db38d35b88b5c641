#include "frame/AppLog.h"

deDazOdu::CAppLog* g_appLog = nullptr;
