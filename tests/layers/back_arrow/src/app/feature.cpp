// A feature that reaches for the main window instead of the score session: the include check must refuse it.
#include "app/main_window.h"
