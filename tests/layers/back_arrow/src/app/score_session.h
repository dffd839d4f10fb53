#pragma once

// The score session that features take instead of the main window.
