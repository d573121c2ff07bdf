#include "platform/qt_ui.h"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QStringList>
#include <QThread>
#include <type_traits>

#include "platform/processing_state.h"

namespace mr4 {
namespace {

QString ToQString(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

std::filesystem::path ToPath(const QString& path) {
  return std::filesystem::path(path.toStdString());
}

// The owner of a dialog: the modal window in front, else the active one.
QWidget* DialogOwner() {
  if (QWidget* modal = QApplication::activeModalWidget()) return modal;
  return QApplication::activeWindow();
}

QMessageBox::Icon ToQtIcon(MessageIcon icon) {
  switch (icon) {
    case MessageIcon::kInformation: return QMessageBox::Information;
    case MessageIcon::kWarning: return QMessageBox::Warning;
    case MessageIcon::kError: return QMessageBox::Critical;
    case MessageIcon::kNone: break;
  }
  return QMessageBox::NoIcon;
}

QMessageBox::StandardButton Ask(std::string_view caption, std::string_view text,
                                QMessageBox::StandardButtons buttons,
                                QMessageBox::StandardButton default_button) {
  QMessageBox box(QMessageBox::Question, ToQString(caption), ToQString(text),
                  buttons, DialogOwner());
  box.setDefaultButton(default_button);
  return static_cast<QMessageBox::StandardButton>(box.exec());
}

std::optional<std::filesystem::path> Chosen(const QString& path) {
  if (path.isEmpty()) return std::nullopt;
  return ToPath(path);
}

}  // namespace

QString QtNameFilter(const std::string& filter) {
  const QStringList parts = ToQString(filter).split('|');
  QStringList filters;
  for (qsizetype i = 0; i < parts.size(); i += 2) {
    QString description = parts[i].trimmed();
    const QString pattern = i + 1 < parts.size() ? parts[i + 1].trimmed() : "";
    if (description.isEmpty() && pattern.isEmpty()) continue;
    if (!pattern.isEmpty() && !description.contains('(')) {
      QString patterns = pattern;
      patterns.replace(';', ' ');
      description += " (" + patterns + ")";
    }
    filters << description;
  }
  return filters.join(";;");
}

void QtUi::Message(std::string_view caption, std::string_view text,
                   MessageIcon icon) {
  QMessageBox box(ToQtIcon(icon), ToQString(caption), ToQString(text),
                  QMessageBox::Ok, DialogOwner());
  box.exec();
}

bool QtUi::AskOkCancel(std::string_view caption, std::string_view text) {
  return Ask(caption, text, QMessageBox::Ok | QMessageBox::Cancel,
             QMessageBox::Ok) == QMessageBox::Ok;
}

bool QtUi::AskYesNo(std::string_view caption, std::string_view text) {
  return Ask(caption, text, QMessageBox::Yes | QMessageBox::No,
             QMessageBox::Yes) == QMessageBox::Yes;
}

std::optional<std::filesystem::path> QtUi::OpenFile(const FileDialogRequest& request) {
  return Chosen(QFileDialog::getOpenFileName(
      DialogOwner(), ToQString(request.title),
      QString::fromStdString(request.proposed.string()),
      QtNameFilter(request.filter)));
}

std::optional<std::filesystem::path> QtUi::SaveFile(const FileDialogRequest& request) {
  return Chosen(QFileDialog::getSaveFileName(
      DialogOwner(), ToQString(request.title),
      QString::fromStdString(request.proposed.string()),
      QtNameFilter(request.filter)));
}

std::optional<std::filesystem::path> QtUi::ChooseFolder(
    const FileDialogRequest& request) {
  return Chosen(QFileDialog::getExistingDirectory(
      DialogOwner(), ToQString(request.title),
      QString::fromStdString(request.proposed.string())));
}

void QtUi::Status(std::string_view text) { Processing().SetStatus(text); }

void QtUi::SetWaitCursor(bool on) {
  if (on) {
    QApplication::setOverrideCursor(Qt::WaitCursor);
  } else if (QApplication::overrideCursor()) {
    QApplication::restoreOverrideCursor();
  }
}

KeyState QtUi::Keys() {
  const Qt::KeyboardModifiers held = QGuiApplication::queryKeyboardModifiers();
  return KeyState{held.testFlag(Qt::ControlModifier), held.testFlag(Qt::AltModifier),
                  held.testFlag(Qt::ShiftModifier)};
}

void QtUi::Beep() { QApplication::beep(); }

template <typename F>
auto MainThreadUi::OnUiThread(F call) -> decltype(call()) {
  using Result = decltype(call());
  if (QThread::currentThread() == context_.thread()) return call();
  std::lock_guard<std::mutex> lock(worker_calls_);
  if constexpr (std::is_void_v<Result>) {
    QMetaObject::invokeMethod(&context_, call, Qt::BlockingQueuedConnection);
  } else {
    Result result{};
    QMetaObject::invokeMethod(&context_, call, Qt::BlockingQueuedConnection,
                              &result);
    return result;
  }
}

void MainThreadUi::Message(std::string_view caption, std::string_view text,
                           MessageIcon icon) {
  OnUiThread([&] { inner_.Message(caption, text, icon); });
}

bool MainThreadUi::AskOkCancel(std::string_view caption, std::string_view text) {
  return OnUiThread([&] { return inner_.AskOkCancel(caption, text); });
}

bool MainThreadUi::AskYesNo(std::string_view caption, std::string_view text) {
  return OnUiThread([&] { return inner_.AskYesNo(caption, text); });
}

std::optional<std::filesystem::path> MainThreadUi::OpenFile(
    const FileDialogRequest& request) {
  return OnUiThread([&] { return inner_.OpenFile(request); });
}

std::optional<std::filesystem::path> MainThreadUi::SaveFile(
    const FileDialogRequest& request) {
  return OnUiThread([&] { return inner_.SaveFile(request); });
}

std::optional<std::filesystem::path> MainThreadUi::ChooseFolder(
    const FileDialogRequest& request) {
  return OnUiThread([&] { return inner_.ChooseFolder(request); });
}

void MainThreadUi::SetWaitCursor(bool on) {
  OnUiThread([&] { inner_.SetWaitCursor(on); });
}

KeyState MainThreadUi::Keys() {
  return OnUiThread([&] { return inner_.Keys(); });
}

void MainThreadUi::Beep() {
  OnUiThread([&] { inner_.Beep(); });
}

}  // namespace mr4
