#pragma once

// A core header that reaches back into the windows and into Qt: the include check must refuse it.
#include "app/main_window.h"

#include <QString>
