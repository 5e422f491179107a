#pragma once

#include "check/reporttext.h"

namespace devicetools
{

// The reports' escaping, from the check layer (see check/reporttext.h).
using check::csvField;
using check::markupText;
using check::readableText;

} // namespace devicetools
