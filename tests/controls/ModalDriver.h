#pragma once
// Drives modal dialogs from inside their own event loop: a test names the kind of dialog it
// expects next and what to do with it once it shows.
#include <QApplication>
#include <QDialog>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QTimer>
#include <functional>
#include <gtest/gtest.h>

namespace melo::test {

// Runs drive on the next modal window of type T, as soon as it is the active modal widget.
// Gives up (rejecting whatever is modal) after timeoutMs, so a test that waits for a dialog
// that never comes, or forgets to close one, fails instead of hanging.
template <class T> void WhenShown(std::function<void(T*)> drive, int timeoutMs = 10000) {
  auto* timer = new QTimer;
  auto* elapsed = new int(0);
  timer->setInterval(5);
  QObject::connect(timer, &QTimer::timeout, [timer, elapsed, drive, timeoutMs] {
    *elapsed += timer->interval();
    QWidget* modal = QApplication::activeModalWidget();
    if (auto* target = dynamic_cast<T*>(modal)) {
      timer->stop();
      timer->deleteLater();
      delete elapsed;
      drive(target);
      return;
    }
    if (*elapsed >= timeoutMs) {
      timer->stop();
      timer->deleteLater();
      delete elapsed;
      ADD_FAILURE() << "expected dialog did not show";
      while (auto* d = dynamic_cast<QDialog*>(QApplication::activeModalWidget()))
        d->reject();
    }
  });
  timer->start();
}

// The next file dialog gets fileName typed and accepted. selectFile leaves the name field
// alone while that field has the focus, which it may or may not have yet: the name is also
// typed into the field itself.
inline void ChooseFile(const QString& fileName) {
  WhenShown<QFileDialog>([fileName](QFileDialog* dialog) {
    dialog->selectFile(fileName);
    if (auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit")))
      name->setText(fileName);
    static_cast<QDialog*>(dialog)->accept();
  });
}

// The next file dialog is cancelled; its settings are handed to check first.
inline void InspectFileDialog(std::function<void(QFileDialog*)> check) {
  WhenShown<QFileDialog>([check](QFileDialog* dialog) {
    check(dialog);
    dialog->reject();
  });
}

// The next message box is closed; its text is stored in *text.
inline void CloseMessage(QString* text) {
  WhenShown<QMessageBox>([text](QMessageBox* box) {
    if (text != nullptr)
      *text = box->text();
    box->accept();
  });
}

} // namespace melo::test
