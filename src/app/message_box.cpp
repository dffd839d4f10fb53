#include "message_box.h"

#include <QMessageBox>

namespace nagisora {

QString FailureText(const Failure& failure) {
    return QString::fromStdString(failure.Message()) + u'.';
}

void ShowFailureBox(QWidget* parent, const Failure& failure) {
    QMessageBox::critical(parent, QString::fromUtf16(ApplicationTitle), FailureText(failure));
}

} // namespace nagisora
