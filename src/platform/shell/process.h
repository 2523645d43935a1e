// The child-process starter is common/process.h; this name stays for the code
// that still includes it here.
#pragma once

#include "common/process.h"
