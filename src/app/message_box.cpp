#include "app/message_box.h"

#include <QMessageBox>

namespace nagisora {

void ShowFailureBox(QWidget* parent, const Failure& failure) {
    QMessageBox::critical(parent, QString::fromUtf16(ApplicationTitle),
                          QString::fromStdString(FailureText(failure)));
}

} // namespace nagisora
