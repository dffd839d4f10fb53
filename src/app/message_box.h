#pragma once

// The application's error reporter: every failure of a handler ends up in one message box.

#include "core/failure.h"

#include <QString>
#include <functional>

class QWidget;

namespace nagisora {

// The application's title, shown on its message boxes.
inline constexpr char16_t ApplicationTitle[] = u"ナギソラ";

// Receives every failure that ends a handler; the window shows it, the tests record it.
using ErrorReporter = std::function<void(const Failure&)>;

// A modal message box with the error icon, titled with the application's title, showing FailureText.
void ShowFailureBox(QWidget* parent, const Failure& failure);

} // namespace nagisora
