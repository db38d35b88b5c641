// The parser library's own translation unit: its exports live here.
#include "VskMpegParser.h"
