// The installer's tests share tests/support's environment; this name stays
// for test files written against it.
#pragma once

#include "TestEnv.h"

namespace installertest = testenv;
