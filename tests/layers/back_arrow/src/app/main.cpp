// The program's main makes the main window: the include check lets it.
#include "app/main_window.h"
