// Printing (no members are used by this layer).
#pragma once

#include "include/cef_base.h"

class CefPrintHandler : public virtual CefBase {
};
