// The component's application log: created when the component is loaded,
// destroyed when it is unloaded; null before and after (then nothing is
// logged).
#pragma once

#include "dedazodu/AppLog.h"

extern deDazOdu::CAppLog* g_appLog;
